#!/bin/sh
# shellcheck disable=SC2086 # $tests, $release and $ctest hold one word per argument
# Builds everything with warnings as errors and runs the tests: all of them
# in Release with gcc (with the benchmarks built), and again in Debug with
# clang under AddressSanitizer and UndefinedBehaviorSanitizer, where the fuzz
# targets are built too. Then builds
# the library as a user would where GoogleTest is missing, and runs the
# stages of scripts/ci/: packages, Python bindings, valgrind,
# ThreadSanitizer, a short soak and the fuzz targets. Installs what it needs.
# Needs root (tests run in private network namespaces).
#
# The trees build one after the other; the test stages, which mostly wait on
# simulated units, run one at a time in the background while the next tree
# builds. One line per stage gives its time; each stage's output goes to
# build-logs/STAGE.log and is shown when it fails. ccache (when installed)
# keeps compiled objects between runs, and serves the library-only build
# from the Release build's objects.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
ci=$top/scripts/ci
jobs=$(nproc 2>/dev/null || echo 2)
WEXO_TEST_LOGS=$top/build-logs
WEXO_TEST_START=$(date +%s)
export WEXO_TEST_LOGS WEXO_TEST_START
rm -rf "$WEXO_TEST_LOGS"
mkdir -p "$WEXO_TEST_LOGS"

# Test stages queued in the background, each a process group of its own, so
# that an interrupted or failed run stops them and all they started.
queued=""
stop_queued() {
  for pid in $queued; do
    kill -TERM "-$pid" 2>/dev/null || true
  done
  queued=""
}
trap stop_queued EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Ends the run when a stage has failed.
check() {
  if ls "$WEXO_TEST_LOGS"/*.failed >/dev/null 2>&1; then
    stop_queued
    failed=$(cd "$WEXO_TEST_LOGS" && for f in *.failed; do printf ' %s' "${f%.failed}"; done)
    echo "test.sh: failed:$failed" >&2
    exit 1
  fi
}
# stage NAME COMMAND...: runs a stage now (builds, mostly).
stage() {
  sh "$ci/stage.sh" "$@" || { check; exit 1; }
}
# queue NAME COMMAND...: runs a test stage in the background, after those
# queued before it.
queue() {
  setsid sh "$ci/stage.sh" --queued "$@" &
  queued="$queued $!"
}

stage deps "$top/scripts/setup-deps.sh"
# ccache keys objects by their content with paths relative to the checkout
# and without the build directory, so that trees configured alike share them.
# Its depend mode takes the headers from the compiler's dependency output
# instead of preprocessing each source once more, which made a run with an
# empty cache a sixth slower.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
  export CCACHE_DEPEND="${CCACHE_DEPEND:-true}"
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
# Word lists, expanded unquoted below.
tests="-DWEXO_BUILD_TESTS=ON -DWEXO_WERROR=ON"
# The suites mostly wait on simulated units, in namespaces of their own:
# twice as many run at once as there are CPUs.
ctest="ctest --output-on-failure --no-label-summary -j$((jobs * 2)) --test-dir"

# Release at -O2, as Debian builds its packages (CMake's default is -O3).
release="-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2"
stage release-build sh "$ci/build.sh" "$top/build-release" $release -DWEXO_BUILD_BENCHMARKS=ON $tests
# The package check runs on the packages the packages stage leaves.
queue release-tests $ctest "$top/build-release" -LE package
queue packages sh "$ci/pkg.sh"
queue python sh "$ci/python.sh" "$top/build-release"
queue valgrind bash "$ci/valgrind.sh"
queue soak sh "$ci/soak.sh"

# A user who wants only the library needs no GoogleTest. Configured as the
# Release tree's library (with warnings as errors, which only makes it
# stricter), it compiles nothing that ccache does not hold already.
stage no-gtest-build sh "$ci/build.sh" "$top/build-nogtest" $release \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DWEXO_BUILD_TOOLS=OFF -DWEXO_WERROR=ON
check

# The Debug tree carries line tables only (-g1): enough for the sanitizers'
# and a debugger's backtraces, and much less for the compiler to write.
debug_info="-DCMAKE_CXX_FLAGS_DEBUG=-g1"
# One clang tree serves the sanitizers, the second compiler and the fuzz
# targets: every suite runs under AddressSanitizer and UndefinedBehaviorSanitizer
# there, but the install check, which links an uninstrumented program against
# the instrumented library (it runs in the Release tree).
stage sanitize-build sh "$ci/build.sh" "$top/build-sanitize" -DCMAKE_BUILD_TYPE=Debug $debug_info \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DWEXO_SANITIZE=ON -DWEXO_BUILD_FUZZERS=ON $tests
# The network suites run several times slower there, next to the other
# stages: a suite that fails runs once more, and its first failure stays in
# the stage's log.
queue sanitize-tests env ASAN_OPTIONS=detect_leaks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 $ctest "$top/build-sanitize" -E '^install$' \
  --repeat until-pass:2
queue fuzz sh "$ci/fuzz.sh" --tree "$top/build-sanitize"
check

stage tsan-build sh "$ci/tsan.sh" build
queue tsan-tests sh "$ci/tsan.sh" run
check


for pid in $queued; do
  wait "$pid" || true
done
queued=""
check
s=$(($(date +%s) - WEXO_TEST_START))
printf 'test.sh: all passed in %d:%02d\n' $((s / 60)) $((s % 60))
