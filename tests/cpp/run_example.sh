#!/bin/sh
# Runs the C++ example against one simulated unit (inside the test's network
# namespace) and prints what it printed.
#
#   run_example.sh WEXO_SIM EXAMPLE
set -eu
sim=$1
example=$2
dir=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
mkfifo "$dir/out"
"$sim" --unit ip=10.200.0.2,model=4,module=on,in=0x2 --control 0 >"$dir/out" &
pid=$!
# The simulator says "ready" once every socket listens; fd 3 stays open so
# that its later lines never meet a closed pipe.
exec 3<"$dir/out"
while read -r line <&3; do
  [ "$line" = ready ] && break
done
"$example" 300
