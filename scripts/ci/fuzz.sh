#!/bin/sh
# CI stage: builds the fuzz targets and runs each for a few seconds over its
# seed corpus and beyond, so that a decoder change that crashes on the seeds
# or on inputs near them fails the run.
#
#   scripts/ci/fuzz.sh [--build-only | --no-build | --tree DIR]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
echo "== fuzz targets, 3 s each"
"$top/scripts/fuzz.sh" "$@" 3
