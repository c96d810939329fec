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
