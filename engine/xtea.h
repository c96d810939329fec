// The block cipher of the encrypted file format: a variant of XTEA (64-bit
// block, 128-bit key, 32 cycles) whose right shift by 5 in the mixing
// function is arithmetic with bit 31 cleared afterwards.  Files in the field
// were written with this variant, so it must stay exactly as it is.
//
// This file and xtea.cpp are the reference: xtea_encipher, xtea_decipher and
// xtea_mix written as the format describes them, one block at a time.  The
// fast forms are derived from them, each with a note saying how and which
// test holds it to this reference:
//   cbc.cpp               cbc_encrypt (one chain from the schedule), the
//                         scalar decipher path, and mix, the same function
//                         with one step less
//   cbc_decrypt_sse2.cpp  many blocks side by side in 128-bit registers
//   cbc_decrypt_avx2.cpp  the same in 256-bit registers
//   cbc_decrypt_avx512.cpp  the same in 512-bit registers
// The known answers are in xtea.cpp.
#pragma once

#include <cstdint>

struct cipher_key {
  uint8_t bytes[16];
};

// The first 16 bytes of the text (fewer when it is shorter), zero bytes after.
cipher_key cipher_key_from_string(const char* key_text);

void xtea_encipher(const cipher_key& key, uint8_t block[8]);
void xtea_decipher(const cipher_key& key, uint8_t block[8]);

constexpr uint32_t xtea_delta = 0x9E3779B9;
constexpr uint32_t xtea_decipher_sum = 0xC6EF3720;  // delta * 32 mod 2^32

// The variant's right shift: arithmetic shift by 5, then bit 31 cleared.  For
// x with bit 31 set it gives (x >> 5) | 0x78000000 where XTEA has x >> 5.
constexpr uint32_t xtea_shift(uint32_t x) {
  return static_cast<uint32_t>(static_cast<int32_t>(x) >> 5) & 0x7FFFFFFFu;
}

constexpr uint32_t xtea_mix(uint32_t x) { return ((x << 4) ^ xtea_shift(x)) + x; }

// The 64 round keys, sum + k[index] for each half-round in encipher order:
// schedule[2i] for the y half of cycle i, schedule[2i+1] for the z half.
struct xtea_schedule {
  uint32_t round_key[64];
};
xtea_schedule xtea_make_schedule(const cipher_key& key);

