#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (native only, apart from the gcc
# build) and runs each on its seed corpus for SECONDS.
#   fuzz.sh [SECONDS]      default 60; fails on any finding, leak or
#                          sanitizer report
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=${QELV_FUZZ_DIR:-$root/build/fuzz}
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
cd "$root"
engine=(engine/xtea.cpp engine/cbc.cpp engine/file_format.cpp engine/engine.cpp
        engine/output_commit.cpp engine/cpu_features.cpp)
sources=(runtime/runtime_common.cpp runtime/runtime_posix.cpp "${engine[@]}")
# The kernels are built for their instruction sets, as in the main build.
clang++-14 "${flags[@]}" -msse2 -c engine/cbc_decrypt_sse2.cpp -o "$out/sse2.o"
clang++-14 "${flags[@]}" -mavx2 -c engine/cbc_decrypt_avx2.cpp -o "$out/avx2.o"
clang++-14 "${flags[@]}" -mavx512f -c engine/cbc_decrypt_avx512.cpp -o "$out/avx512.o"
clang++-14 "${flags[@]}" fuzz/fuzz_decrypt.cpp "${sources[@]}" "$out/sse2.o" "$out/avx2.o" "$out/avx512.o" \
  -lz -ldeflate -o "$out/fuzz_decrypt"
clang++-14 "${flags[@]}" -I/usr/include/lua5.1 fuzz/fuzz_bindings.cpp bindings/arguments.cpp \
  bindings/actions.cpp "${sources[@]}" "$out/sse2.o" "$out/avx2.o" "$out/avx512.o" -llua5.1 -lz -ldeflate \
  -o "$out/fuzz_bindings"
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
  "$out/$1" -max_total_time="$2" -timeout=10 -print_final_stats=1 -handle_xfsz=0 \
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
