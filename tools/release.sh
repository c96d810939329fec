#!/usr/bin/env bash
# A release by one command:
#   bash tools/release.sh [--no-tests] [--build DIR] [--dist DIR] [-DVAR=VALUE...] [LUA_TREE]
#   bash tools/release.sh --check-only [LUA_TREE]
#
# LUA_TREE is the Lua 5.0.2 source tree, as released (include/, src/,
# src/lib/), that the module is linked with; by default $QELV_LUA50_DIR,
# else ../shared/lua-5.0.2 beside the checkout.  The script
#   1. checks that the tree is Lua 5.0.2 as released: its lua.h, and every
#      source the build compiles against tools/lua-5.0.2.sha256, no other;
#   2. builds the release trees afresh, every time stamp taken from the
#      commit's time (SOURCE_DATE_EPOCH): DIR/win32 (Qelv.lmd with that Lua
#      linked in, qelv.exe, qelvw.exe, and for the tests qelv_host.exe
#      holding its own copy of the same Lua, as the host does) and
#      DIR/native (qelv for the .deb); DIR is build/release by default;
#   3. runs the module's Windows suite on them (ctest -L module) under Wine,
#      or where this machine cannot run 32-bit programs the module's file
#      checks and the emulated smoke run (tools/wine-smoke.sh);
#   4. makes the packages and checks them as people install them
#      (tools/test-packages.sh, as root), then writes them into build/dist/
#      (or --dist DIR): qelv-VERSION-win32.zip, qelv_VERSION_amd64.deb and
#      SHA256SUMS.
# --check-only does 1 alone; --no-tests skips 3 and the checks of 4.  -D
# options go to both trees' configuration, e.g.
# -DQELV_DEB_MAINTAINER="Name <address>" -DQELV_DEB_HOMEPAGE=URL
# (cmake/packaging.cmake).  The same commit gives
# the same bytes, wherever it is checked out: tools/test.sh builds it twice
# and compares SHA256SUMS.  The exit status is 0 only when all of it passed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

tests=1 check_only=0 trees=build/release dist=build/dist
defines=()
while [ $# -gt 0 ]; do
  case $1 in
    --no-tests) tests=0; shift ;;
    --check-only) check_only=1; shift ;;
    --build) trees=${2:?--build needs a folder}; shift 2 ;;
    --dist) dist=${2:?--dist needs a folder}; shift 2 ;;
    -D?*) defines+=("$1"); shift ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    -*) echo "release: unknown option $1 (--help says more)" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -le 1 ] || { echo "release: one Lua tree at most (--help says more)" >&2; exit 2; }
lua=${1:-${QELV_LUA50_DIR:-$root/../shared/lua-5.0.2}}

