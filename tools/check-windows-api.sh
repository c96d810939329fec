#!/usr/bin/env bash
# Checks that a Windows program or DLL imports nothing that its oldest
# Windows lacks: every function it imports from a system library must be on
# one of the lists given (tools/windows-api/*.txt, "library function" a
# line).  Libraries of the project's own (the Lua stand-in's lua51.dll) are
# named with --own and not checked.
#   check-windows-api.sh BINARY LIST... [--own DLL]...
set -euo pipefail
binary=$1; shift
lists=() own=()
while [ $# -gt 0 ]; do
  if [ "$1" = --own ]; then own+=("$(tr 'A-Z' 'a-z' <<<"$2")"); shift 2
  else lists+=("$1"); shift; fi
done
known=$(cat "${lists[@]}" | grep -v '^#' | tr 'A-Z' 'a-z' | sort -u)
imports=$(i686-w64-mingw32-objdump -p "$binary" |
          awk '/DLL Name:/{dll=tolower($3); next} dll && /^\t[0-9a-f]+\t/{print dll" "$3} /^$/{dll=""}' |
          sort -u)
[ -n "$imports" ] || { echo "$binary: no import table read"; exit 1; }
fail=0 checked=0
while read -r dll function; do
  for o in "${own[@]+"${own[@]}"}"; do [ "$dll" = "$o" ] && continue 2; done
  checked=$((checked + 1))
  if ! grep -qxF "$(tr 'A-Z' 'a-z' <<<"$dll $function")" <<<"$known"; then
    echo "$binary imports $function from $dll, which is not on $(basename -a "${lists[@]}" | paste -sd+)"
    fail=$((fail + 1))
  fi
done <<<"$imports"
names=$(basename -a "${lists[@]}" | paste -sd+)
if [ $fail = 0 ]; then
  echo "$binary: its $checked system imports are all on $names: 1 passed, 0 failed"
else
  echo "$binary: $fail of its $checked system imports are not on $names: 0 passed, 1 failed"
fi
[ $fail = 0 ]
