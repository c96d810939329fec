// CBC decryption with AVX-512F: the AVX2 kernel's method (see
// cbc_decrypt_avx2.cpp) on 512-bit registers, 16 blocks' y words in one
// register and their z words in another.  Two instructions of AVX-512F
// shorten the work: a two-source permute splits and joins the words
// without shuffles and unpacks, and the three-input logic instruction does
// the variant's shift-xor-mask in one step.  Compiled with -mavx512f; runs
// only where cpu_has_avx512 said yes.
// Derived from xtea_decipher (xtea.cpp) through the schedule, walked
// backwards, and the mixing function of cbc.cpp; held to
// cbc_decrypt_reference by tests/test_cbc_kernels.cpp, whose CbcPath tests
// force this path on every length up to 64 blocks and on large buffers.

#include <immintrin.h>

#include "cbc_kernels.h"

// GCC 12's own AVX-512 headers set off these warnings in their helpers.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// Groups per step, each two registers through the rounds, besides the two
// that a half round works in (half_round).  x86-64 has 32 vector registers:
// six groups filled each round's latency best of 4, 6 and 8 in the
// benchmark.  A 32-bit build has eight, which three groups and the two
// fill.
#if defined(__x86_64__)
enum { GROUPS = 6 };
#else
enum { GROUPS = 3 };
#endif
enum { STEP_BLOCKS = 16 * GROUPS, STEP_BYTES = 8 * STEP_BLOCKS };

typedef __m512i vec;

static inline __attribute__((always_inline)) vec load(const uint8_t* p) {
  return _mm512_loadu_si512(p);
}

static inline __attribute__((always_inline)) void store(uint8_t* p, vec v) {
  _mm512_storeu_si512(p, v);
}

static const uint32_t low31 = 0x7FFFFFFF;

// *w -= F(x) ^ *key, where F(x) = ((x << 4) ^ (sar(x, 5) & 0x7FFFFFFF)) + x,
// the variant's own form; 0x78 is the truth table of a ^ (b & c), bit
// (a << 2 | b << 1 | c).  In assembly so that the key and the mask are
// broadcast from memory as operands ({1to16}): with intrinsics GCC keeps
// both in registers, and a 32-bit build then has too few left for the
// groups and moves them to the stack and back on every round.
static inline __attribute__((always_inline)) void half_round(vec* w, vec x, const uint32_t* key) {
  vec t, u;
  __asm__("vpslld $4, %[x], %[t]\n\t"
          "vpsrad $5, %[x], %[u]\n\t"
          "vpternlogd $0x78, %[low31]%{1to16%}, %[u], %[t]\n\t"
          "vpaddd %[x], %[t], %[t]\n\t"
          "vpxord %[key]%{1to16%}, %[t], %[t]\n\t"
          "vpsubd %[t], %[w], %[w]"
          : [w] "+v"(*w), [t] "=&v"(t), [u] "=&v"(u)
          : [x] "v"(x), [key] "m"(*key), [low31] "m"(low31));
}

// Decrypts the STEP_BLOCKS blocks at p into q (which may be p).  The top 8
// bytes of chain hold the ciphertext of the block before them, and on
// return that of the last of them, read before anything is written.
static inline __attribute__((always_inline)) void decrypt_step(const uint32_t round_key[64],
                                                               vec* chain, const uint8_t* p,
                                                               uint8_t* q) {
  // Word i of a block pair register: the even words are y, the odd z.
  const vec even = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  const vec odd = _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
  vec y[GROUPS], z[GROUPS];
#pragma GCC unroll 8
  for (int g = 0; g < GROUPS; g++) {
    const vec a = load(p + 128 * g), b = load(p + 128 * g + 64);
    y[g] = _mm512_permutex2var_epi32(a, even, b);
    z[g] = _mm512_permutex2var_epi32(a, odd, b);
  }
  for (int r = 62; r >= 0; r -= 2) {
#pragma GCC unroll 8
    for (int g = 0; g < GROUPS; g++) half_round(&z[g], y[g], round_key + r + 1);
#pragma GCC unroll 8
    for (int g = 0; g < GROUPS; g++) half_round(&y[g], z[g], round_key + r);
  }
  // Chaining values read again from memory, one block back, all of them
  // before the first store, which may overwrite them when q lies at or
  // below p: the first register takes the kept block in its bottom place.
  const vec low_half = _mm512_set_epi32(23, 7, 22, 6, 21, 5, 20, 4, 19, 3, 18, 2, 17, 1, 16, 0);
  const vec high_half = _mm512_set_epi32(31, 15, 30, 14, 29, 13, 28, 12, 27, 11, 26, 10, 25, 9, 24, 8);
  vec before[2 * GROUPS];
  before[0] = _mm512_alignr_epi64(load(p), *chain, 7);
#pragma GCC unroll 16
  for (int k = 1; k < 2 * GROUPS; k++) before[k] = load(p + 64 * k - 8);
  *chain = load(p + STEP_BYTES - 64);
#pragma GCC unroll 8
  for (int g = 0; g < GROUPS; g++) {
    const vec a = _mm512_permutex2var_epi32(y[g], low_half, z[g]);
    const vec b = _mm512_permutex2var_epi32(y[g], high_half, z[g]);
    store(q + 128 * g, _mm512_xor_si512(a, before[2 * g]));
    store(q + 128 * g + 64, _mm512_xor_si512(b, before[2 * g + 1]));
  }
}

KERNEL_ENTRY void cbc_decrypt_avx512(const uint32_t round_key[64], const uint8_t iv[8],
                                     const uint8_t* in, uint8_t* out, int32_t blocks) {
  // The iv in the top 8 bytes, where a step leaves its last cipher block.
  uint8_t start[64] = {};
  __builtin_memcpy(start + 56, iv, 8);
  vec chain = load(start);

  cbc_kernel_drive<STEP_BYTES>(in, out, blocks, [&](const uint8_t* p, uint8_t* q) {
    decrypt_step(round_key, &chain, p, q);
  });
}
