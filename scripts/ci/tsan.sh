#!/bin/sh
# Builds the thread tests (label threads) and the tests labelled tsan with
# ThreadSanitizer in build-tsan/ and runs them: any data race outside the
# suppressions of tests/threads/tsan.supp fails the stage.
#
#   scripts/ci/tsan.sh     (as root: the tests run in private network namespaces)
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
dir=$top/build-tsan
labels='threads|tsan'
jobs=$(nproc 2>/dev/null || echo 2)

echo "== build and run the thread tests under ThreadSanitizer (Debug, build-tsan/)"
mkdir -p "$dir"
# Only the test programs that hold such tests are built: the library, the
# simulator and those programs, not the tools.
if ! cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DWEXO_TSAN=ON \
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
if ! cmake --build "$dir" -j"$jobs" --target $targets >>"$dir/build.log" 2>&1; then
  cat "$dir/build.log"
  echo "tsan.sh: build in $dir failed" >&2
  exit 1
fi
ctest --test-dir "$dir" --output-on-failure --no-label-summary -j"$jobs" -L "$labels"
