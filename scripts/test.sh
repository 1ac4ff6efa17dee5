#!/bin/sh
# Builds everything and runs every test: once as a normal build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what it needs.
# Needs root (tests run in private network namespaces).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh"
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  dir=$1; shift
  cmake -S "$top" -B "$dir" -DWEXO_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

echo "== build and test"
run_suite "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== build and test under ASan and UBSan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$top/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DWEXO_SANITIZE=ON
