#!/bin/sh
# Writes abi/libWEXO.so.1.abi, the ABI the `abi` test holds the library to,
# from the library of a build (default build-release/, as CI builds it; the
# library carries debug information in every build type). Run it only when
# an export was added or changed on purpose, and commit the file with that
# change.
#
#   scripts/update-abi-baseline.sh [BUILD_DIR]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-release}
library="$build/libWEXO.so.1"
[ -f "$library" ] || { echo "update-abi-baseline: no $library (build first)" >&2; exit 1; }
mkdir -p "$top/abi"
# Only the types of the public headers; no paths, locations or build
# directories, so that the same library gives the same file anywhere.
# Source paths are written relative to the top directory (a compiler cache
# with a base directory records them relative to the build directory, with
# leading ../ steps: those go too).
raw="$top/abi/libWEXO.so.1.abi.raw"
abidw --no-corpus-path --no-comp-dir-path --no-show-locs --type-id-style hash \
  --headers-dir "$top/include" --drop-private-types --exported-interfaces-only \
  --out-file "$raw" "$library"
sed -e "s|path='$top/|path='|" -e "s|path='\(\.\./\)*|path='|" "$raw" >"$top/abi/libWEXO.so.1.abi"
rm -f "$raw"
echo "update-abi-baseline: wrote abi/libWEXO.so.1.abi from $library"
