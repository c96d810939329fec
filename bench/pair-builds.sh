#!/usr/bin/env bash
# The 32-bit build's decipher kernels against the 64-bit build's on this
# machine, measured in turns: the native qelv_bench --kernels and the
# Windows one under Wine, one after the other, ROUNDS times (default 5), so
# that both builds of a round see the machine alike.  Prints each round's
# rates, the ratio 32-bit / 64-bit of each path and size per round with the
# median of the rounds, and the target for the AVX-512 and AVX2 paths (at
# least 0.8).
#   bench/pair-builds.sh [ROUNDS [NATIVE_BENCH WIN32_BENCH]]
# NATIVE_BENCH and WIN32_BENCH default to this tree's build/native and
# build/win32 programs.  Run it with your own WINEPREFIX.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
native=${2:-$root/build/native/bench/qelv_bench}
windows=${3:-$root/build/win32/bench/qelv_bench.exe}
. "$root/tools/wine-env.sh"
wine_up
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Which build goes first alternates, so that neither always meets what the
# other left behind.
for round in $(seq "$rounds"); do
  if [ $((round % 2)) = 1 ]; then "$native" --kernels >"$work/native.$round"; fi
  wine "$windows" --kernels >"$work/win32.$round"
  if [ $((round % 2)) = 0 ]; then "$native" --kernels >"$work/native.$round"; fi
done
# Lines of --kernels: "kernel PATH SIZE RATE MB/s".
for round in $(seq "$rounds"); do
  awk -v round="$round" \
    '$1 == "kernel" { print round, FILENAME ~ /win32/ ? "32" : "64", $2, $3, $4 }' \
    "$work/native.$round" "$work/win32.$round"
done | awk '
  { rate[$1, $2, $3, $4] = $5; key[$3 " " $4] = 1; if ($1 > rounds) rounds = $1 }
  function median(values, n,   i, j, t) {
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
      if (values[j] < values[i]) { t = values[i]; values[i] = values[j]; values[j] = t }
    return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
  }
  END {
    printf "%-13s", "path size"
    for (r = 1; r <= rounds; r++) printf "  round %d: 64-bit 32-bit ratio", r
    printf "   median ratio\n"
    for (k in key) order[++n] = k
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
      if (order[j] < order[i]) { t = order[i]; order[i] = order[j]; order[j] = t }
    for (i = 1; i <= n; i++) {
      split(order[i], part, " ")
      printf "%-13s", order[i]
      m = 0
      for (r = 1; r <= rounds; r++) {
        a = rate[r, "64", part[1], part[2]]; b = rate[r, "32", part[1], part[2]]
        printf "%17.1f %6.1f %5.3f", a, b, b / a
        ratios[++m] = b / a
      }
      result[order[i]] = median(ratios, m)
      printf "   %12.3f\n", result[order[i]]
    }
    print "targets:"
    for (i = 1; i <= n; i++) {
      split(order[i], part, " ")
      if (part[1] != "avx512" && part[1] != "avx2") continue
      verdict = result[order[i]] >= 0.8 ? "met" : "NOT met"
      printf "  32-bit %s %s kernel vs 64-bit, median of %d rounds %8.2f  (>= 0.80: %s)\n",
             part[1], part[2], rounds, result[order[i]], verdict
    }
  }'
