#!/usr/bin/env bash
# Checks a built Qelv.lmd: a PE32 i386 DLL that imports only Windows system
# DLLs, only functions that XP SP3 has and no call that starts a thread, and
# exports exactly the module's eight entry points.
#   check-module.sh PATH-TO-Qelv.lmd
set -euo pipefail
module=$1
dump=$(i686-w64-mingw32-objdump -p "$module")
fail=0
grep -q 'file format pei-i386' <<<"$dump" || { echo "not a PE32 i386 image"; fail=1; }

system_dlls='^(kernel32|user32|shell32|advapi32|msvcrt|ntdll|gdi32|ole32)\.dll$'
while read -r dll; do
  if ! tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$system_dlls"; then
    echo "imports a DLL that is not the system's: $dll"; fail=1
  fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")

expected="irPlg_Action_RegisterActions
irPlg_GetAuthorInfo
irPlg_GetLuaVersion
irPlg_GetPluginActionXML
irPlg_GetPluginName
irPlg_GetPluginVersion
irPlg_ShowHelpForAction
irPlg_ShowHelpForPlugin"
actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exports differ from the eight entry points:"; echo "$actual"; fail=1
fi
bash "$(dirname "$0")/check-no-threads.sh" "$module" >/dev/null || {
  echo "imports a call that starts a thread"; fail=1; }
bash "$(dirname "$0")/check-windows-api.sh" "$module" "$(dirname "$0")/windows-api/xp-sp3.txt" || fail=1
[ $fail = 0 ] && echo "$module: PE32 i386, system imports only, all in XP SP3, none that starts a thread, the eight exports: 1 passed, 0 failed"
exit $fail
