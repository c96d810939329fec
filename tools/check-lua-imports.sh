#!/usr/bin/env bash
# Checks that a built module takes from the Lua library only the calls the
# plug-in may use on the host's Lua 5.0 state, by the symbols it imports: nm
# on the native Qelv.so, the import table of a Qelv.lmd linked to lua51.dll.
#   check-lua-imports.sh MODULE
set -euo pipefail
module=$1
# The Lua 5.1 stand-in has lua_tostring and lua_newtable as macros over
# lua_tolstring and lua_createtable, so a module built with it imports those.
allowed="lua_pushstring lua_pushnumber lua_newtable lua_pushcclosure lua_settable
lua_gettable lua_gettop lua_tostring lua_type lua_remove lua_pcall lua_error lua_version
lua_tolstring lua_createtable"

if [ "$(head -c 2 "$module")" = MZ ]; then
  # Lines "vma hint name" under each "DLL Name:" of the import table.
  names=$(i686-w64-mingw32-objdump -p "$module" |
          sed -n '/^\s*DLL Name:/,/^$/s/^\s*[0-9a-f]\+\s\+[0-9]\+\s\+\(\S\+\).*/\1/p')
else
  names=$(nm -D --undefined-only "$module" | awk '{ sub(/@.*/, "", $NF); print $NF }')
fi
lua_names=$(grep -E '^lua[A-Za-z]*_' <<<"$names" || true)

# An empty list proves nothing: the release module holds its own Lua and
# imports none, and is not what this check is for.
if [ -z "$lua_names" ]; then
  echo "$module imports nothing from Lua: nothing to check" >&2
  exit 1
fi
fail=0
for name in $lua_names; do
  if ! tr ' ' '\n' <<<"$allowed" | grep -qxF "$name"; then
    echo "$module imports $name, a Lua call the plug-in may not use" >&2
    fail=1
  fi
done
[ $fail = 0 ] && echo "$module: $(wc -w <<<"$lua_names") Lua imports, all of them allowed"
exit $fail
