// CBC decryption with AVX2: the SSE2 kernel's method (see
// cbc_decrypt_sse2.cpp) on 256-bit registers, 8 blocks' y words in one
// register and their z words in another, several such groups interleaved so
// that each round's latency is filled with the other groups' work.
// Compiled with -mavx2; runs only where cpu_has_avx2 said yes.
// Derived from xtea_decipher (xtea.cpp) through the schedule, walked
// backwards, and the mixing function of cbc.cpp; held to
// cbc_decrypt_reference by tests/test_cbc_kernels.cpp, whose CbcPath tests
// force this path on every length up to 64 blocks and on large buffers.

#include <immintrin.h>

#include "cbc_kernels.h"
#include "wipe.h"

// Groups per step: each holds two registers through the rounds, besides the
// two that a half round works in (half_round).  x86-64 has sixteen vector
// registers, room for four; a 32-bit build has eight, room for three.
#if defined(__x86_64__)
enum { GROUPS = 4 };
#else
enum { GROUPS = 3 };
#endif
enum { STEP_BLOCKS = 8 * GROUPS, STEP_BYTES = 8 * STEP_BLOCKS };

typedef __m256i vec;

static inline __attribute__((always_inline)) vec load(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const vec*>(p));
}

static inline __attribute__((always_inline)) void store(uint8_t* p, vec v) {
  _mm256_storeu_si256(reinterpret_cast<vec*>(p), v);
}

static const uint32_t low31[8] = {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF,
                                  0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};

// *w -= F(x) ^ *key, where F(x) = ((x << 4) ^ sar(x, 5)) + (x & 0x7FFFFFFF),
// as in cbc.cpp.  In assembly so that the key and the mask are operands in
// memory: with intrinsics GCC keeps both in registers, and a 32-bit build
// then has too few left for the groups and moves them to the stack and back
// on every round.
static inline __attribute__((always_inline)) void half_round(vec* w, vec x, const vec* key) {
  vec t, u;
  __asm__("vpslld $4, %[x], %[t]\n\t"
          "vpsrad $5, %[x], %[u]\n\t"
          "vpxor %[u], %[t], %[t]\n\t"
          "vpand %[low31], %[x], %[u]\n\t"
          "vpaddd %[u], %[t], %[t]\n\t"
          "vpxor %[key], %[t], %[t]\n\t"
          "vpsubd %[t], %[w], %[w]"
          : [w] "+x"(*w), [t] "=&x"(t), [u] "=&x"(u)
          : [x] "x"(x), [key] "m"(*key), [low31] "m"(low31));
}

// As in the SSE2 kernel, within each 128-bit half: two registers of four
// blocks each into one of y words and one of z words.  The lanes come out
// in the order 0 1 4 5 2 3 6 7, and join puts them back.
static inline __attribute__((always_inline)) void split(vec a, vec b, vec* y, vec* z) {
  a = _mm256_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0));
  b = _mm256_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0));
  *y = _mm256_unpacklo_epi64(a, b);
  *z = _mm256_unpackhi_epi64(a, b);
}

static inline __attribute__((always_inline)) void join(vec y, vec z, vec* a, vec* b) {
  *a = _mm256_shuffle_epi32(_mm256_unpacklo_epi64(y, z), _MM_SHUFFLE(3, 1, 2, 0));
  *b = _mm256_shuffle_epi32(_mm256_unpackhi_epi64(y, z), _MM_SHUFFLE(3, 1, 2, 0));
}

// Decrypts the STEP_BLOCKS blocks at p into q (which may be p).  chain
// holds, in its lowest 8 bytes, the ciphertext of the block before them,
// and on return that of the last of them, read before anything is written.
static inline __attribute__((always_inline)) void decrypt_step(const vec keys[64], vec* chain,
                                                               const uint8_t* p, uint8_t* q) {
  vec y[GROUPS], z[GROUPS];
#pragma GCC unroll 8
  for (int g = 0; g < GROUPS; g++) split(load(p + 64 * g), load(p + 64 * g + 32), &y[g], &z[g]);
  for (int r = 62; r >= 0; r -= 2) {
#pragma GCC unroll 8
    for (int g = 0; g < GROUPS; g++) half_round(&z[g], y[g], &keys[r + 1]);
#pragma GCC unroll 8
    for (int g = 0; g < GROUPS; g++) half_round(&y[g], z[g], &keys[r]);
  }
  // Chaining values, read again from memory, still unchanged, so that no
  // register is held through the rounds: the first four cipher blocks moved
  // up one place with the kept block put in the bottom place, then this
  // step's own cipher blocks, one block (8 bytes) back.
  const vec rotated = _mm256_permute4x64_epi64(load(p), _MM_SHUFFLE(2, 1, 0, 3));
  vec before[2 * GROUPS];
  before[0] = _mm256_blend_epi32(rotated, *chain, 0x03);
#pragma GCC unroll 16
  for (int k = 1; k < 2 * GROUPS; k++) before[k] = load(p + 32 * k - 8);
  *chain = _mm256_castsi128_si256(
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + STEP_BYTES - 8)));
#pragma GCC unroll 8
  for (int g = 0; g < GROUPS; g++) {
    vec a, b;
    join(y[g], z[g], &a, &b);
    store(q + 64 * g, _mm256_xor_si256(a, before[2 * g]));
    store(q + 64 * g + 32, _mm256_xor_si256(b, before[2 * g + 1]));
  }
}

KERNEL_ENTRY void cbc_decrypt_avx2(const uint32_t round_key[64], const uint8_t iv[8],
                                   const uint8_t* in, uint8_t* out, int32_t blocks) {
  vec keys[64];  // each round key in all eight lanes, made once per call
  for (int r = 0; r < 64; r++) keys[r] = _mm256_set1_epi32(static_cast<int>(round_key[r]));
  vec chain = _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(iv)));

  cbc_kernel_drive<STEP_BYTES>(in, out, blocks, [&](const uint8_t* p, uint8_t* q) {
    decrypt_step(keys, &chain, p, q);
  });
  wipe(keys, sizeof keys);
}
