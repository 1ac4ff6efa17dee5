#!/bin/bash
# Soak run: up to 255 simulated units in a private network namespace, driven
# for a given time from several threads with wexo-soak while the simulator
# injects faults and restarts units; reports calls, failures by code,
# descriptors and memory, and fails on a wrong value or a leaked descriptor.
#
#   scripts/soak.sh [SECONDS [UNITS [THREADS [FAULTS/S [RESTARTS/S]]]]]
#                                    (as root; defaults 60 255 8 2 0.2)
#
# Uses wexo-sim and wexo-soak of build-release/ (or $WEXO_BUILD_DIR), built
# with the tests. The units sit on 10.201.1.1 and up, in a /16 on one
# interface; even units are model 17 (digital I/O, EEPROM), odd ones model 42
# (digital I/O, analog inputs).
#
# Keep the fault rate modest: a fault that keeps a reply from coming costs its
# call up to eleven receive time-outs (1.65 s at the driver's 150 ms), and a
# reconnect holds the library mutex for at least 100 ms, so some 20 faults a
# second keep 8 threads waiting most of the time.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/sim-ready.sh"
build=${WEXO_BUILD_DIR:-$top/build-release}
seconds=${1:-60}
units=${2:-255}
threads=${3:-8}
faults=${4:-2}
restarts=${5:-0.2}

if [ "$units" -lt 1 ] || [ "$units" -gt 255 ]; then
  echo "soak.sh: 1 to 255 units" >&2
  exit 2
fi
if [ "${WEXO_SOAK_INSIDE:-}" != 1 ]; then
  for program in sim/wexo-sim wexo-soak; do
    if [ ! -x "$build/$program" ]; then
      echo "soak.sh: $build/$program is missing (build the tests first)" >&2
      exit 1
    fi
  done
  export WEXO_SOAK_INSIDE=1
  exec unshare -n "$0" "$@"
fi

# ---------------------------------------------------------------- inside the namespace
ip link set lo up
ip link add wxh type veth peer name wxu
{
  echo "addr add 10.201.0.1/16 dev wxh"
  n=1
  while [ $n -le "$units" ]; do
    echo "addr add 10.201.1.$n/16 dev wxh"
    n=$((n + 1))
  done
} | ip -batch -
ip link set wxh up
ip link set wxu up

args=()
n=0
while [ $n -lt "$units" ]; do
  if [ $((n % 2)) -eq 0 ]; then
    args+=(--unit "ip=10.201.1.$((n + 1)),model=17,id=$((n % 16)),in=$((n % 16))")
  else
    args+=(--unit "ip=10.201.1.$((n + 1)),model=42,id=$((n % 16)),in=$((n % 8))")
  fi
  n=$((n + 1))
done

sim_out=$(mktemp)
sim_pid=""
stop_sim() {
  stop_pid "$sim_pid"
  rm -f "$sim_out"
}
trap stop_sim EXIT
"$build/sim/wexo-sim" --control 0 "${args[@]}" </dev/null >"$sim_out" 2>&1 &
sim_pid=$!
wait_sim_ready soak.sh "$sim_pid" "$sim_out"
"$build/wexo-soak" "$control_port" "$seconds" "$threads" "$faults" "$restarts"
