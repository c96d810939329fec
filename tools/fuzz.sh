#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own tree (native only,
# apart from the gcc build; the targets are defined in fuzz/CMakeLists.txt)
# and runs each on its seed corpus for SECONDS.
#   fuzz.sh [SECONDS]      default 60; fails on any finding, leak or
#                          sanitizer report
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=${QELV_FUZZ_DIR:-$root/build/fuzz}
mkdir -p "$out"
cd "$root"
# The targets and everything under them, instrumented: fuzz/CMakeLists.txt.
cmake -S . -B "$out" -G Ninja -DQELV_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$out" -j "$(nproc)" --target fuzz_decrypt fuzz_bindings
bin=$out/fuzz
# New inputs go to a scratch corpus, never into the seeds kept in the tree.
# Scratch files on a memory file system when there is one: most of a run is
# spent creating and removing them.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
export QELV_FUZZ_SCRATCH=$work
# run_target NAME SECONDS [SEED-FOLDER]
run_target() {
  mkdir -p "$work/$1/corpus" "$work/$1/findings"
  local rc=0
  "$bin/$1" -max_total_time="$2" -timeout=10 -print_final_stats=1 -handle_xfsz=0 \
    -artifact_prefix="$work/$1/findings/" "$work/$1/corpus" ${3:+"$3"} >"$work/$1/log" 2>&1 || rc=$?
  echo "== $1"
  grep -E '^(Done|stat::number_of_executed_units|SUMMARY)|ERROR' "$work/$1/log" || true
  grep -E '^#[0-9]+' "$work/$1/log" | tail -1 || true  # coverage reached
  if [ "$rc" != 0 ] || ls "$work/$1/findings"/* >/dev/null 2>&1; then
    tail -40 "$work/$1/log"
    mkdir -p "$out/findings" && cp "$work/$1/findings"/* "$out/findings/" 2>/dev/null || true
    echo "fuzz: $1 failed; findings kept in $out/findings" >&2
    status=1
  fi
}
run_target fuzz_decrypt "$seconds" "$root/fuzz/corpus/decrypt"
run_target fuzz_bindings "$seconds" "$root/fuzz/corpus/bindings"  # it works in a scratch folder
exit "$status"
