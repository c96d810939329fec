#include "missing_part_crc.h"

#include "../runtime/runtime.h"
#include "cbc.h"

// The CRC over the part of a body that the file does not hold, which counts
// as zero bytes.  The first missing block deciphers to D(0) XOR the last
// block before it, every later one (chained to a zero block) to D(0) alone,
// and bytes past the last whole block are not deciphered and stay zero; so
// a header that claims far more than the file holds costs no time.
uint32_t missing_part_crc(uint32_t crc, const cipher_key& cipher, const uint8_t chain[8],
                          uint64_t at, uint64_t data_length, uint64_t plain_size) {
  if (plain_size <= at) return crc;
  uint64_t left = plain_size - at;  // the bytes of the rest that the CRC covers
  uint64_t blocks = (data_length - at) / 8;
  static const uint8_t zeros[8] = {};
  uint8_t repeated[8] = {}, first[8];
  cbc_decrypt(cipher, zeros, repeated, 1);
  for (int i = 0; i < 8; i++) first[i] = repeated[i] ^ chain[i];
  if (blocks > 0) {
    int32_t take = left < 8 ? static_cast<int32_t>(left) : 8;
    crc = rt_crc32_update(crc, first, take);
    left -= take;
    uint64_t copies = blocks - 1 < left / 8 ? blocks - 1 : left / 8;
    crc = rt_crc32_repeat(crc, repeated, 8, copies);
    left -= 8 * copies;
    if (copies < blocks - 1) {  // the CRC ends inside a block
      crc = rt_crc32_update(crc, repeated, static_cast<int32_t>(left));
      left = 0;
    }
  }
  return rt_crc32_update(crc, zeros, static_cast<int32_t>(left));  // fewer than 8 left
}

