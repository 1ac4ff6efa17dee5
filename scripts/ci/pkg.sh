#!/bin/sh
# CI stage: the Debian packages of the Release build (build-release/, built by
# scripts/test.sh) are made once, left in build-release/packages/, and
# checked there by tests/package/check.sh (fields, contents, a program built
# against them; scripts/test.sh leaves the ctest copy of that check out).
# Their dependencies are shown.
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
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
sh "$top/tests/package/check.sh" "$build" "$version" "$build/packages"
for deb in "$build"/packages/*.deb; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done
