#!/bin/bash
# Runs the wexo tool and the C examples under valgrind's memcheck against
# simulated units: any invalid access, use of uninitialised memory or leaked
# block fails the stage.
#
#   scripts/ci/valgrind.sh     (as root; needs valgrind and build-release/)
#
# Uses the programs of build-release/ (or $WEXO_BUILD_DIR), as scripts/test.sh
# builds them, and re-runs itself inside a private network namespace.
# shellcheck disable=SC1010 # "do" is a wexo command below, not the keyword
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/scripts/sim-ready.sh"
build=${WEXO_BUILD_DIR:-$top/build-release}

if [ "${WEXO_VALGRIND_INSIDE:-}" != 1 ]; then
  echo "== wexo and the examples under valgrind memcheck ($build/)"
  for program in tools/wexo sim/wexo-sim examples/example_read_inputs examples/example_direct_command; do
    if [ ! -x "$build/$program" ]; then
      echo "valgrind.sh: $build/$program is missing (build it first)" >&2
      exit 1
    fi
  done
  export WEXO_VALGRIND_INSIDE=1
  unset WEXO_IN_NETNS
  exec "$top/tests/support/netns-run.sh" bash "$0" "$@"
fi

sim_out=$(mktemp)
sim_pid=""
work=$(mktemp -d)
stop_sim() {
  exec 3>&-
  stop_pid "$sim_pid"
  rm -rf "$sim_out" "$work"
}
trap stop_sim EXIT

# One unit per area: binary digital I/O, ASCII digital I/O with pulse
# counting and EEPROM, analog inputs, analog outputs, and a board reached on
# its data port only.
"$build/sim/wexo-sim" --control 0 \
  --unit ip=10.200.0.2,model=17,id=3,module=on,in=0x5 \
  --unit ip=10.200.0.3,model=4,id=1,module=on,in=0x2 \
  --unit ip=10.200.0.4,model=42,id=5,module=on \
  --unit ip=10.200.0.5,model=41,id=4,module=on \
  --unit ip=10.200.0.6,model=2,id=2,port=10010,in=0x41 \
  </dev/null >"$sim_out" 2>&1 &
sim_pid=$!
wait_sim_ready valgrind.sh "$sim_pid" "$sim_out"
exec 3<>"/dev/tcp/127.0.0.1/$control_port"

control() {
  local reply=""
  printf '%s\n' "$*" >&3
  IFS= read -r -t 5 reply <&3 || reply="no answer"
  case "$reply" in ok*) ;; *) echo "valgrind.sh: simulator answered '$reply' to '$*'" >&2; exit 1 ;; esac
}

runs=0
# Runs one program under memcheck: it must end with status $1 and print
# something matching $2 (standard output and error together). Memcheck's own
# failures end with status 99.
check() {
  local status=$1 expect=$2 out got=0
  shift 2
  runs=$((runs + 1))
  out=$(valgrind -q --error-exitcode=99 --leak-check=full \
          --errors-for-leak-kinds=definite,indirect "$@" 2>&1) || got=$?
  [ -n "${WEXO_VALGRIND_VERBOSE:-}" ] && printf '%s\n%s\n' "$*" "$out"
  if [ "$got" -ne "$status" ] || ! printf '%s\n' "$out" | grep -q -- "$expect"; then
    echo "valgrind.sh: '$*' ended with $got (expected $status) or did not print '$expect':" >&2
    echo "$out" >&2
    exit 1
  fi
}

wexo="$build/tools/wexo"
check 0 '^3  10.200.0.5' "$wexo" --timeout 300 search
check 0 '"model":17' "$wexo" --json info 10.200.0.2
check 0 '^0  10.200.0.2 .* 3   17 ' "$wexo" --timeout 300 search --identify
check 0 'mask 0x15' "$wexo" do 10.200.0.3 --all 0x15
check 0 'mask 0x02' "$wexo" di 10.200.0.3
check 0 'mask    0x03' "$wexo" --timeout 200 autoswitch 10.200.0.2 --mask 0x3 --time 1500 --active on
check 0 'CP1 0  CP2 0  CP3 0' "$wexo" cp 10.200.0.3
control pulse 0 1 7
check 0 'DI1  7' "$wexo" --timeout 200 pulse 10.200.0.2 count 1
check 0 'read back and verified' "$wexo" --timeout 200 eeprom 10.200.0.2 write 0x100 57:45:58:4f
check 0 'notice-time  *0' "$wexo" --timeout 200 settings 10.200.0.2
control ai 2 1 -1000
check 0 'AI1  *2  *10  *-1000' "$wexo" --timeout 200 ai 10.200.0.4 1 --range 2
check 0 'AI0  *1  ' "$wexo" --timeout 200 tc 10.200.0.4 0 --type 1
check 0 'AI2  *on  *100  *200' "$wexo" --timeout 200 threshold 10.200.0.4 2 --enable on --t1 100 --t2 200
check 0 'AO0  *voltage  *2.5001 V  *8192' "$wexo" --timeout 200 ao 10.200.0.5 0 2.5
check 0 'model  *2$' "$wexo" --timeout 200 --host 10.200.0.6 --data-port 10010 info
check 0 'CP1 0, CP2 2, CP3 1' "$wexo" --timeout 200 net 10.200.0.2
# Failure paths: a refused value, a reply that never comes, a unit that is not there.
check 1 "nothing was set" "$wexo" do 10.200.0.2 --all 0x1ff
control fault 0 data silence match=4449
check 1 "error 100" "$wexo" --timeout 200 di 10.200.0.2
check 3 "error 4:" "$wexo" --timeout 200 info 10.200.0.30
check 0 'inputs 0x05' "$build/examples/example_read_inputs" 300
check 0 'received 5 bytes: 64 69 21 24 C8' "$build/examples/example_direct_command" 10.200.0.6 10010 DI
echo "valgrind.sh: $runs runs clean"
