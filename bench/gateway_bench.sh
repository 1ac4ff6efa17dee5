#!/bin/sh
# wexo-gateway with 255 simulated units and a mosquitto, inside a private
# network namespace (run as root): change-to-publish and command latencies,
# the gateway's CPU, tags and messages per second.
#
#   bench/gateway_bench.sh [BUILD_DIR [UNITS [SECONDS]]]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-release}
[ -x "$build/gateway/wexo-gateway" ] || { echo "gateway_bench: build wexo-gateway in $build first" >&2; exit 1; }
PATH=/usr/sbin:$PATH exec "$top/tests/support/netns-run.sh" python3 "$top/bench/gateway_bench.py" \
  "$build/gateway/wexo-gateway" "$build/sim/wexo-sim" "${2:-255}" "${3:-20}"
