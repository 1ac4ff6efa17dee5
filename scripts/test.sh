#!/bin/sh
# Builds everything with warnings as errors and runs the tests: all of them
# in Release (with the benchmarks built) and in Debug under AddressSanitizer
# and UndefinedBehaviorSanitizer; with clang, everything is built and the
# quick suites run (the long network, CLI, fault and binding suites, which the
# other two runs cover for the same code, are left out there). Then builds
# the library as a user would where GoogleTest is missing, and runs the
# stages of scripts/ci/: packages, Python bindings, valgrind,
# ThreadSanitizer, a short soak and the fuzz targets. Installs what it needs.
# Needs root (tests run in private network namespaces).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh"
jobs=$(nproc 2>/dev/null || echo 2)

# Configures and builds in directory $1 with the remaining cmake arguments.
# The build's output is kept in $1/build.log and shown only when it fails.
build() {
  dir=$1; shift
  mkdir -p "$dir"
  if ! { cmake -S "$top" -B "$dir" "$@" && cmake --build "$dir" -j"$jobs"; } \
       >"$dir/build.log" 2>&1; then
    cat "$dir/build.log"
    echo "test.sh: build in $dir failed" >&2
    exit 1
  fi
}

# Builds directory $1 with tests and warnings as errors, and runs the tests
# (ctest arguments after --).
run_suite() {
  dir=$1; shift
  args=""
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do args="$args $1"; shift; done
  [ $# -gt 0 ] && shift
  # shellcheck disable=SC2086
  build "$dir" -DWEXO_BUILD_TESTS=ON -DWEXO_WERROR=ON $args
  # The suites mostly wait on simulated units, in namespaces of their own:
  # twice as many run at once as there are CPUs.
  ctest --test-dir "$dir" --output-on-failure --no-label-summary -j"$((jobs * 2))" "$@"
}

echo "== build and test, benchmarks built (Release, build-release/)"
run_suite "$top/build-release" -DCMAKE_BUILD_TYPE=Release -DWEXO_BUILD_BENCHMARKS=ON

echo "== build and test under ASan and UBSan (Debug, build-sanitize/)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$top/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DWEXO_SANITIZE=ON

echo "== build with clang and run the quick suites (Debug, build-clang/)"
run_suite "$top/build-clang" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -- -LE 'cli|faults|python|net|sim|threads'

# A user who wants only the library needs no GoogleTest: default options,
# no warnings as errors.
echo "== build the library without GoogleTest (build-nogtest/)"
build "$top/build-nogtest" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DWEXO_BUILD_TOOLS=OFF
"$top/scripts/ci/pkg.sh"
"$top/scripts/ci/python.sh" "$top/build-release"
"$top/scripts/ci/valgrind.sh"
"$top/scripts/ci/tsan.sh"
"$top/scripts/ci/soak.sh"
"$top/scripts/ci/fuzz.sh"
echo "test.sh: all passed"
