// Inside the runtime only: the CRC-32 of crc32_fold.cpp, for
// rt_crc32_update in runtime_common.cpp.
#pragma once

#include <cstdint>

// The least count crc32_fold takes, and the multiple it takes counts in.
enum { CRC32_FOLD_LEAST = 256, CRC32_FOLD_UNIT = 64 };

// True where the processor has the 512-bit carry-less multiply (AVX-512F
// and VPCLMULQDQ, and PCLMULQDQ for the last steps) and the system saves
// the 512-bit registers; asked once (runtime_common.cpp).
bool crc32_fold_usable();

// The CRC register after count more bytes at p, from state, the register
// before them; count is a multiple of CRC32_FOLD_UNIT, at least
// CRC32_FOLD_LEAST.  The register is the CRC with its bits inverted, as
// the CRC's definition inverts them at the start and the end.
uint32_t crc32_fold(uint32_t state, const uint8_t* p, int32_t count);
