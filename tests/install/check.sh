#!/bin/sh
# Installs the project into a scratch prefix and builds an application
# against it twice: with pkg-config and with CMake's find_package. The
# installed programs named after the two directories must run from there
# without help (no LD_LIBRARY_PATH).
#
#   check.sh BUILD_DIR SOURCE_DIR [PROGRAM...]
set -eu
build=$1
source_dir=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/usr" >/dev/null

fail() {
  echo "install: $*" >&2
  exit 1
}

lib=$(ls -d "$scratch"/usr/lib*/libWEXO.so.1 "$scratch"/usr/lib/*/libWEXO.so.1 2>/dev/null | head -n 1)
[ -n "$lib" ] || fail "no libWEXO.so.1 installed"
libdir=$(dirname "$lib")
test -L "$libdir/libWEXO.so"
test -f "$scratch/usr/include/wexo.h"
test -f "$scratch/usr/include/wexo_data.h"

# The pkg-config file must point into the prefix it was installed to, as it
# is (nothing redefined on the command line), in plain absolute paths.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
pc_libdir=$(pkg-config --variable=libdir wexo)
[ "$(cd "$pc_libdir" 2>/dev/null && pwd -P)" = "$(cd "$libdir" && pwd -P)" ] ||
  fail "wexo.pc gives libdir $pc_libdir, installed in $libdir"
pc_includedir=$(pkg-config --variable=includedir wexo)
case "$(pkg-config --cflags --libs wexo)" in
  *..*) fail "wexo.pc gives flags with '..': $(pkg-config --cflags --libs wexo)" ;;
esac
[ -f "$pc_includedir/wexo.h" ] || fail "wexo.pc gives includedir $pc_includedir without wexo.h"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$scratch/app_pc" "$source_dir/examples/read_inputs.c" \
   $(pkg-config --cflags --libs wexo)
test -x "$scratch/app_pc"

mkdir -p "$scratch/app"
cat > "$scratch/app/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(app C)
find_package(WEXO 1.3 REQUIRED)
add_executable(app "$source_dir/examples/read_inputs.c")
target_link_libraries(app PRIVATE WEXO::wexo)
CMAKE
cmake -S "$scratch/app" -B "$scratch/app/build" -DCMAKE_PREFIX_PATH="$scratch/usr" >/dev/null
cmake --build "$scratch/app/build" >/dev/null
test -x "$scratch/app/build/app"

# Installed programs load the library of their own prefix.
unset LD_LIBRARY_PATH
for program in "$@"; do
  exe="$scratch/usr/bin/$program"
  [ -x "$exe" ] || fail "$program is not installed in bin/"
  needed=$(ldd "$exe" | grep 'libWEXO\.so' || true)
  if [ -n "$needed" ]; then
    where=$(echo "$needed" | awk '{ print $3 }')
    [ "$(cd "$(dirname "$where")" 2>/dev/null && pwd -P)" = "$(cd "$libdir" && pwd -P)" ] ||
      fail "$program: $needed (want $libdir)"
  fi
  "$exe" --help >/dev/null || fail "installed $program --help fails"
done
if [ -x "$scratch/usr/bin/wexo" ]; then
  "$scratch/usr/bin/wexo" --version >/dev/null ||
    fail "installed wexo --version fails"
fi
echo "install ok"
