#!/bin/sh
# Builds the thread tests (label threads) and the tests labelled tsan with
# ThreadSanitizer in build-tsan/ and runs them: any data race outside the
# suppressions of tests/threads/tsan.supp fails the stage.
#
#   scripts/ci/tsan.sh [build|run]   (as root: the tests run in private network
#                                    namespaces; default: build, then run)
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
dir=$top/build-tsan
labels='threads|tsan'
jobs=$(nproc 2>/dev/null || echo 2)
step=${1:-all}

if [ "$step" = run ]; then
  exec ctest --test-dir "$dir" --output-on-failure --no-label-summary -j"$jobs" -L "$labels"
fi
echo "== build and run the thread tests under ThreadSanitizer (Debug, build-tsan/)"
mkdir -p "$dir"
launcher=""
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER"
  launcher="$launcher -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$CMAKE_CXX_COMPILER_LAUNCHER}"
fi
# Only the test programs that hold such tests are built: the library, the
# simulator and those programs, not the tools.
# shellcheck disable=SC2086 # one word per argument
if ! cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DWEXO_TSAN=ON $launcher \
     -DWEXO_BUILD_TESTS=ON -DWEXO_BUILD_TOOLS=OFF -DWEXO_WERROR=ON >"$dir/build.log" 2>&1; then
  cat "$dir/build.log"
  exit 1
fi
targets=$(ctest --test-dir "$dir" -L "$labels" --show-only=json-v1 |
  grep -o '"/[^"]*/tests/test_[a-z_]*"' | sed 's|.*/||; s|"||' | sort -u)
if [ -z "$targets" ]; then
  echo "tsan.sh: no tests labelled $labels" >&2
  exit 1
fi
# shellcheck disable=SC2086 # one target per word
if ! nice -n 10 cmake --build "$dir" -j"$jobs" --target $targets >>"$dir/build.log" 2>&1; then
  cat "$dir/build.log"
  echo "tsan.sh: build in $dir failed" >&2
  exit 1
fi
[ "$step" = build ] && exit 0
ctest --test-dir "$dir" --output-on-failure --no-label-summary -j"$jobs" -L "$labels"
