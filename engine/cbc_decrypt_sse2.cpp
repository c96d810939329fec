// CBC decryption with SSE2, 8 blocks per step.  Unlike encryption it has no
// chain between the decipherings: plain block i is D(c[i]) ^ c[i-1], and all
// the ciphertext is there from the start.  So each step deciphers 8 blocks
// side by side, the y words of 4 blocks in one register and their z words in
// another, two such groups interleaved so that one group's rounds fill the
// other's latency; then it applies the chaining.  Compiled with -msse2.
// Derived from xtea_decipher (xtea.cpp) through the schedule, walked
// backwards, and the mixing function of cbc.cpp; held to
// cbc_decrypt_reference by tests/test_cbc_kernels.cpp, whose CbcPath tests
// force this path on every length up to 64 blocks and on large buffers.

#include <emmintrin.h>

#include "cbc_kernels.h"
#include "wipe.h"

enum { STEP_BLOCKS = 8, STEP_BYTES = 8 * STEP_BLOCKS };

typedef __m128i vec;

static inline __attribute__((always_inline)) vec load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const vec*>(p));
}

static inline __attribute__((always_inline)) void store(uint8_t* p, vec v) {
  _mm_storeu_si128(reinterpret_cast<vec*>(p), v);
}

// F(x) = ((x << 4) ^ sar(x, 5)) + (x & 0x7FFFFFFF), the form of the variant's
// mixing function with the shorter chain (see cbc.cpp).
static inline __attribute__((always_inline)) vec mix(vec x, vec low31) {
  vec t = _mm_xor_si128(_mm_slli_epi32(x, 4), _mm_srai_epi32(x, 5));
  return _mm_add_epi32(t, _mm_and_si128(x, low31));
}

// Two registers of two blocks each (y0 z0 y1 z1, y2 z2 y3 z3) into one of y
// words (y0 y1 y2 y3) and one of z words.  join undoes it.
static inline __attribute__((always_inline)) void split(vec a, vec b, vec* y, vec* z) {
  a = _mm_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0));  // y0 y1 z0 z1
  b = _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0));  // y2 y3 z2 z3
  *y = _mm_unpacklo_epi64(a, b);
  *z = _mm_unpackhi_epi64(a, b);
}

static inline __attribute__((always_inline)) void join(vec y, vec z, vec* a, vec* b) {
  *a = _mm_shuffle_epi32(_mm_unpacklo_epi64(y, z), _MM_SHUFFLE(3, 1, 2, 0));
  *b = _mm_shuffle_epi32(_mm_unpackhi_epi64(y, z), _MM_SHUFFLE(3, 1, 2, 0));
}

// Decrypts the 8 blocks at p into q (which may be p).  chain holds, in its
// low half, the ciphertext of the block before them, and on return that of
// the last of them, read before anything is written.
static inline __attribute__((always_inline)) void decrypt_step(const vec keys[64], vec low31,
                                                               vec* chain, const uint8_t* p,
                                                               uint8_t* q) {
  vec ya, za, yb, zb;
  split(load(p), load(p + 16), &ya, &za);
  split(load(p + 32), load(p + 48), &yb, &zb);
  for (int r = 62; r >= 0; r -= 2) {
    za = _mm_sub_epi32(za, _mm_xor_si128(mix(ya, low31), keys[r + 1]));
    zb = _mm_sub_epi32(zb, _mm_xor_si128(mix(yb, low31), keys[r + 1]));
    ya = _mm_sub_epi32(ya, _mm_xor_si128(mix(za, low31), keys[r]));
    yb = _mm_sub_epi32(yb, _mm_xor_si128(mix(zb, low31), keys[r]));
  }
  vec d0, d1, d2, d3;
  join(ya, za, &d0, &d1);
  join(yb, zb, &d2, &d3);
  // Each block's chaining value is the cipher block before it: the one kept
  // from the last step, then this step's own, one block (8 bytes) back.  They
  // are read again from memory, still unchanged, so that no register is
  // held through the rounds (a 32-bit build has only eight).
  const vec before0 = _mm_unpacklo_epi64(*chain, load(p));
  const vec before1 = load(p + 8), before2 = load(p + 24), before3 = load(p + 40);
  *chain = _mm_loadl_epi64(reinterpret_cast<const vec*>(p + 56));
  store(q, _mm_xor_si128(d0, before0));
  store(q + 16, _mm_xor_si128(d1, before1));
  store(q + 32, _mm_xor_si128(d2, before2));
  store(q + 48, _mm_xor_si128(d3, before3));
}

KERNEL_ENTRY void cbc_decrypt_sse2(const uint32_t round_key[64], const uint8_t iv[8],
                                   const uint8_t* in, uint8_t* out, int32_t blocks) {
  vec keys[64];  // each round key in all four lanes, made once per call
  for (int r = 0; r < 64; r++) keys[r] = _mm_set1_epi32(static_cast<int>(round_key[r]));
  const vec low31 = _mm_set1_epi32(0x7FFFFFFF);
  vec chain = _mm_loadl_epi64(reinterpret_cast<const vec*>(iv));

  cbc_kernel_drive<STEP_BYTES>(in, out, blocks, [&](const uint8_t* p, uint8_t* q) {
    decrypt_step(keys, low31, &chain, p, q);
  });
  wipe(keys, sizeof keys);
}
