#!/usr/bin/env bash
# tools/setup.sh against stand-ins for apt-get, dpkg, dpkg-query, sudo and
# sleep, in a copy of the checkout's tools folder: nothing is installed and
# no time is waited.  Two mirrors:
#   split  the i386 index of the security suite cannot be fetched, so an
#          install across both architectures fails until it is asked of the
#          release suite alone (-t CODENAME), as seen on a mirror in mid-sync;
#   broken every install fails: setup must fail, with apt's own lines and
#          the packages it asked for.
#   check_setup.sh PATH-TO-setup.sh
set -euo pipefail
setup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

mkdir -p "$work/bin" "$work/tree/tools" "$work/etc/sources.list.d" \
         "$work/tree/third_party/lua5.1/src" "$work/tree/third_party/libdeflate/lib"
cp "$setup" "$work/tree/tools/setup.sh"
touch "$work/tree/third_party/lua5.1/src/lua.h" "$work/tree/third_party/libdeflate/lib/crc32.c"

cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "apt-get $*" >>"$QELV_STANDIN_LOG"
case "$1" in
  update)
    echo "E: Failed to fetch http://deb.example/debian-security/dists/x-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
    exit 100 ;;
  install)
    if [ "$QELV_STANDIN_MIRROR" = split ] && [[ " $* " == *" -t "* ]]; then exit 0; fi
    echo "The following packages have unmet dependencies:"
    echo " wine32:i386 : Depends: libz1:i386 (= 1:1.2.13-1) but 1:1.2.13-1+u1 is to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
esac
exit 0
STANDIN
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"   # nothing is installed
printf '#!/bin/sh\necho "dpkg $*" >>"$QELV_STANDIN_LOG"\n' >"$work/bin/dpkg"
printf '#!/bin/sh\n"$@"\n' >"$work/bin/sudo"
printf '#!/bin/sh\n' >"$work/bin/sleep"
chmod +x "$work/bin/"*

failed=0
check() {  # check WHAT CONDITION...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=$((failed + 1)); fi
}
run_setup() {  # run_setup MIRROR: its status; its output in $work/out, its calls in $work/log
  : >"$work/log"
  local rc=0
  env PATH="$work/bin:$PATH" QELV_STANDIN_LOG="$work/log" QELV_STANDIN_MIRROR="$1" \
      QELV_APT_ETC="$work/etc" QELV_WINE_MODE=native SUDO= \
      bash "$work/tree/tools/setup.sh" >"$work/out" 2>&1 || rc=$?
  return $rc
}
count() { grep -c -- "$1" "$work/log" || true; }

rc=0; run_setup split || rc=$?
check "a split mirror: setup succeeds" test $rc = 0
check "a split mirror: setup says it is ready" grep -q '^setup: ready$' "$work/out"
check "a split mirror: update tried four times" test "$(count '^apt-get update')" = 4
check "a split mirror: the release suite asked once the plain install failed" \
      grep -q -- "^apt-get install .* -t $codename .*wine32:i386" "$work/log"
check "a split mirror: the i386 architecture added" grep -q '^dpkg --add-architecture i386$' "$work/log"

rc=0; run_setup broken || rc=$?
check "a broken mirror: setup fails" test $rc != 0
check "a broken mirror: apt's own error line shown" \
      grep -q 'E: Unable to correct problems, you have held broken packages.' "$work/out"
check "a broken mirror: which package and why shown" grep -q 'wine32:i386 : Depends:' "$work/out"
check "a broken mirror: the packages asked for listed" \
      grep -q '^setup: the packages asked for: .*g++-mingw-w64-i686-posix.*wine32:i386' "$work/out"
check "a broken mirror: not said to be ready" bash -c "! grep -q 'setup: ready' '$work/out'"
check "a broken mirror: three tries, each also from the release suite" \
      test "$(count "^apt-get install .* -t $codename ")" = 3

if [ $failed -gt 0 ]; then
  echo "--- the last run's output:"; cat "$work/out"
fi
echo "setup stand-ins: $((11 - failed)) passed, $failed failed"
[ $failed = 0 ]
