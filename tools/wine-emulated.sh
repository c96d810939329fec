#!/usr/bin/env bash
# Runs a command with Wine under qemu-i386 user-mode emulation, for machines
# that cannot execute 32-bit x86 programs (and, when asked, for those that
# can): every i386 program the command starts, Wine included, goes to the
# emulator.  The Wine prefix is one of its own, kept and reused.  Each Wine
# process start costs about a minute there, so run few of them.
#   wine-emulated.sh COMMAND [ARGUMENT...]
# e.g. (cd build/win32 && bash ../../tools/wine-emulated.sh ctest -R windows_names)
# Needs root and qemu-user-static (tools/setup.sh installs it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/wine-env.sh"
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc
# Any i386 ELF executable or shared object goes to qemu.  P keeps argv[0],
# F opens the interpreter now, so that it is found in any mount namespace.
handler=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'$qemu':PF'
# A Wine prefix of its own, so that its wineserver runs under the emulator
# too, apart from any native one.  Making it takes about a quarter of an
# hour under emulation, so it is kept outside the clone and reused.
prefix=${QELV_WINE_EMULATED_PREFIX:-$HOME/.cache/qelv/wine-emulated-prefix}
log=${prefix}.log

# Ends every Wine process of the run: through the server, and, inside the
# PID namespace (where the inner script is process 1), by signal, for when
# the server itself has died.
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
    echo "wine-emulated: making the Wine prefix $prefix (try $try; about 15 minutes)"
    rm -rf "$prefix"
    timeout 600 wine wineboot --init </dev/null >"$log" 2>&1 || true
    timeout 1200 wineserver -w || true
    if [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] &&
       ! grep -q 'wineserver crashed' "$log"; then
      touch "$prefix/.qelv-ready"
      return 0
    fi
    grep -v ':fixme:' "$log" | tail -5 >&2
    end_wine
  done
  echo "wine-emulated: the prefix was not made; see $log" >&2
  return 1
}

# With the handler registered (binfmt_misc writable): the prefix, then the
# command, and Wine ended whatever its outcome.
run_emulated() {
  echo "$handler" >"$binfmt/register"
  trap 'end_wine; echo -1 >"$binfmt/qemu-i386"' EXIT
  export WINEPREFIX=$prefix
  make_prefix
  # One server and one set of Wine's services for the whole command: each
  # start of them costs minutes under emulation.
  wine_up
  "$@"
}

if [ "${1:-}" = --inside ]; then
  # In namespaces of its own: a private binfmt_misc, and a PID namespace
  # whose every process ends when this script does, even a Wine service
  # that the server left stopped.
  shift
  mount -t binfmt_misc binfmt_misc "$binfmt"
  run_emulated "$@"
  exit
fi

[ $# -ge 1 ] || { echo "usage: wine-emulated.sh COMMAND [ARGUMENT...]" >&2; exit 2; }
[ -x "$qemu" ] || { echo "wine-emulated: $qemu missing (tools/setup.sh installs it)" >&2; exit 1; }
# One emulated run at a time per prefix: one run's wineserver -k would end
# the other's programs.  Only this script holds the lock, not what it starts.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

# Linux 6.7 and later give each user namespace a binfmt_misc of its own, so
# the handler reaches only this run's processes.  A system-wide handler
# would take every 32-bit program on the machine into the emulator, other
# users' Wine included: it is only the fallback for older kernels.
if unshare --user --map-root-user --mount sh -c "mount -t binfmt_misc none $binfmt" 2>/dev/null; then
  echo "wine-emulated: qemu-i386 handler in a private binfmt_misc"
  rc=0
  unshare --user --map-root-user --mount --pid --fork --mount-proc \
    bash "$root/tools/wine-emulated.sh" --inside "$@" 9>&- || rc=$?
  exit $rc
fi
echo "wine-emulated: qemu-i386 handler system-wide (no private binfmt_misc on this kernel)"
mounted=0
if [ ! -e "$binfmt/register" ]; then mount -t binfmt_misc binfmt_misc "$binfmt"; mounted=1; fi
rc=0
(run_emulated "$@") 9>&- || rc=$?
if [ $mounted = 1 ]; then umount "$binfmt"; fi
exit $rc
