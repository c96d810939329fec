#!/usr/bin/env bash
# The build step over a project tree against rsync over the same tree, in
# one run, in turn: the first run (qelv encrypt -u -r -d into an empty
# folder, against rsync -a copying into an empty one), then an unchanged
# re-run (against rsync -a --checksum, which also reads both sides whole),
# each five times; medians of wall and processor seconds.  Each first run
# writes a folder of its own, all removed only at the end: ext4 searches
# long for free inodes among files removed moments before, which would
# slow whichever side came after a removal.  The tree comes
# from make-tree.py (fixed seed) in a fresh folder under FOLDER (default
# /tmp), removed at the end.  Needs rsync.
#   rerun-vs-rsync.sh small|large [FOLDER] [-- COMMAND...]   (default command: build/native/qelv)
#   rerun-vs-rsync.sh small /tmp -- wine build/win32/qelv.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:?small or large}; shift
base=/tmp
if [ $# -gt 0 ] && [ "$1" != "--" ]; then base=$1; shift; fi
[ "${1:-}" = "--" ] && shift
if [ $# -eq 0 ]; then set -- "$root/build/native/qelv"; fi
command -v rsync >/dev/null || { echo "rerun-vs-rsync: rsync is missing (apt-get install rsync)"; exit 1; }
work=$(mktemp -d "$base/qelv-rerun.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/make-tree.py" "$work/data" "$kind"
cd "$work"
export QELV_BENCH_KEY='bench key'
qelv=("$@")

# "WALL CPU" seconds of one run of a command.
timed() {
  /usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{printf "%.3f %.3f\n", $1, $2 + $3}'
}
# The median of the numbers on standard input.
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

first_qelv=() first_rsync=() again_qelv=() again_rsync=()
for run in 1 2 3 4 5; do
  step=("${qelv[@]}" encrypt --key-env QELV_BENCH_KEY -q -u -r -j 2 -d dist.$run data)
  sync; first_qelv+=("$(timed "${step[@]}")")
  sync; first_rsync+=("$(timed rsync -a data/ copy.$run/)")
  sync; again_qelv+=("$(timed "${step[@]}")")
  sync; again_rsync+=("$(timed rsync -a --checksum data/ copy.$run/)")
done
# The build step's outputs must be whole: one per input, and the re-run writes nothing.
inputs=$(find data -type f | wc -l) outputs=$(find dist.5 -type f | wc -l)
[ "$inputs" = "$outputs" ] || { echo "rerun-vs-rsync: $outputs outputs for $inputs inputs"; exit 1; }
bytes=$(du -sb data | cut -f1)
report() {  # NAME TIMES...
  local name=$1; shift
  local wall cpu
  wall=$(printf '%s\n' "$@" | cut -d' ' -f1 | median)
  cpu=$(printf '%s\n' "$@" | cut -d' ' -f2 | median)
  printf '%-34s %8s s wall %8s s processor\n' "$name" "$wall" "$cpu"
}
echo "tree: $inputs files, $bytes bytes ($kind); medians of 5"
report "qelv encrypt -u, first run" "${first_qelv[@]}"
report "rsync -a, first copy" "${first_rsync[@]}"
report "qelv encrypt -u, unchanged" "${again_qelv[@]}"
report "rsync -a --checksum, unchanged" "${again_rsync[@]}"
