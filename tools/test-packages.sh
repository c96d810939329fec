#!/usr/bin/env bash
# The packages as people install them.  Builds both with CPack, then:
#   the .deb   installed with dpkg, checked by lintian (no error), its qelv,
#              man page and bash completion used from where they were
#              installed, the README's build step run with /usr/bin/qelv on
#              a small tree, then purged: nothing of it may be left.
#   the zip    unpacked into a fresh folder, its files as its name promises;
#              its qelv.exe encrypts a file, its module decrypts that file
#              (through the tree's host stand-in qelv_host.exe, placed beside
#              it) and encrypts it again, compared byte for byte and
#              decrypted by the native tree's qelv.  Wine runs natively where
#              this machine runs 32-bit programs, else under qemu emulation
#              in one run.
# Neither package names a placeholder address or web site.
# Needs root (dpkg), both trees built, and a machine where qelv is not
# installed already.  The exit status is 0 only when every check passed.
#   test-packages.sh [NATIVE-TREE WIN32-TREE]
# The trees are build/native and build/win32 (the 5.1 stand-in's, whose zip
# is for tests only) unless named: tools/release.sh names the release trees.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. tools/wine-env.sh

# The zip's round trip inside Wine: test-packages.sh --under-wine ZIPDIR WORK
if [ "${1:-}" = --under-wine ]; then
  wine "$2/qelv.exe" encrypt --jobs 1 --quiet --key-file "Z:$3/key.txt" \
    -o "Z:$3/plain.bin.dat" "Z:$3/plain.bin" || exit 1
  exec wine "$2/qelv_host.exe" --module "Z:$2/Qelv.lmd" "Z:$3/package_round_trip.lua" "Z:$3"
fi

native=$(cd "${1:-build/native}" && pwd) win32=$(cd "${2:-build/win32}" && pwd)
# dpkg, waiting while another process holds its lock: on a machine shared
# with other checkouts, another run's package checks.  Five minutes at most.
dpkg_waiting() {
  local try out
  for try in $(seq 60); do
    if out=$(dpkg "$@" 2>&1); then echo "$out"; return 0; fi
    grep -q 'lock' <<<"$out" || { echo "$out"; return 1; }
    sleep 5
  done
  echo "$out"
  return 1
}
qelv_installed() { dpkg-query -W -f='${Status}' qelv 2>/dev/null | grep -q 'ok installed'; }

failures=0
check() {  # check TEXT COMMAND...: runs COMMAND, says TEXT and whether it held
  if "${@:2}"; then echo "packages: ok: $1"
  else echo "packages: FAILED: $1"; failures=$((failures + 1)); fi
}
work=$(mktemp -d)
installed_here=0
cleanup() {
  [ $installed_here = 1 ] && dpkg_waiting -P qelv >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
echo "== packages of qelv $version, from $native and $win32"
(cd "$native" && cpack -G DEB) >"$work/cpack-native.log" 2>&1 ||
  { cat "$work/cpack-native.log"; echo "packages: FAILED: cpack in $native"; exit 1; }
(cd "$win32" && cpack -G ZIP) >"$work/cpack-win32.log" 2>&1 ||
  { cat "$work/cpack-win32.log"; echo "packages: FAILED: cpack in $win32"; exit 1; }
deb=$native/qelv_${version}_amd64.deb
zip=$(ls "$win32"/qelv-"$version"-win32*.zip | head -1)
for package in "$deb" "$zip"; do
  [ -f "$package" ] || { echo "packages: FAILED: $package was not made"; exit 1; }
  echo "packages: $package, $(stat -c %s "$package") bytes"
done

echo "== the Debian package"
# Another run's checks may have theirs installed for a minute or two.
for tick in $(seq 60); do qelv_installed && sleep 5 || break; done
if qelv_installed; then
  echo "packages: FAILED: a qelv package is installed already; remove it first (dpkg -P qelv)"
  exit 1
fi
dpkg-deb --contents "$deb"
dpkg-deb --field "$deb" Package Version Architecture Section Depends Maintainer Homepage
no_placeholder() {
  ! { dpkg-deb --field "$deb" Maintainer Homepage; dpkg-deb --fsys-tarfile "$deb" |
      tar -xO ./usr/share/doc/qelv/copyright; } | grep -Ein 'example\.(org|com|net)'
}
check "the .deb's Maintainer, Homepage and copyright name no placeholder address" no_placeholder
# A maintainer without an address is the default, which names the project
# alone (cmake/packaging.cmake): that one finding is said, not failed.
maintainer=$(dpkg-deb --field "$deb" Maintainer)
lintian_options=()
if [[ $maintainer != *"<"*"@"*">"* ]]; then
  echo "!! the .deb's Maintainer is '$maintainer', without an address: a release gives one (-DQELV_DEB_MAINTAINER)"
  lintian_options=(--suppress-tags malformed-contact)
fi
lintian_ok() {
  lintian --info "${lintian_options[@]}" "$deb" >"$work/lintian.log" 2>&1
  local rc=$?
  cat "$work/lintian.log"
  [ $rc = 0 ] && ! grep -q '^E:' "$work/lintian.log"
}
check "lintian finds no error" lintian_ok
check "dpkg -i installs it" dpkg_waiting -i "$deb"
installed_here=1
check "/usr/bin/qelv --version says $version" test "$(/usr/bin/qelv --version)" = "qelv $version"
man_ok() {
  local errors
  errors=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l /usr/share/man/man1/qelv.1.gz 2>&1 >"$work/man.txt")
  [ -z "$errors" ] || { echo "$errors"; return 1; }
  grep -q "qelv $version" "$work/man.txt" && grep -q '^EXIT STATUS' "$work/man.txt" &&
    [ "$(man -w qelv)" = /usr/share/man/man1/qelv.1.gz ]
}
check "man renders the installed page without warnings, and man -w finds it" man_ok
completion=/usr/share/bash-completion/completions/qelv
check "complete -p qelv in a bash that loads the installed completion" \
  bash -c ". $completion && complete -p qelv | grep -q -- '-F _qelv'"