# Lua 5.0.2 as released: the version in lua.h, and the sources the build
# compiles (cmake/lua.cmake takes every src/*.c and src/lib/*.c) exactly
# those listed, byte for byte.
check_lua_tree() {
  local dir=$1 listed present
  [ -d "$dir" ] || { echo "release: no Lua tree at $dir"; return 1; }
  if ! grep -Eq '^#define[[:space:]]+LUA_VERSION[[:space:]]+"Lua 5\.0\.2"' "$dir/include/lua.h" 2>/dev/null; then
    echo "release: $dir/include/lua.h does not say Lua 5.0.2; the host runs Lua 5.0.2, and the"
    echo "release: module calls the Lua it is linked with on the host's own state"
    return 1
  fi
  listed=$(awk '{ print $2 }' tools/lua-5.0.2.sha256 | sort)
  present=$(cd "$dir" && ls include/*.h src/*.c src/*.h src/lib/*.c 2>/dev/null | sort)
  if [ "$listed" != "$present" ]; then
    echo "release: $dir does not hold the files of Lua 5.0.2 as released (< missing, > extra):"
    diff <(echo "$listed") <(echo "$present") | grep '^[<>]' | sed 's/^/  /'
    return 1
  fi
  if ! (cd "$dir" && sha256sum --quiet --strict -c "$root/tools/lua-5.0.2.sha256"); then
    echo "release: the files above in $dir differ from Lua 5.0.2 as released"
    return 1
  fi
}

check_lua_tree "$lua" || exit 1
lua=$(cd "$lua" && pwd)
if [ $check_only = 1 ]; then
  echo "release: $lua is Lua 5.0.2 as released"
  exit 0
fi
mkdir -p "$trees" "$dist"
trees=$(cd "$trees" && pwd) dist=$(cd "$dist" && pwd)
# A release that fails leaves no artefacts, not even an older release's.
clear_dist() { rm -f "$dist"/qelv-*-win32.zip "$dist"/qelv_*_amd64.deb "$dist/SHA256SUMS"; }
clear_dist
echo "== release: Lua 5.0.2 as released, in $lua"

commit=$(git rev-parse --short HEAD) || { echo "release: not a git checkout; a release is made from a commit"; exit 1; }
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "!! release: the checkout has changes not committed: these artefacts are not those of $commit"
fi
echo "== release of commit $commit, time stamps $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC"

jobs=$(nproc)
win32=$trees/win32 native=$trees/native
rm -rf "$win32" "$native"
cmake -S . -B "$win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
      -DQELV_LUA_DIR="$lua" "${defines[@]}" >"$trees/configure-win32.log" ||
  { cat "$trees/configure-win32.log"; exit 1; }
cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release "${defines[@]}" >"$trees/configure-native.log" ||
  { cat "$trees/configure-native.log"; exit 1; }
win32_targets=(qelv_module qelv qelvw)
[ $tests = 1 ] && win32_targets+=(module_tests)
cmake --build "$win32" -j "$jobs" --target "${win32_targets[@]}"
cmake --build "$native" -j "$jobs" --target qelv qelv_package_docs
lua_in_module=$(grep -ao '\$Lua: Lua [0-9.]*' "$win32/Qelv.lmd" | sed 's/^\$Lua: //') || true
if [ "$lua_in_module" != "Lua 5.0.2" ]; then
  echo "release: FAILED: $win32/Qelv.lmd holds '${lua_in_module:-no Lua}', not Lua 5.0.2"
  exit 1
fi
echo "release: $win32/Qelv.lmd holds $lua_in_module"

failed=0
if [ $tests = 1 ]; then
  . tools/wine-env.sh
  mode=${QELV_WINE_MODE:-auto}
  if [ "$mode" = auto ]; then
    if wine_can_run; then mode=native; else mode=emulated; fi
  fi
  if [ "$mode" = native ]; then
    echo "== release: the module's Windows suite under Wine, on $lua_in_module"
    wine_up
    (cd "$win32" && ctest -L module --output-on-failure) || failed=1
    wine_down
  else
    echo "== release: the module's file checks, and the smoke run with Wine under qemu-i386 emulation"
    (cd "$win32" && ctest -L module -L no_wine --output-on-failure) || failed=1
    bash tools/wine-smoke.sh "$win32" || failed=1
  fi
  echo "== release: the packages as people install them"
  bash tools/test-packages.sh "$native" "$win32" || failed=1
else
  (cd "$win32" && cpack -G ZIP >"$trees/cpack-win32.log") || { cat "$trees/cpack-win32.log"; exit 1; }
  (cd "$native" && cpack -G DEB >"$trees/cpack-native.log") || { cat "$trees/cpack-native.log"; exit 1; }
fi

if [ $failed != 0 ]; then
  echo "release: $commit with $lua_in_module: FAILED; nothing written into $dist"
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
zip=qelv-$version-win32.zip deb=qelv_${version}_amd64.deb
clear_dist
cp "$win32/$zip" "$native/$deb" "$dist/"
(cd "$dist" && sha256sum "$zip" "$deb" >SHA256SUMS)
echo "== release: $dist"
(cd "$dist" && ls -l "$zip" "$deb" && cat SHA256SUMS)
if [ $tests = 1 ]; then
  echo "release: $commit with $lua_in_module: passed"
else
  echo "release: $commit with $lua_in_module: built and packaged, not tested (--no-tests)"
fi
