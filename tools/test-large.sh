#!/usr/bin/env bash
# Files of gigabytes through the module in the host stand-in: a 3 GiB sparse
# file and a 1 GiB random one, each encrypted and decrypted to other files
# and in place, compared byte for byte; then two files that are not what
# they claim, refused quickly.  Nothing else may be left in the folder.
#   test-large.sh WORK-DIR HOST-FOLDER-NAME -- HOST-COMMAND...
# HOST-FOLDER-NAME is WORK-DIR as the host sees it (Z:... under Wine).
# Exit 77 (CTest's skip) with a banner when the disk has too little room.
set -euo pipefail
work=$1 seen=$2
shift 3
host=("$@")
script=$(cd "$(dirname "$0")/.." && pwd)/tests/lua/large_files.lua
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
# Peak use: the 3 GiB file's .dat and .back, its in-place copy and that
# copy's temporary file.
need_kib=$((14 * 1024 * 1024))
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "!! large-file test NOT RUN: $((free_kib / 1048576)) GiB free in $work, 14 GiB needed"
  exit 77
fi

leftovers() {  # anything in the folder but the expected names
  local extra
  extra=$(cd "$work" && ls -A | grep -vxF -f <(printf '%s\n' "$@") || true)
  if [ -n "$extra" ]; then echo "left behind: $extra"; return 1; fi
}

for case in "big 3221225472 sparse" "random 1073741824 random"; do
  read -r name size kind <<<"$case"
  if [ "$kind" = sparse ]; then
    truncate -s "$size" "$work/$name"
    printf 'start' | dd of="$work/$name" conv=notrunc status=none
    printf 'end' | dd of="$work/$name" bs=1 seek=$((size - 3)) conv=notrunc status=none
  else
    head -c "$size" /dev/urandom >"$work/$name"
  fi
  cp --sparse=always "$work/$name" "$work/$name.ip"
  start=$(date +%s)
  echo "== $name, $size bytes"
  "${host[@]}" "$script" "$seen" "$name"
  echo "   $(( $(date +%s) - start )) s in all"
  cmp "$work/$name" "$work/$name.back"
  cmp "$work/$name" "$work/$name.ip"
  [ "$(stat -c %s "$work/$name.dat")" = $(( 23 + (size + 7) / 8 * 8 )) ]
  leftovers "$name" "$name.dat" "$name.back" "$name.ip"
  rm -f "$work/$name"*
done

echo "== refusals"
head -c 100 /dev/urandom >"$work/body"
# plain_size 2^62, pad_count 0, then iv, CRC and the constants, then 100 bytes.
printf '\x00\x00\x00\x00\x00\x00\x00\x40\x00\x11\x22\x33\x44\x55\x66\x77\x88\xde\xad\xbe\xef\x02\x00' \
  | cat - "$work/body" >"$work/claim.dat"
rm "$work/body"
[ "$(stat -c %s "$work/claim.dat")" = 123 ]
text=$(printf 'Plain words, nothing sealed here.\n%.0s' $(seq 80))
printf '%s' "${text:0:2600}" >"$work/text.txt"
cp "$work/claim.dat" "$work/claim.keep"
cp "$work/text.txt" "$work/text.keep"
"${host[@]}" "$script" "$seen" refusals
cmp "$work/claim.dat" "$work/claim.keep"
cmp "$work/text.txt" "$work/text.keep"
leftovers claim.dat claim.keep text.txt text.keep
echo "large files: all passed"
