#!/bin/sh
# CI stage: the Debian packages of the Release build (build-release/, built and
# tested by scripts/test.sh, whose suite checks them: tests package, abi, man,
# examples) are left in build-release/packages/, and their fields are shown.
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
echo "== Debian packages of the Release build (build-release/packages/)"
build="$top/build-release"
rm -rf "$build/packages"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$build/packages" >"$build/cpack.log" 2>&1; then
  cat "$build/cpack.log"
  echo "pkg: cpack failed" >&2
  exit 1
fi
rm -rf "$build/packages/_CPack_Packages"
for deb in "$build"/packages/*.deb; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done
