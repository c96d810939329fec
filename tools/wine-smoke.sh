#!/usr/bin/env bash
# The Windows build's smoke run with Wine under qemu-i386 user-mode
# emulation (tools/wine-emulated.sh), for machines that cannot execute
# 32-bit x86 programs (and, when forced, for those that can).  Each Wine
# process start costs about a minute there, so everything runs in one
# qelv_host.exe process: tests/lua/wine_smoke.lua runs the bindings, exports
# and exchange scripts.  The native qelv makes the file the Windows module
# decrypts, and decrypts the one it encrypts.  Needs root, qemu-user-static,
# and both trees built.  WIN32-TREE is build/win32 (the 5.1 stand-in) unless
# named: tools/release.sh names the release tree, whose host stand-in holds
# Lua 5.0.2 as the module does.
#   wine-smoke.sh [WIN32-TREE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tree=${1:-build/win32}
work=$root/build/wine-smoke

rm -rf "$work"
mkdir -p "$work/bindings" "$work/exports/folder-page/Qelv.html" "$work/exchange"
# The files tests/lua/cli_exchange.lua reads, made as the full suite makes
# them: one key plain, one with accented letters typed in a UTF-8 locale,
# one spelt in code page 1250.
x=$work/exchange
cp tests/data/sample.txt "$x/plain.txt"
build/native/qelv encrypt --quiet --key pumpkinjar --output "$x/from-cli.dat" "$x/plain.txt"
LC_ALL=C.UTF-8 build/native/qelv encrypt --quiet --key "clé secrète" \
  --output "$x/from-cli-accented.dat" "$x/plain.txt"
LC_ALL=C.UTF-8 build/native/qelv encrypt --quiet --key "cłé" --key-codepage 1250 \
  --output "$x/from-cli-1250.dat" "$x/plain.txt"

start=$SECONDS
rc=0
# Output to a file, not a pipe: Wine's services keep what they inherit
# open.  A run takes 8 to 13 minutes; the limit is for a server crash.
bash tools/wine-emulated.sh timeout 1800 wine "$tree/qelv_host.exe" \
  tests/lua/wine_smoke.lua "Z:$work" </dev/null >"$work/host.log" 2>&1 || rc=$?
cat "$work/host.log"
echo "wine-smoke: finished with status $rc after $((SECONDS - start)) s"

# The files the Windows module encrypted, back through the native tool.
if [ $rc = 0 ]; then
  { build/native/qelv decrypt --quiet --key pumpkinjar --output "$x/from-host.txt" "$x/from-host.dat" &&
    cmp "$x/plain.txt" "$x/from-host.txt" &&
    LC_ALL=C.UTF-8 build/native/qelv decrypt --quiet --key "clé secrète" \
      --output "$x/from-host-accented.txt" "$x/from-host-accented.dat" &&
    cmp "$x/plain.txt" "$x/from-host-accented.txt"; } || rc=1
fi
# The host's last line must count cases run, none failed.
tail -1 "$work/host.log" 2>/dev/null | tr -d '\r' | grep -Eq '^smoke: [1-9][0-9]* passed, 0 failed$' || rc=1
if [ $rc = 0 ]; then echo "wine-smoke: passed"; else echo "wine-smoke: FAILED"; fi
exit $rc
