#!/usr/bin/env bash
# Checks that a built Qelv.lmd imports no call that starts a thread: the
# module starts none in its host (the engine's worker is linked into the
# tool only).
#   check-no-threads.sh PATH-TO-Qelv.lmd
set -euo pipefail
module=$1
starters='^(CreateThread|CreateRemoteThread|CreateRemoteThreadEx|_beginthread|_beginthreadex)$'
found=$(i686-w64-mingw32-objdump -p "$module" |
        sed -n '/^\s*DLL Name:/,/^$/s/^\s*[0-9a-f]\+\s\+[0-9]\+\s\+\(\S\+\).*/\1/p' |
        grep -E "$starters" || true)
if [ -n "$found" ]; then
  echo "$module imports calls that start threads: $(echo $found)"
  exit 1
fi
echo "$module imports no call that starts a thread: 1 passed, 0 failed"
