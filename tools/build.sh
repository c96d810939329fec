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
# The release configuration (Lua linked into the module) checked with the
# Lua 5.1 stand-in: a module no host can use, built only so that the tests
# can check its imports and exports.  The module to ship is built from a
# Lua 5.0.2 tree by tools/release.sh (tools/README.md, "The release").
standin=build/win32/static-lua51-test
cmake -S . -B $standin -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
      -DCMAKE_BUILD_TYPE=Release -DQELV_LUA_DIR="$root/third_party/lua5.1" -DQELV_LUA_STANDIN=ON >/dev/null
cmake --build $standin -j "$jobs" --target qelv_module
