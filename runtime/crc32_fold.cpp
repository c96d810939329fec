// CRC-32 folded 64 bytes at a time with the 512-bit carry-less multiply
// (VPCLMULQDQ), for rt_crc32_update; compiled with -mavx512f -mvpclmulqdq
// -mpclmul and run only where crc32_fold_usable (runtime_common.cpp) said
// yes.  The method is the one of Intel's paper "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ Instruction", as libdeflate uses it
// with 128-bit registers: the message is held as polynomials over GF(2) in
// the CRC's bit order (bit 0 of a byte the highest power), and a part of it
// that lies D bits before the end of a later part is brought onto that part
// by multiplying it by x^D mod G(x) and adding.  Each 128-bit lane of a
// register carries two 64-bit halves, multiplied by their own constant.
// Held to zlib's crc32 by tests/test_runtime.cpp over every length up to
// 3000 bytes at three offsets, and larger ones.

#include <immintrin.h>

#include "crc32_fold.h"

// GCC 12's own AVX-512 headers set off these warnings in their helpers.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// x^D mod G(x) for the distances used, in the CRC's bit order, made as
// libdeflate's scripts/gen_crc32_multipliers.c makes them: folding across
// n 16-byte lanes takes x^(128n+31) for a lane's low half and x^(128n-33)
// for its high half.
static const long long across_16[2] = {0xce3371cb, 0xe95c1271};  // 256 bytes: four registers
static const long long across_4[2] = {0x8f352d95, 0x1d9513d7};   // 64 bytes: one register
static const long long across_3[2] = {0x3db1ecdc, 0xaf449247};
static const long long across_2[2] = {0xf1da05aa, 0x81256527};
static const long long across_1[2] = {0xae689191, 0xccaa009e};
static const long long x63 = 0xb8bc6765;                     // x^63 mod G(x)
static const long long barrett[2] = {0x1f7011641, 0x1db710641};  // floor(x^64 / G(x)), G(x)

typedef __m512i vec;

static inline __attribute__((always_inline)) vec load(const uint8_t* p) {
  return _mm512_loadu_si512(p);
}

// The same two constants in every lane.
static inline __attribute__((always_inline)) vec in_each_lane(const long long constants[2]) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(constants)));
}

// later + earlier brought across the distance that constants are for;
// 0x96 is the truth table of a three-way exclusive or.
static inline __attribute__((always_inline)) vec fold(vec earlier, vec later, vec constants) {
  return _mm512_ternarylogic_epi64(later, _mm512_clmulepi64_epi128(earlier, constants, 0x00),
                                   _mm512_clmulepi64_epi128(earlier, constants, 0x11), 0x96);
}

// The four lanes of v brought onto its last one: 128 bits still to reduce.
static inline __attribute__((always_inline)) __m128i join_lanes(vec v) {
  const vec constants = _mm512_set_epi64(0, 0, across_1[1], across_1[0], across_2[1], across_2[0],
                                         across_3[1], across_3[0]);
  const vec moved = _mm512_xor_si512(_mm512_clmulepi64_epi128(v, constants, 0x00),
                                     _mm512_clmulepi64_epi128(v, constants, 0x11));
  __m128i r = _mm_xor_si128(_mm512_extracti32x4_epi32(v, 3), _mm512_castsi512_si128(moved));
  r = _mm_xor_si128(r, _mm512_extracti32x4_epi32(moved, 1));
  return _mm_xor_si128(r, _mm512_extracti32x4_epi32(moved, 2));
}

// 128 bits to the 32-bit remainder, as libdeflate's crc32_pclmul_template.h
// does it: 128 to 96 bits (which also multiplies by x^32, as the CRC's
// definition asks), 96 to 64, then Barrett reduction to 32.
static inline __attribute__((always_inline)) uint32_t reduce(__m128i v) {
  const __m128i one = _mm_loadu_si128(reinterpret_cast<const __m128i*>(across_1));
  const __m128i final_constant = _mm_set_epi64x(0, x63);
  const __m128i barrett_constants = _mm_loadu_si128(reinterpret_cast<const __m128i*>(barrett));
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  v = _mm_xor_si128(_mm_srli_si128(v, 8), _mm_clmulepi64_si128(v, one, 0x10));
  v = _mm_xor_si128(_mm_srli_si128(v, 4),
                    _mm_clmulepi64_si128(_mm_and_si128(v, low32), final_constant, 0x00));
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(v, low32), barrett_constants, 0x00);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett_constants, 0x10);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(v, q), 1));
}

// A 32-bit Windows caller keeps the stack only 4-byte aligned, while GCC
// spills vectors with aligned stores: the stack is realigned on entry.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
uint32_t crc32_fold(uint32_t state, const uint8_t* p, int32_t count) {
  // Four registers side by side, 256 bytes a turn, so that one
  // multiplication's latency is filled with the others'.
  const vec across_four = in_each_lane(across_16), across_one = in_each_lane(across_4);
  const vec start = _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(state)));
  vec a = _mm512_xor_si512(load(p), start);
  vec b = load(p + 64), c = load(p + 128), d = load(p + 192);
  p += 256;
  count -= 256;
  for (; count >= 256; p += 256, count -= 256) {
    a = fold(a, load(p), across_four);
    b = fold(b, load(p + 64), across_four);
    c = fold(c, load(p + 128), across_four);
    d = fold(d, load(p + 192), across_four);
  }
  d = fold(fold(fold(a, b, across_one), c, across_one), d, across_one);
  for (; count >= 64; p += 64, count -= 64) d = fold(d, load(p), across_one);
  return reduce(join_lanes(d));
}
