#!/bin/sh
# Installs the project into a scratch prefix and builds an application
# against it twice: with pkg-config and with CMake's find_package.
set -eu
build=$1
source_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/usr" >/dev/null
lib=$(ls -d "$scratch"/usr/lib*/libWEXO.so.1)
test -L "$(dirname "$lib")/libWEXO.so"
test -f "$scratch/usr/include/wexo.h"
test -f "$scratch/usr/include/wexo_data.h"

export PKG_CONFIG_PATH="$(dirname "$lib")/pkgconfig"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$scratch/app_pc" "$source_dir/examples/read_inputs.c" \
   $(pkg-config --define-variable=prefix="$scratch/usr" --cflags --libs wexo)
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
echo "install ok"
