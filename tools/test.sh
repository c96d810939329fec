#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: natively,
# under the sanitizers, the fuzz targets, then the Windows build.  Where this
# machine runs 32-bit x86 programs, the Windows build's whole suite runs
# under Wine; elsewhere a smoke run with Wine under qemu-i386 emulation does
# (tools/wine-smoke.sh).  QELV_WINE_MODE=native or emulated forces one.
# The last line gives each part's result and "N passed, N failed" over the
# parts; the exit status is 0 only when every part passed.  Last, the
# packages are made, installed, checked and removed (tools/test-packages.sh).
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

parts=() passed=0 failed=0
record() {  # record NAME STATUS
  if [ "$2" = 0 ]; then parts+=("$1: passed"); passed=$((passed + 1))
  else parts+=("$1: FAILED"); failed=$((failed + 1)); fi
}

echo "== native tests"
rc=0; (cd build/native && ctest --output-on-failure) || rc=1
record "native tests" $rc
echo "== native test programs under AddressSanitizer and UndefinedBehaviorSanitizer"
rc=0; bash tools/test-sanitizers.sh || rc=1
record "sanitizers" $rc
echo "== fuzzing, 60 s per target"
rc=0; bash tools/fuzz.sh 60 || rc=1
record "fuzzing" $rc

if [ "$mode" = auto ]; then
  if wine_can_run; then mode=native; else mode=emulated; fi
fi
rc=0
if [ "$mode" = native ]; then
  echo "== Windows tests: the full suite under Wine"
  if wine_can_run; then
    wine_up
    (cd build/win32 && ctest --output-on-failure) || rc=1
    wine_down
    windows="Windows, the full suite under Wine"
  else
    wine_cannot_run_notice
    rc=1
    windows="Windows NOT RUN (this machine cannot execute 32-bit programs)"
  fi
else
  echo "== Windows tests: the checks of the module's files, and a smoke run, Wine under qemu-i386 emulation"
  (cd build/win32 && ctest --output-on-failure -L no_wine) || rc=1
  bash tools/wine-smoke.sh || rc=1
  windows="Windows, the module's import checks and a smoke run only (Wine under qemu-i386, not the full suite)"
fi
record "$windows" $rc

echo "== packages: the .deb installed, checked and removed; the Windows zip's programs under Wine"
rc=0; bash tools/test-packages.sh || rc=1
record "packages" $rc

summary=$(IFS=';'; echo "${parts[*]}" | sed 's/;/; /g')
echo "== $summary. $passed passed, $failed failed"
[ $failed = 0 ]
