#!/bin/sh
# Runs the C examples against a simulated unit, as a user would run them,
# and checks what they print. Needs a private network namespace
# (tests/support/netns-run.sh): the search broadcasts.
#
#   run.sh WEXO_SIM READ_INPUTS DIRECT_COMMAND
set -eu
sim=$1
read_inputs=$2
direct_command=$3
scratch=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    echo quit >&3 || true
    wait "$sim_pid" || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "examples: $*" >&2
  exit 1
}

# The simulator reads its commands from one pipe and answers on another; its
# "ready" line says every socket listens.
mkfifo "$scratch/commands" "$scratch/answers"
"$sim" --unit ip=10.200.0.2,model=17,id=3,module=on,in=0x5 \
  <"$scratch/commands" >"$scratch/answers" &
sim_pid=$!
exec 3>"$scratch/commands" 4<"$scratch/answers"
ready=
while read -r line <&4; do
  [ "$line" = ready ] && ready=1 && break
done
[ -n "$ready" ] || fail "wexo-sim did not start"

# Asks the simulator and returns its one-line answer.
control() {
  echo "$1" >&3
  read -r answer <&4
  case $answer in ok*) ;; *) fail "simulator: '$1' answered '$answer'" ;; esac
}

expect() {
  want=$1
  shift
  got=$("$@" 2>&1) || fail "$(basename "$1") failed: $got"
  [ "$got" = "$want" ] || fail "$(basename "$1") printed '$got', want '$want'"
}

expect "unit 0: board ID 3, model 17, inputs 0x05" "$read_inputs" 300
control "input 0 1 1"
expect "unit 0: board ID 3, model 17, inputs 0x07" "$read_inputs" 300
# An ASCII board answers "DI" with "di", a byte per group of four inputs
# (value + 0x20) and the terminator.
expect "sent DI C8, received 4 bytes: 64 69 27 C8" "$direct_command" 10.200.0.2 10003 DI
echo "examples ok"
