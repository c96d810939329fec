#!/usr/bin/env bash
# Times a batch of 64 files of 4 MiB through qelv with one worker and with
# two, in the same run: encrypt into a folder, then decrypt back, each the
# best of two runs.  The files are random and lie in a fresh folder under
# FOLDER (default /tmp), removed at the end.
#   bench-batch.sh [FOLDER] [-- COMMAND...]   (default command: build/native/qelv)
#   bench-batch.sh /tmp -- wine build/win32/qelv.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=${1:-/tmp}
[ "${1:-}" = "--" ] && base=/tmp
while [ $# -gt 0 ] && [ "$1" != "--" ]; do shift; done
[ "${1:-}" = "--" ] && shift
if [ $# -eq 0 ]; then set -- "$root/build/native/qelv"; fi
work=$(mktemp -d "$base/qelv-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir plain
for i in $(seq -w 1 64); do head -c 4194304 /dev/urandom > "plain/f$i.bin"; done
export QELV_BATCH_KEY='batch key'
bytes=$((64 * 4194304))

# "SECONDS CPU-SECONDS" of the best of two runs of one command (by elapsed
# time); the output folder is emptied first.  CPU seconds over seconds is the
# number of cores the run kept busy.
best_of_two() {
  local out=$1; shift
  local best="" line
  for run in 1 2; do
    rm -rf "$out"; mkdir "$out"
    line=$(/usr/bin/time -f '%e %U %S' "$@" 2>&1 >/dev/null | tail -1)
    best=$(echo "$line ${best:-inf 0}" | awk '{t = $1; c = $2 + $3;
      if ($4 != "inf" && $4 < t) { t = $4; c = $5 } printf "%.2f %.2f", t, c}')
  done
  echo "$best"
}

# The share of the machine's processor time that was idle over one second,
# in percent: the other users of a shared machine show here.
idle_percent() {
  local a b
  read -r -a a < <(grep '^cpu ' /proc/stat)
  sleep 1
  read -r -a b < <(grep '^cpu ' /proc/stat)
  local total=0
  for i in 1 2 3 4 5 6 7 8; do total=$((total + b[i] - a[i])); done
  echo $((100 * (b[4] - a[4]) / (total > 0 ? total : 1)))
}

echo "$(nproc) processors; idle before: $(idle_percent)%"
printf '%-8s %4s %8s %8s %7s %8s\n' command jobs seconds cpu-s cores MB/s
report() {
  echo "$1 $2 $3 $4 $bytes" | awk '{printf "%-8s %4s %8.2f %8.2f %7.2f %8.1f\n",
    $1, $2, $3, $4, $4 / $3, $5 / $3 / 1e6}'
}
for jobs in 1 2; do
  report encrypt "$jobs" $(best_of_two "enc$jobs" "$@" encrypt -q -j "$jobs" \
    --key-env QELV_BATCH_KEY -d "enc$jobs" 'plain/*.bin')
done
for jobs in 1 2; do
  report decrypt "$jobs" $(best_of_two "back$jobs" "$@" decrypt -q -j "$jobs" \
    --key-env QELV_BATCH_KEY -d "back$jobs" 'enc1/*.dat')
done
echo "idle after: $(idle_percent)%"
cmp -s plain/f01.bin back2/f01.bin || { echo "bench-batch: f01 did not come back whole" >&2; exit 1; }
