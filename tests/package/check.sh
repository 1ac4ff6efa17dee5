#!/bin/sh
# Builds the Debian packages with cpack, checks their fields and what each
# holds, unpacks them into a scratch root, and uses them from there: a C
# program built with pkg-config against libwexo-dev runs on libwexo1, and
# the programs of wexo-tools run.
#
#   check.sh BUILD_DIR VERSION [PACKAGE_DIR]
#
# PACKAGE_DIR: check the packages cpack already made there instead.
set -eu
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "package: $*" >&2
  exit 1
}

out=${3:-$scratch/out}
if [ $# -lt 3 ]; then
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }
fi
arch=$(dpkg --print-architecture)
runtime="$out/libwexo1_${version}_$arch.deb"
dev="$out/libwexo-dev_${version}_$arch.deb"
tools="$out/wexo-tools_${version}_$arch.deb"
# wexo-gateway is packaged when it was built (its libraries were found).
gateway="$out/wexo-gateway_${version}_$arch.deb"
want=3
[ ! -f "$build/gateway/wexo-gateway" ] || want=4
[ "$(ls "$out"/*.deb | wc -l)" -eq "$want" ] || fail "want $want packages, cpack made: $(ls "$out")"

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
dpkg-deb -f "$runtime" >"$scratch/runtime.control"
dpkg-deb -f "$dev" >"$scratch/dev.control"
dpkg-deb -f "$tools" >"$scratch/tools.control"
# The library in the multiarch directory, as Debian has it.
libdir=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
grep -qxF "$libdir/libWEXO.so.1 -> libWEXO.so.$version" "$scratch/runtime" ||
  fail "libwexo1 has no $libdir/libWEXO.so.1 -> libWEXO.so.$version; it holds: $(cat "$scratch/runtime")"
# has LIST ENTRY...: every entry is in the package's list.
has() {
  list=$1
  shift
  for entry in "$@"; do
    grep -qxF "$entry" "$scratch/$list" || fail "$list lacks $entry; it holds: $(cat "$scratch/$list")"
  done
}
has runtime "$libdir/libWEXO.so.$version" usr/share/doc/libwexo1/copyright
[ "$(wc -l <"$scratch/runtime")" -eq 3 ] || fail "libwexo1 holds more than the library: $(cat "$scratch/runtime")"
has dev usr/include/wexo.h usr/include/wexo_data.h "$libdir/libWEXO.so -> libWEXO.so.1" \
  "$libdir/pkgconfig/wexo.pc" "$libdir/cmake/WEXO/WEXOConfig.cmake" \
  "$libdir/cmake/WEXO/WEXOConfigVersion.cmake" "$libdir/cmake/WEXO/WEXOTargets.cmake" \
  usr/share/man/man3/libwexo.3 usr/share/doc/libwexo-dev/copyright usr/share/doc/libwexo-dev/library.md
has tools usr/bin/wexo usr/bin/wexo-sim usr/share/man/man1/wexo.1 usr/share/man/man1/wexo-sim.1 \
  usr/share/doc/wexo-tools/copyright usr/share/doc/wexo-tools/cli.md
# Every package's documentation sits in the directory named after it.
for list in runtime dev tools; do
  own=$(sed -n "s/^Package: //p" "$scratch/$list.control")
  others=$(grep '^usr/share/doc/' "$scratch/$list" | grep -v "^usr/share/doc/$own/" || true)
  [ -z "$others" ] || fail "$own has documentation outside usr/share/doc/$own: $others"
done
! grep -v '^usr/share/' "$scratch/tools" | grep -v '^usr/bin/' || fail "wexo-tools holds files outside bin/ and share/"
touch "$scratch/gateway"
if [ "$want" -eq 4 ]; then
  field "$gateway" Depends | grep -q "^libwexo1 (>= $version)" || fail "wexo-gateway Depends: $(field "$gateway" Depends)"
  contents "$gateway" >"$scratch/gateway"
  has gateway usr/bin/wexo-gateway usr/lib/systemd/system/wexo-gateway.service usr/share/man/man1/wexo-gateway.1 \
    usr/share/doc/wexo-gateway/gateway.toml.example usr/share/doc/wexo-gateway/gateway.md \
    usr/share/doc/wexo-gateway/copyright usr/share/wexo-gateway/web/index.html
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

# wexo.pc names /usr in plain absolute paths; redefining its prefix points
# it into the scratch root.
export PKG_CONFIG_PATH="$root/$libdir/pkgconfig"
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR
[ "$(pkg-config --variable=prefix wexo)" = /usr ] || fail "wexo.pc: prefix $(pkg-config --variable=prefix wexo)"
[ "$(pkg-config --variable=libdir wexo)" = "/$libdir" ] || fail "wexo.pc: libdir $(pkg-config --variable=libdir wexo)"
! grep -n '\.\.' "$root/$libdir/pkgconfig/wexo.pc" || fail "wexo.pc holds '..'"
cat >"$scratch/app.c" <<'C'
#include <stdio.h>
#include <wexo.h>

int main(void) {
    printf("%s %d %s|%s\n", wexo_version(), ZuWexoGetDllVersion(), wexo_strerror(WEXO_ERR_NOT_CONNECTED),
           ZuWexoInit() == 1 && ZuWexoEnd() == 1 ? "ok" : "failed");
    return 0;
}
C
flags=$(pkg-config --define-variable=prefix="$root/usr" --cflags --libs wexo)
# shellcheck disable=SC2086 # one word per flag
cc -std=c99 -Wall -Werror -o "$scratch/app" "$scratch/app.c" $flags ||
  fail "cannot build against libwexo-dev: $flags"
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
