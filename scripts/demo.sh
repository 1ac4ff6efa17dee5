#!/bin/sh
# The main job: several simulated WEXO units in a private network namespace,
# found, inspected and driven with the wexo tool.
#
#   sudo scripts/demo.sh
#
# Installs missing packages, builds wexo and wexo-sim (in build/, or in
# $WEXO_BUILD_DIR) and re-runs itself inside a namespace of its own, so the
# broadcasts and the units' fixed ports never touch a real network.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${WEXO_BUILD_DIR:-$top/build}

if [ "${WEXO_DEMO_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "demo: run as root (private network namespaces need it)" >&2
    exit 1
  fi
  "$top/scripts/setup-deps.sh"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  jobs=$(nproc 2>/dev/null || echo 2)
  [ "$jobs" -gt 2 ] && jobs=2
  cmake --build "$build" -j"$jobs" --target wexo-cli wexo-sim
  export WEXO_DEMO_INSIDE=1
  # A fresh namespace even when this shell already runs in one.
  unset WEXO_IN_NETNS
  exec "$top/tests/support/netns-run.sh" "$0" "$@"
fi

# ---------------------------------------------------------------- inside the namespace
wexo="$build/tools/wexo"
sim_out=$(mktemp)
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
  rm -f "$sim_out"
}
trap stop_sim EXIT INT TERM

# Five units of different models. Units on data port 10003 are identified
# during the search; the one on 10010 only when asked.
#   10.200.0.2  model 17  ASCII board, 4 outputs, 4 inputs, auto switching
#   10.200.0.3  model 3   binary board, 5 outputs
#   10.200.0.4  model 21  ASCII board, 8 inputs
#   10.200.0.5  model 40  analog board, data port 10010
#   10.200.0.6  model 5   binary board, 5 inputs
# With --control the simulator takes no commands from standard input and
# runs until it is stopped by its pid.
"$build/sim/wexo-sim" --control 0 \
  --unit ip=10.200.0.2,model=17,id=3,module=on,in=0x5 \
  --unit ip=10.200.0.3,model=3,id=1,module=on \
  --unit ip=10.200.0.4,model=21,id=2,module=on,in=0x81 \
  --unit ip=10.200.0.5,model=40,id=5,module=on,port=10010 \
  --unit ip=10.200.0.6,model=5,id=7,module=on,in=0x0b \
  </dev/null >"$sim_out" 2>&1 &
sim_pid=$!

# Wait for the simulator's "ready" line, at most 10 s.
tries=0
until grep -qx ready "$sim_out"; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: the simulator did not get ready:" >&2
    cat "$sim_out" >&2
    exit 1
  fi
  sleep 0.1
done
echo "== simulator (pid $sim_pid)"
grep '^unit ' "$sim_out"

run() {
  echo
  echo "\$ wexo $*"
  "$wexo" "$@"
}

run search
run --json search
run info '#0'
run info 10.200.0.5 --identify
run --json info 00:20:4a:00:00:06
run di '#0'
run di id=7,model=5 3
run do 10.200.0.2 1 on
run do 10.200.0.2 --all 0x9
run do 10.200.0.2
run do id=1,model=3 --all 0b10101
run --json do id=1,model=3
run di 10.200.0.4 --watch --interval 100 --count 3
run autoswitch 10.200.0.2 --mask 0x3 --time 1500 --active on
run cp 10.200.0.3
echo
echo "\$ wexo di '#1'    (a board without inputs: the library refuses)"
status=0
"$wexo" di '#1' 2>&1 || status=$?
echo "exit status $status"

stop_sim
echo
echo "== done"
