#!/usr/bin/env bash
# The Windows build's smoke run with Wine under qemu-i386 user-mode
# emulation, for machines that cannot execute 32-bit x86 programs (and, when
# forced, for those that can).  Each Wine process start costs about a minute
# there, so everything runs in one qelv_host.exe process:
# tests/lua/wine_smoke.lua runs the bindings, exports and exchange scripts.
# The native qelv makes the file the Windows module decrypts, and decrypts
# the one it encrypts.  Needs root, qemu-user-static, and both trees built.
#   wine-smoke.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. tools/wine-env.sh
work=$root/build/wine-smoke
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc
# Any i386 ELF executable or shared object goes to qemu.  P keeps argv[0],
# F opens the interpreter now, so that it is found in any mount namespace.
handler=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'$qemu':PF'
# A Wine prefix of its own, so that its wineserver runs under the emulator
# too, apart from any native one.  Making it takes about a quarter of an
# hour under emulation, so it is kept outside the clone and reused.
prefix=${QELV_WINE_EMULATED_PREFIX:-$HOME/.cache/qelv/wine-emulated-prefix}

# Ends every Wine process of the run: through the server, and, inside the
# PID namespace (where this script is process 1), by signal, for when the
# server itself has died.
end_wine() {
  wineserver -k 2>/dev/null || true
  if [ $$ = 1 ]; then kill -9 -1 2>/dev/null || true; fi
}

# Makes the prefix unless a finished one is there.  The loader waits five
# minutes for wineboot, then gives up (exit status 53) while wineboot carries
# on, so the server's exit is what tells that it is done.  The emulated
# wineserver has crashed while making a prefix, leaving its clients waiting
# for ever: hence the time limits, and a second try.
make_prefix() {
  [ -f "$prefix/.qelv-ready" ] && return 0
  local try
  for try in 1 2; do
    echo "wine-smoke: making the Wine prefix $prefix (try $try; about 15 minutes)"
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    timeout 600 wine wineboot --init </dev/null >"$work/prefix.log" 2>&1 || true
    timeout 1200 wineserver -w || true
    if [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] &&
       ! grep -q 'wineserver crashed' "$work/prefix.log"; then
      touch "$prefix/.qelv-ready"
      return 0
    fi
    grep -v ':fixme:' "$work/prefix.log" | tail -5 >&2
    end_wine
  done
  echo "wine-smoke: the prefix was not made; see $work/prefix.log" >&2
  return 1
}

# With the handler registered (the caller has made binfmt_misc writable):
# the prefix, then the host once.
run_emulated() {
  echo "$handler" >"$binfmt/register"
  trap 'end_wine; echo -1 >"$binfmt/qemu-i386"' EXIT
  export WINEPREFIX=$prefix
  make_prefix
  # Output to a file, not a pipe: Wine's services keep what they inherit
  # open.  A run takes 8 to 13 minutes; the limit is for a server crash.
  timeout 1800 wine build/win32/qelv_host.exe tests/lua/wine_smoke.lua "Z:$work" </dev/null >"$work/host.log" 2>&1
}

if [ "${1:-}" = --inside ]; then
  # In namespaces of its own: a private binfmt_misc, and a PID namespace
  # whose every process ends when this script does, even a Wine service
  # that the server left stopped.
  mount -t binfmt_misc binfmt_misc "$binfmt"
  run_emulated
  exit
fi

[ -x "$qemu" ] || { echo "wine-smoke: $qemu missing (tools/setup.sh installs it)" >&2; exit 1; }
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
# One emulated run at a time per prefix: one run's wineserver -k would end
# the other's host.  Only this script holds the lock, not what it starts.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

start=$SECONDS
rc=0
# Linux 6.7 and later give each user namespace a binfmt_misc of its own, so
# the handler reaches only this run's processes.  A system-wide handler
# would take every 32-bit program on the machine into the emulator, other
# users' Wine included: it is only the fallback for older kernels.
if unshare --user --map-root-user --mount sh -c "mount -t binfmt_misc none $binfmt" 2>/dev/null; then
  echo "wine-smoke: qemu-i386 handler in a private binfmt_misc"
  unshare --user --map-root-user --mount --pid --fork --mount-proc \
    bash "$root/tools/wine-smoke.sh" --inside 9>&- || rc=$?
else
  echo "wine-smoke: qemu-i386 handler system-wide (no private binfmt_misc on this kernel)"
  mounted=0
  if [ ! -e "$binfmt/register" ]; then mount -t binfmt_misc binfmt_misc "$binfmt"; mounted=1; fi
  (run_emulated) 9>&- || rc=$?
  if [ $mounted = 1 ]; then umount "$binfmt"; fi
fi
[ -f "$work/host.log" ] && cat "$work/host.log"
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
