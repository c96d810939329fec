// The SIMD decipher kernels behind cbc_decrypt and the processor checks that
// guard them.  Each kernel lives in a file of its own compiled for its
// instruction set, and may run only where cpu_has_sse2 / cpu_has_avx2 said
// yes.  Declarations only: an inline function defined here and compiled in
// the AVX2 file could be the copy that the linker keeps for every caller.
#pragma once

#include <cstdint>

// Decrypts blocks 8-byte blocks at data in place in CBC mode, chained from
// iv.  round_key is the encipher schedule of xtea_make_schedule, which the
// kernels walk backwards.
void cbc_decrypt_sse2(const uint32_t round_key[64], const uint8_t iv[8], uint8_t* data,
                      int32_t blocks);
void cbc_decrypt_avx2(const uint32_t round_key[64], const uint8_t iv[8], uint8_t* data,
                      int32_t blocks);
void cbc_decrypt_avx512(const uint32_t round_key[64], const uint8_t iv[8], uint8_t* data,
                        int32_t blocks);

bool cpu_has_sse2();
// The processor has AVX2 and the system saves the 256-bit registers.
bool cpu_has_avx2();
// The processor has AVX-512F and the system saves the opmask and 512-bit
// registers as well.
bool cpu_has_avx512();

// A 32-bit Windows caller keeps the stack only 4-byte aligned, while GCC
// spills vectors with aligned stores: the kernels realign it on entry.
#if defined(__i386__)
#define KERNEL_ENTRY __attribute__((force_align_arg_pointer))
#else
#define KERNEL_ENTRY
#endif
