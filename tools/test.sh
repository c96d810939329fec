#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: natively,
# under the sanitizers, then the Windows build.  Where this machine runs
# 32-bit x86 programs, the Windows build's whole suite runs under Wine;
# elsewhere a smoke run with Wine under qemu-i386 emulation does
# (tools/wine-smoke.sh).  QELV_WINE_MODE=native or emulated forces one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode=${QELV_WINE_MODE:-auto}
case "$mode" in
  auto | native | emulated) ;;
  *) echo "QELV_WINE_MODE must be auto, native or emulated, not '$mode'" >&2; exit 2 ;;
esac
export QELV_WINE_MODE=$mode  # setup installs qemu when it is wanted
bash tools/setup.sh
bash tools/build.sh
. tools/wine-env.sh
status=0
echo "== native tests"
(cd build/native && ctest --output-on-failure) || status=1
echo "== native test programs under AddressSanitizer and UndefinedBehaviorSanitizer"
bash tools/test-sanitizers.sh || status=1
echo "== fuzzing, 60 s per target"
bash tools/fuzz.sh 60 || status=1

if [ "$mode" = auto ]; then
  if wine_can_run; then mode=native; else mode=emulated; fi
fi
windows_status=0
if [ "$mode" = native ]; then
  echo "== Windows tests: the full suite under Wine"
  if wine_can_run; then
    wine_up
    (cd build/win32 && ctest --output-on-failure) || windows_status=1
    wine_down
    windows="the full suite under Wine"
  else
    wine_cannot_run_notice
    windows_status=1
    windows="NOT RUN: this machine cannot execute 32-bit programs"
  fi
else
  echo "== Windows tests: a smoke run only, Wine under qemu-i386 emulation"
  bash tools/wine-smoke.sh || windows_status=1
  windows="a smoke run only (bindings, exports and exchange scripts in one host process, Wine under qemu-i386), not the full suite"
fi
[ $windows_status = 0 ] && result=passed || result=FAILED
echo "== Windows build: $windows: $result"
[ $windows_status = 0 ] || status=1
exit $status
