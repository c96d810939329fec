#!/usr/bin/env bash
# Configures and builds both trees: build/native (gcc) and build/win32
# (mingw-w64 i686).  Extra arguments go to both configure steps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
cmake -S . -B build/native -G Ninja "$@" >/dev/null
cmake --build build/native -j "$jobs"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "$@" >/dev/null
cmake --build build/win32 -j "$jobs"
# The release module: Lua linked in (the stand-in 5.1 tree here; a 5.0.2
# tree for the real host, see the README), inside build/win32/release.
cmake -S . -B build/win32/release -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release -DQELV_LUA_DIR="${QELV_LUA_DIR:-$root/third_party/lua5.1}" >/dev/null
cmake --build build/win32/release -j "$jobs" --target qelv_module
