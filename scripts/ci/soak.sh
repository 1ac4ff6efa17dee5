#!/bin/sh
# A short soak run (scripts/soak.sh): 12 simulated units driven from 8 threads
# for 8 s under injected faults and restarts, with the programs of
# build-release/. Fails on a wrong value or a leaked descriptor.
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
echo "== short soak: 12 units, 8 threads, 8 s, 5 faults/s, 1 restart/s (build-release/)"
exec "$top/scripts/soak.sh" 8 12 8 5 1
