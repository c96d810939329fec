// The SIMD decipher kernels behind cbc_decrypt and the processor checks that
// guard them.  Each kernel lives in a file of its own compiled for its
// instruction set (SSE2, AVX2, AVX-512F), and may run only where its check,
// cpu_has_sse2, cpu_has_avx2 or cpu_has_avx512, said yes.  Declarations, and
// one static driver: an inline function with external linkage defined here
// and compiled in the AVX2 file could be the copy that the linker keeps for
// every caller.
#pragma once

#include <cstdint>

// Decrypts blocks 8-byte blocks from in into out in CBC mode, chained from
// iv; out is in, or lies before it or wholly after it (cbc_decrypt_into).
// round_key is the encipher schedule of xtea_make_schedule, which the
// kernels walk backwards.  Each step reads its blocks and the chaining
// values it needs before it writes, and writes no further than it read.
void cbc_decrypt_sse2(const uint32_t round_key[64], const uint8_t iv[8], const uint8_t* in,
                      uint8_t* out, int32_t blocks);
void cbc_decrypt_avx2(const uint32_t round_key[64], const uint8_t iv[8], const uint8_t* in,
                      uint8_t* out, int32_t blocks);
void cbc_decrypt_avx512(const uint32_t round_key[64], const uint8_t iv[8], const uint8_t* in,
                        uint8_t* out, int32_t blocks);

bool cpu_has_sse2();
// The processor has AVX2 and the system saves the 256-bit registers.
bool cpu_has_avx2();
// The processor has AVX-512F and the system saves the opmask and 512-bit
// registers as well.
bool cpu_has_avx512();

// The driver every kernel file uses: whole steps of step_bytes from in to
// out, then the last blocks, fewer than a step, through a step-sized area so
// that nothing past the end of either is read or written.  step(i, o)
// deciphers the step at i into o.  Static, so that each kernel file gets a
// copy of its own, compiled for its instruction set, which the linker
// cannot merge with another file's; always inlined into its one caller
// there.
template <int step_bytes, typename step_function>
static inline __attribute__((always_inline)) void cbc_kernel_drive(const uint8_t* in, uint8_t* out,
                                                                   int32_t blocks,
                                                                   step_function step) {
  const int32_t step_blocks = step_bytes / 8;
  for (int32_t i = 0; i < blocks / step_blocks; i++, in += step_bytes, out += step_bytes)
    step(in, out);
  const int32_t rest_bytes = 8 * (blocks % step_blocks);
  if (rest_bytes > 0) {
    uint8_t area[step_bytes] = {};
    __builtin_memcpy(area, in, rest_bytes);
    step(area, area);
    __builtin_memcpy(out, area, rest_bytes);
  }
}

// A 32-bit Windows caller keeps the stack only 4-byte aligned, while GCC
// spills vectors with aligned stores: the kernels realign it on entry.
#if defined(__i386__)
#define KERNEL_ENTRY __attribute__((force_align_arg_pointer))
#else
#define KERNEL_ENTRY
#endif
