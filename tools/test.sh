#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: natively,
# under the sanitizers, the fuzz targets, then the Windows build.  Where this
# machine runs 32-bit x86 programs, the Windows build's whole suite runs
# under Wine; elsewhere a smoke run with Wine under qemu-i386 emulation does
# (tools/wine-smoke.sh).  QELV_WINE_MODE=native or emulated forces one.
# Then the release as it ships (tools/release.sh): the module built with the
# host's Lua 5.0.2 from the tree ../shared/lua-5.0.2 beside the checkout (or
# $QELV_LUA50_DIR), its whole Windows suite run on it (the module's tests of
# build/win32, on the 5.1 stand-in, are left to it), its packages made,
# installed, checked and removed (tools/test-packages.sh), and the release
# built a second time elsewhere to the same bytes.  Where no such tree is,
# that part is skipped with a banner, the module's Windows tests run on the
# stand-in, and the stand-in trees' packages are checked.
# The last line gives each part's result, the Lua the shipped module was
# tested with, and "N passed, N failed" over the parts; the exit status is 0
# only when every part passed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode=${QELV_WINE_MODE:-auto}
case "$mode" in
  auto | native | emulated) ;;
  *) echo "QELV_WINE_MODE must be auto, native or emulated, not '$mode'" >&2; exit 2 ;;
esac
export QELV_WINE_MODE=$mode  # setup installs qemu when it is wanted
# The Lua 5.0.2 tree for the release.  Absent by default: skipped with a
# banner; named in QELV_LUA50_DIR but absent: a usage error.
lua50=${QELV_LUA50_DIR:-$root/../shared/lua-5.0.2}
release=1
if [ ! -d "$lua50" ]; then
  release=0
  if [ -n "${QELV_LUA50_DIR:-}" ]; then
    echo "QELV_LUA50_DIR=$QELV_LUA50_DIR is no folder" >&2
    exit 2
  fi
fi
bash tools/setup.sh
bash tools/build.sh
. tools/wine-env.sh

parts=() passed=0 failed=0 skipped=0
record() {  # record NAME STATUS
  if [ "$2" = 0 ]; then parts+=("$1: passed"); passed=$((passed + 1))
  else parts+=("$1: FAILED"); failed=$((failed + 1)); fi
}

# The module's Windows tests run on the release tree when there is one.
if [ $release = 1 ]; then win32_select=(-LE module); else win32_select=(); fi

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
    (cd build/win32 && ctest "${win32_select[@]}" -E '^window_driver$' --output-on-failure) || rc=1
    wine_down
    # The window's driver under a Wine server of its own, started with the
    # display the driver makes: a desktop that Wine's services started
    # without one (wine_up) gives every later window no display driver.
    (cd build/win32 && ctest -R '^window_driver$' --output-on-failure) || rc=1
    wine_down
    if [ $release = 1 ]; then
      windows="Windows, the tool's and the window's suite under Wine"
    else
      windows="Windows, the full suite under Wine (the module's on the Lua 5.1 stand-in)"
    fi
  else
    wine_cannot_run_notice
    rc=1
    windows="Windows NOT RUN (this machine cannot execute 32-bit programs)"
  fi
else
  echo "== Windows tests: the checks of the programs' files, and a smoke run, Wine under qemu-i386 emulation"
  (cd build/win32 && ctest --output-on-failure -L no_wine "${win32_select[@]}") || rc=1
  if [ $release = 1 ]; then
    windows="Windows, the tool's import checks only (Wine under qemu-i386, not the full suite)"
  else
    bash tools/wine-smoke.sh || rc=1
    windows="Windows, the module's import checks and a smoke run on the Lua 5.1 stand-in only (Wine under qemu-i386, not the full suite)"
  fi
fi
record "$windows" $rc

if [ $release = 1 ]; then
  echo "== release: Qelv.lmd built with Lua 5.0.2 and tested as it ships; its packages"
  rc=0; bash tools/release.sh "$lua50" || rc=1
  # The Lua named is the one the built module holds, from its version text.
  shipped_lua=$(grep -ao '\$Lua: Lua [0-9.]*' build/release/win32/Qelv.lmd 2>/dev/null | head -1 |
                sed 's/^\$Lua: //') || true
  shipped="the shipped Qelv.lmd tested with ${shipped_lua:-no Lua (it was not built)}, in the host stand-in with its own copy of it"
  if [ $mode = native ]; then
    shipped="$shipped: its Windows suite under Wine, and its packages"
  else
    shipped="$shipped: its import checks and a smoke run (Wine under qemu-i386), and its packages"
  fi
  record "$shipped" $rc
  echo "== release: built a second time, in another folder, to the same bytes"
  rc=0
  again=build/release-again
  bash tools/release.sh --no-tests --build "$again" --dist "$again/dist" "$lua50" >"$root/build/release-again.log" 2>&1 ||
    { tail -n 30 "$root/build/release-again.log"; rc=1; }
  if [ $rc = 0 ]; then
    cat "$again/dist/SHA256SUMS"
    cmp build/dist/SHA256SUMS "$again/dist/SHA256SUMS" || { echo "release: the second build differs"; rc=1; }
  fi
  record "the release built twice, byte-identical SHA256SUMS" $rc
else
  banner="the shipped module NOT BUILT OR TESTED: no Lua 5.0.2 tree at ../shared/lua-5.0.2 beside the checkout (QELV_LUA50_DIR names another); the module was tested on the Lua 5.1 stand-in only"
  echo "!! $banner"
  parts+=("!! $banner")
  skipped=$((skipped + 1))
  echo "== packages: the .deb installed, checked and removed; the Windows zip's programs under Wine"
  rc=0; bash tools/test-packages.sh || rc=1
  record "packages (of the stand-in trees, for tests only)" $rc
fi

summary=$(IFS=';'; echo "${parts[*]}" | sed 's/;/; /g')
counts="$passed passed, $failed failed"
[ $skipped = 0 ] || counts="$counts, $skipped skipped"
echo "== $summary. $counts"
[ $failed = 0 ]
