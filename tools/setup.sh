#!/usr/bin/env bash
# Installs what the project builds and tests with, from Debian's archive.
# Idempotent: asks apt only for what is missing, adds the i386 architecture
# (for 32-bit Wine) and the source-package entry (for the Lua sources) only
# when they are not there yet, and runs `apt-get update` at most once.
#
# A mirror in the middle of a sync serves an index whose size disagrees with
# its Release file, and apt-get update then fails for that index alone, for
# as long as the sync lasts (days, seen here).  When the index missing is one
# architecture's of the security suite, the amd64 libraries are offered at
# their security versions and their i386 twins only at the release's, and
# 32-bit Wine, which needs both at one version, cannot be installed.  So an
# install that fails is tried again from the release suite alone (-t
# CODENAME), where both architectures agree.  When that fails too, apt's own
# last lines and the packages asked for are printed, and setup fails.
set -euo pipefail

[ "$(id -u)" = 0 ] || SUDO=sudo
SUDO=${SUDO:-}
export DEBIAN_FRONTEND=noninteractive
apt_etc=${QELV_APT_ETC:-/etc/apt}  # another folder only for setup's own test
codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT

updated=0
apt_update() {
  [ "$updated" = 1 ] && return 0
  local try
  for try in 1 2 3 4; do
    if $SUDO apt-get update -qq -o Acquire::Retries=3; then updated=1; return 0; fi
    [ "$try" = 4 ] || { echo "setup: apt-get update failed (try $try of 4), again in $((try * 20)) s" >&2; sleep $((try * 20)); }
  done
  echo "setup: some package lists could not be fetched; going on with those there are" >&2
  updated=1
}

# One install as apt is asked for it, its output kept in apt_log.
apt_install_once() {
  $SUDO apt-get install -y -qq --no-install-recommends -o Acquire::Retries=3 "$@" >"$apt_log" 2>&1
}

apt_install() {
  local try
  for try in 1 2 3; do
    apt_install_once "$@" && return 0
    if [ -n "$codename" ]; then
      echo "setup: apt-get install failed; trying the $codename suite alone" >&2
      apt_install_once -t "$codename" "$@" && return 0
    fi
    [ "$try" = 3 ] || { echo "setup: apt-get install failed (try $try of 3), again in $((try * 20)) s" >&2; sleep $((try * 20)); }
  done
  {
    echo "setup: apt-get install failed; its last lines:"
    tail -n 20 "$apt_log" | sed 's/^/  /'
    echo "setup: the packages asked for: $*"
  } >&2
  return 1
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

native=(cmake ninja-build g++ make zlib1g-dev libdeflate-dev libgtest-dev googletest libbenchmark-dev
        liblua5.1-0-dev dpkg-dev time clang-14 libclang-rt-14-dev valgrind)
win32=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
       mingw-w64-i686-dev libz-mingw-w64-dev wine
       xvfb)  # a display for the window program's test, where none is
browser=(chromium python3)  # the help page test renders the page
packaging=(lintian man-db groff-base)  # the packages' checks; the man page rendered

with_win32=1
case " ${QELV_SETUP_SKIP:-} " in *" win32 "*) with_win32=0 ;; esac
want=("${native[@]}" "${browser[@]}" "${packaging[@]}")
[ $with_win32 = 1 ] && want+=("${win32[@]}")

missing=()
for p in "${want[@]}"; do installed "$p" || missing+=("$p"); done

# 32-bit Wine needs the i386 architecture; add it only when wine32 is missing.
if [ $with_win32 = 1 ] && ! installed wine32:i386; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=0
  fi
  missing+=(wine32:i386)
fi

# The Windows build compiles Lua from Debian's source package.
if ! grep -rqs '^Types:.*deb-src' "$apt_etc/sources.list.d/" && ! grep -qs '^deb-src' "$apt_etc/sources.list"; then
  $SUDO tee "$apt_etc/sources.list.d/qelv-deb-src.sources" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  updated=0
fi

if [ ${#missing[@]} -gt 0 ]; then
  apt_update
  apt_install "${missing[@]}"
fi

# Wine under qemu-i386 (tools/wine-smoke.sh) where this machine cannot run
# 32-bit programs, or where QELV_WINE_MODE=emulated asks for it; never when
# the Windows side is skipped or QELV_WINE_MODE=native.
want_qemu=0
case "${QELV_WINE_MODE:-auto}" in
  emulated) want_qemu=1 ;;
  auto) /usr/lib/wine/wine --version >/dev/null 2>&1 || want_qemu=1 ;;
esac
[ $with_win32 = 1 ] || want_qemu=0
if [ $want_qemu = 1 ] && ! installed qemu-user-static; then
  apt_update
  apt_install qemu-user-static
fi

# Sources that the Windows build compiles, from Debian's source packages,
# each unpacked once into third_party/NAME: Lua 5.1 for the stand-in DLL,
# libdeflate for its CRC-32.
here=$(cd "$(dirname "$0")/.." && pwd)
unpack_source() {  # unpack_source PACKAGE FOLDER FILE-THAT-MUST-EXIST
  [ -f "$here/third_party/$2/$3" ] && return 0
  # The lists this machine has are tried first: an update is asked for only
  # when they do not serve the source (a fresh machine, or an old list).
  local tmp
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source -qq --download-only "$1" >/dev/null 2>&1 || { apt_update; apt-get source -qq --download-only "$1" >/dev/null; })
  rm -rf "$here/third_party/$2"
  mkdir -p "$here/third_party/$2"
  tar -xzf "$tmp"/"$1"_*.orig.tar.gz -C "$here/third_party/$2" --strip-components=1
  rm -rf "$tmp"
}
unpack_source lua5.1 lua5.1 src/lua.h
unpack_source libdeflate libdeflate lib/crc32.c
echo "setup: ready"
