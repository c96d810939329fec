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

# Seconds of the best of two runs of one command; the folder is emptied first.
best_of_two() {
  local out=$1; shift
  local best=""
  for run in 1 2; do
    rm -rf "$out"; mkdir "$out"
    local start end
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-inf}" | awk '{t = $2 - $1; if ($3 != "inf" && $3 < t) t = $3; printf "%.3f", t}')
  done
  echo "$best"
}

printf '%-8s %4s %9s %9s\n' command jobs seconds MB/s
for jobs in 1 2; do
  s=$(best_of_two "enc$jobs" "$@" encrypt -q -j "$jobs" --key-env QELV_BATCH_KEY -d "enc$jobs" 'plain/*.bin')
  printf '%-8s %4s %9s %9.1f\n' encrypt "$jobs" "$s" "$(echo "$bytes $s" | awk '{print $1 / $2 / 1e6}')"
done
for jobs in 1 2; do
  s=$(best_of_two "back$jobs" "$@" decrypt -q -j "$jobs" --key-env QELV_BATCH_KEY -d "back$jobs" "enc1/*.dat")
  printf '%-8s %4s %9s %9.1f\n' decrypt "$jobs" "$s" "$(echo "$bytes $s" | awk '{print $1 / $2 / 1e6}')"
done
cmp -s plain/f01.bin back2/f01.bin || { echo "bench-batch: f01 did not come back whole" >&2; exit 1; }
