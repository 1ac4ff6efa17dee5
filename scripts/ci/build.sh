#!/bin/sh
# Configures build directory DIR with the given cmake arguments and builds
# it: every target, or every target but those after --all-but (Makefile
# generator; other generators build everything). The compilers run at a
# lower priority than any tests that run meanwhile, and through ccache when
# $CMAKE_CXX_COMPILER_LAUNCHER names it.
#
#   build.sh DIR [CMAKE-ARGS...] [--all-but TARGET...]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
dir=$1
shift
args=""
while [ $# -gt 0 ] && [ "$1" != --all-but ]; do
  args="$args $1"
  shift
done
[ $# -gt 0 ] && shift
skip=" $* "
jobs=$(nproc 2>/dev/null || echo 2)
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  args="$args -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$CMAKE_CXX_COMPILER_LAUNCHER}"
  args="$args -DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER"
fi
mkdir -p "$dir"
# shellcheck disable=SC2086 # one word per argument
cmake -S "$top" -B "$dir" $args

rules=""
if [ "$skip" != "  " ] && [ -f "$dir/CMakeFiles/Makefile2" ]; then
  # The targets of "all" (CMakeFiles/<target>.dir/all under all or DIR/all,
  # not the lines that give one target's dependencies), built through the
  # same rules as "all", so that make runs them in parallel.
  while read -r target rule; do
    case "$skip" in *" $target "*) ;; *) rules="$rules $rule" ;; esac
  done <<TARGETS
$(sed -n '/\.dir\/all: /d; s|^\([^ :]*/\)\{0,1\}all: \(\([^ ]*/\)\{0,1\}CMakeFiles/\([^/ ]*\)\.dir/all\)$|\4 \2|p' \
    "$dir/CMakeFiles/Makefile2")
TARGETS
fi
if [ -n "$rules" ]; then
  # shellcheck disable=SC2086 # one word per rule
  nice -n 10 make -C "$dir" -f CMakeFiles/Makefile2 -j"$jobs" $rules
else
  nice -n 10 cmake --build "$dir" -j"$jobs"
fi
