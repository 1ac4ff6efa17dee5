#!/bin/sh
# Builds the libFuzzer targets (clang, build-fuzz/) and runs each for the
# given number of seconds (default 300), starting from the seed corpus in
# fuzz/corpus/<target>/ and the dictionary fuzz/wexo.dict. Inputs that found
# new paths are kept in build-fuzz/corpus/<target>/, crashes in
# build-fuzz/artifacts/. Prints the executions of each target; exits non-zero
# when a target fails.
#   scripts/fuzz.sh [--build-only | --no-build | --tree DIR] [seconds-per-target] [target...]
# --tree DIR runs the fuzzers a clang tree built with -DWEXO_SANITIZE=ON
# -DWEXO_BUILD_FUZZERS=ON holds (the test command's sanitizer tree), and keeps
# their corpus and artifacts there.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
step=all
build=$top/build-fuzz
case "${1:-}" in
  --build-only | --no-build) step=$1; shift ;;
  --tree) step=--no-build; build=$2; shift 2 ;;
esac
seconds=${1:-300}
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_decoders fuzz_replies fuzz_reader fuzz_datagrams fuzz_intel_hex"}
jobs=$(nproc 2>/dev/null || echo 2)

mkdir -p "$build"
launcher=""
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER"
  launcher="$launcher -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$CMAKE_CXX_COMPILER_LAUNCHER}"
fi
# shellcheck disable=SC2086 # one word per target or argument
if [ "$step" != --no-build ] &&
   ! { cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo $launcher \
         -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DWEXO_WERROR=ON \
         -DWEXO_BUILD_FUZZERS=ON -DWEXO_BUILD_TESTS=OFF -DWEXO_BUILD_BENCHMARKS=OFF \
         -DWEXO_BUILD_TOOLS=OFF &&
       nice -n 10 cmake --build "$build" -j"$jobs" --target $targets; } >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  echo "fuzz.sh: build failed" >&2
  exit 1
fi
[ "$step" = --build-only ] && exit 0

failed=""
mkdir -p "$build/artifacts"
for t in $targets; do
  mkdir -p "$build/corpus/$t"
  log=$build/$t.log
  # New inputs go to the first corpus folder; the seeds are only read.
  if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -dict="$top/fuzz/wexo.dict" -artifact_prefix="$build/artifacts/$t-" \
       "$build/corpus/$t" "$top/fuzz/corpus/$t" >"$log" 2>&1; then
    verdict=clean
  else
    verdict="FAILED (log: $log)"
    failed="$failed $t"
    grep -E "ERROR|invariant broken|runtime error|SUMMARY" "$log" | head -5 >&2 || true
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$t: ${runs:-0} executions in ${seconds} s, $verdict"
done
if [ -n "$failed" ]; then
  echo "fuzz.sh: failed:$failed" >&2
  exit 1
fi
