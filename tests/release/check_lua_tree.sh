#!/usr/bin/env bash
# tools/release.sh --check-only against Lua trees: the 5.0.2 tree as released
# passes; a copy with one source changed, one source missing, one source
# added (the build compiles every src/*.c and src/lib/*.c) or a lua.h of
# another version is refused, naming what is wrong, before anything is built.
# Skipped (77) with a banner where no Lua 5.0.2 tree is.
#   check_lua_tree.sh RELEASE-SCRIPT
set -uo pipefail
release=$1
root=$(cd "$(dirname "$release")/.." && pwd)
lua=${QELV_LUA50_DIR:-$root/../shared/lua-5.0.2}
if [ ! -d "$lua" ]; then
  echo "!! Lua tree check NOT RUN: no Lua 5.0.2 tree at $lua (QELV_LUA50_DIR names another)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0 failed=0
# expect WANTED TEXT TREE: WANTED is pass or refused; a refusal must say TEXT.
expect() {
  local wanted=$1 text=$2 tree=$3 out status=0
  out=$(bash "$release" --check-only "$tree" 2>&1) || status=$?
  if [ "$wanted" = pass ] && [ $status = 0 ]; then passed=$((passed + 1)); return; fi
  if [ "$wanted" = refused ] && [ $status != 0 ] && grep -qF -- "$text" <<<"$out"; then
    passed=$((passed + 1)); return
  fi
  failed=$((failed + 1))
  echo "FAILED: $tree: wanted $wanted${text:+ saying '$text'}, got status $status:"
  sed 's/^/  /' <<<"$out"
}
copy() {  # copy NAME: a writable copy of the tree
  cp -r "$lua" "$work/$1" && chmod -R u+w "$work/$1"
}

expect pass "" "$lua"
copy changed && printf ' ' >>"$work/changed/src/lvm.c"
expect refused "src/lvm.c: FAILED" "$work/changed"
copy missing && rm "$work/missing/src/ltm.c"
expect refused "< src/ltm.c" "$work/missing"
copy added && printf 'int extra;\n' >"$work/added/src/lib/lextra.c"
expect refused "> src/lib/lextra.c" "$work/added"
copy other && sed -i 's/"Lua 5\.0\.2"/"Lua 5.0.3"/' "$work/other/include/lua.h"
expect refused "does not say Lua 5.0.2" "$work/other"
expect refused "no Lua tree" "$work/nothing-here"

echo "$passed passed, $failed failed"
[ $failed = 0 ]