check "scripted completions of the installed completion (qelv enc, options, .dat files)" \
  bash tests/check_completion.sh /usr/bin/qelv "$completion"

build_step() (
  set -e
  cd "$work" && mkdir -p step/data/x/y && cd step
  printf 'a text\n' >data/a.txt
  head -c 3000001 /dev/urandom >data/x/b.bin
  printf 'deep\n' >data/x/y/c.txt
  export QELV_KEY='project key'
  /usr/bin/qelv encrypt --key-env QELV_KEY -u -r -d dist data
  /usr/bin/qelv verify --key-env QELV_KEY -r dist
  test -f dist/a.txt.dat && test -f dist/x/b.bin.dat && test -f dist/x/y/c.txt.dat
  /usr/bin/qelv decrypt --quiet --key-env QELV_KEY -o - dist/x/b.bin.dat | cmp - data/x/b.bin
  # Run again over the unchanged tree, every output newer than its file
  # and older than the stamp: nothing is written.
  find data -type f -exec touch -d '3 minutes ago' {} +
  find dist -type f -exec touch -d '2 minutes ago' {} +
  touch -d '1 minute ago' stamp
  /usr/bin/qelv encrypt --key-env QELV_KEY -u -r -d dist data
  test -z "$(find dist -type f -newer stamp)"
)
check "the README's build step with /usr/bin/qelv, then again writing nothing" build_step

check "dpkg -P removes it" dpkg_waiting -P qelv
installed_here=0
check "dpkg knows no qelv files any more" bash -c '! dpkg -L qelv >/dev/null 2>&1'
left=()
for path in /usr/bin/qelv /usr/share/man/man1/qelv.1.gz "$completion" /usr/share/doc/qelv; do
  [ -e "$path" ] && left+=("$path")
done
check "nothing left behind (${left[*]:-none})" test ${#left[@]} = 0

echo "== the Windows zip"
unpacked=$work/zip
mkdir "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
top=$unpacked/$(basename "$zip" .zip)
(cd "$top" && ls -l)
wanted="LICENSE.txt Qelv.html Qelv.lmd README.txt qelv.exe qelvw.exe"
case $zip in
  *TEST-ONLY*)
    wanted="$wanted lua51.dll"
    check "the test-only zip's README.txt says so" grep -q 'FOR TESTS ONLY' "$top/README.txt" ;;
  *) check "the zip's module holds Lua 5.0.2" grep -aq '\$Lua: Lua 5\.0\.2 ' "$top/Qelv.lmd" ;;
esac
check "the zip holds exactly: $wanted" \
  test "$(cd "$unpacked" && find . -type f | sed 's|^\./[^/]*/||' | sort | xargs)" = "$(echo $wanted | tr ' ' '\n' | sort | xargs)"

# The tree's host stand-in: beside the stand-in's module it uses the zip's
# lua51.dll; the release tree's holds its own copy of Lua 5.0.2, as the host
# does.
if [ -f "$win32/qelv_host.exe" ]; then
  cp "$win32/qelv_host.exe" "$top/"
  round=$work/round
  mkdir "$round"
  head -c 1048589 /dev/urandom >"$round/plain.bin"  # a piece and a part
  printf 'zip round trip\n' >"$round/key.txt"
  # Everything Wine opens lies in the short temporary folder, wherever the
  # checkout is.
  cp tests/lua/package_round_trip.lua "$round/"
  rc=0
  start=$SECONDS
  if wine_can_run; then
    wine_up
    bash "$0" --under-wine "$top" "$round" </dev/null >"$work/wine.log" 2>&1 || rc=$?
    wine_down
  else
    # One emulated Wine run; output to a file, as Wine's services keep
    # what they inherit open.
    bash tools/wine-emulated.sh timeout 1200 bash "$0" --under-wine "$top" "$round" \
      </dev/null >"$work/wine.log" 2>&1 || rc=$?
  fi
  grep -v ':fixme:' "$work/wine.log" | tr -d '\r'
  echo "packages: Wine finished with status $rc after $((SECONDS - start)) s"
  check "qelv.exe and the module of the zip under Wine" test $rc = 0
  check "the module decrypted qelv.exe's file byte for byte" cmp "$round/plain.bin" "$round/decrypted.bin"
  check "the native qelv decrypts the module's file" \
    bash -c "$native/qelv decrypt --quiet --key-file '$round/key.txt' -o - '$round/from-module.dat' | cmp - '$round/plain.bin'"
fi

if [ $failures = 0 ]; then echo "packages: passed"; else echo "packages: $failures checks FAILED"; fi
[ $failures = 0 ]
