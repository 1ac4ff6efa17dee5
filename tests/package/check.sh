#!/bin/sh
# Builds the Debian packages with cpack, checks their fields and what each
# holds, unpacks them into a scratch root, and uses them from there: a C
# program built with pkg-config against libwexo-dev runs on libwexo1, and
# the programs of wexo-tools run.
#
#   check.sh BUILD_DIR VERSION
set -eu
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "package: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
runtime="$scratch/out/libwexo1_${version}_$arch.deb"
dev="$scratch/out/libwexo-dev_${version}_$arch.deb"
tools="$scratch/out/wexo-tools_${version}_$arch.deb"
# wexo-gateway is packaged when it was built (its libraries were found).
gateway="$scratch/out/wexo-gateway_${version}_$arch.deb"
want=3
[ ! -f "$build/gateway/wexo-gateway" ] || want=4
[ "$(ls "$scratch"/out/*.deb | wc -l)" -eq "$want" ] || fail "want $want packages, cpack made: $(ls "$scratch/out")"

# field DEB NAME: the value of one control field.
field() { dpkg-deb -f "$1" "$2"; }
for deb in "$runtime" "$dev" "$tools"; do
  [ -f "$deb" ] || fail "no $(basename "$deb")"
  [ "$(field "$deb" Version)" = "$version" ] || fail "$deb: Version $(field "$deb" Version)"
  [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$deb: Architecture"
  field "$deb" Maintainer | grep -q '^[^<]\+ <[^>]\+@[^>]\+>$' || fail "$deb: Maintainer"
  [ -n "$(field "$deb" Description | sed -n 2p)" ] || fail "$deb: no long description"
done
[ "$(field "$runtime" Section)/$(field "$dev" Section)/$(field "$tools" Section)" = libs/libdevel/utils ] ||
  fail "sections"
[ "$(field "$dev" Depends)" = "libwexo1 (= $version)" ] || fail "libwexo-dev Depends: $(field "$dev" Depends)"
field "$tools" Depends | grep -q "^libwexo1 (>= $version)" || fail "wexo-tools Depends: $(field "$tools" Depends)"
dpkg-deb --ctrl-tarfile "$runtime" | tar -xOf - ./shlibs | grep -qx "libWEXO 1 libwexo1 (>= $version)" ||
  fail "libwexo1 has no shlibs entry"

# Files and links of each package ("path" or "path -> target").
contents() {
  dpkg-deb -c "$1" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ *\.\//, ""); print }'
}
contents "$runtime" >"$scratch/runtime"
contents "$dev" >"$scratch/dev"
contents "$tools" >"$scratch/tools"
libdir=$(sed -n 's|^\(.*\)/libWEXO\.so\.1 -> libWEXO\.so\.'"$version"'$|\1|p' "$scratch/runtime")
[ -n "$libdir" ] || fail "libwexo1 has no libWEXO.so.1 -> libWEXO.so.$version"
# has LIST ENTRY...: every entry is in the package's list.
has() {
  list=$1
  shift
  for entry in "$@"; do
    grep -qxF "$entry" "$scratch/$list" || fail "$list lacks $entry; it holds: $(cat "$scratch/$list")"
  done
}
has runtime "$libdir/libWEXO.so.$version"
[ "$(wc -l <"$scratch/runtime")" -eq 2 ] || fail "libwexo1 holds more than the library: $(cat "$scratch/runtime")"
has dev usr/include/wexo.h usr/include/wexo_data.h "$libdir/libWEXO.so -> libWEXO.so.1" \
  "$libdir/pkgconfig/wexo.pc" "$libdir/cmake/WEXO/WEXOConfig.cmake" \
  "$libdir/cmake/WEXO/WEXOConfigVersion.cmake" "$libdir/cmake/WEXO/WEXOTargets.cmake" \
  usr/share/man/man3/libwexo.3
has tools usr/bin/wexo usr/bin/wexo-sim usr/share/man/man1/wexo.1 usr/share/man/man1/wexo-sim.1
! grep -v '^usr/share/' "$scratch/tools" | grep -v '^usr/bin/' || fail "wexo-tools holds files outside bin/ and share/"
touch "$scratch/gateway"
if [ "$want" -eq 4 ]; then
  field "$gateway" Depends | grep -q "^libwexo1 (>= $version)" || fail "wexo-gateway Depends: $(field "$gateway" Depends)"
  contents "$gateway" >"$scratch/gateway"
  has gateway usr/bin/wexo-gateway usr/lib/systemd/system/wexo-gateway.service usr/share/man/man1/wexo-gateway.1 \
    usr/share/doc/wexo-gateway/gateway.toml.example usr/share/doc/wexo-gateway/gateway.md
fi
dups=$(sed 's/ -> .*//' "$scratch/runtime" "$scratch/dev" "$scratch/tools" "$scratch/gateway" | sort | uniq -d)
[ -z "$dups" ] || fail "files in two packages: $dups"
# What an install rule leaves without a component is in no package.
cmake --install "$build" --component Unspecified --prefix "$scratch/unspecified" >/dev/null
[ -z "$(find "$scratch/unspecified" -type f 2>/dev/null)" ] ||
  fail "installed files in no package: $(find "$scratch/unspecified" -type f)"

root="$scratch/root"
for deb in "$runtime" "$dev" "$tools"; do dpkg -x "$deb" "$root"; done
[ "$want" -eq 3 ] || dpkg -x "$gateway" "$root"

# wexo.pc finds its prefix from its own place, so it points into the
# scratch root as it is.
export PKG_CONFIG_PATH="$root/$libdir/pkgconfig"
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR
cat >"$scratch/app.c" <<'C'
#include <stdio.h>
#include <wexo.h>

int main(void) {
    printf("%s %d %s|%s\n", wexo_version(), ZuWexoGetDllVersion(), wexo_strerror(WEXO_ERR_NOT_CONNECTED),
           ZuWexoInit() == 1 && ZuWexoEnd() == 1 ? "ok" : "failed");
    return 0;
}
C
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$scratch/app" "$scratch/app.c" $(pkg-config --cflags --libs wexo) ||
  fail "cannot build against libwexo-dev: $(pkg-config --cflags --libs wexo)"
export LD_LIBRARY_PATH="$root/$libdir"
loaded=$(ldd "$scratch/app" | awk '/libWEXO/ { print $3 }')
[ "$loaded" = "$root/$libdir/libWEXO.so.1" ] || fail "app loads $loaded"
out=$("$scratch/app")
[ "$out" = "$version 130 the unit's command channel is not open|ok" ] || fail "app printed '$out'"

"$root/usr/bin/wexo" --help | grep -q '^Usage: wexo ' || fail "wexo --help"
"$root/usr/bin/wexo-sim" --help | grep -q '^usage: wexo-sim ' || fail "wexo-sim --help"
[ "$("$root/usr/bin/wexo" --version)" = "wexo $version, libWEXO $version" ] || fail "wexo --version: $("$root/usr/bin/wexo" --version)"
[ "$want" -eq 3 ] || "$root/usr/bin/wexo-gateway" --help | grep -q '^usage: wexo-gateway ' || fail "wexo-gateway --help"
echo "package ok"
