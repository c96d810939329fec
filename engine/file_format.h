// The encrypted file: a 23-byte header, then the padded data in CBC blocks.
//
//   offset  width  field
//        0      8  plain_size   signed, little-endian
//        8      1  pad_count    zero bytes appended: 0 .. 7 when written
//        9      8  iv           first chaining value
//       17      4  plain_crc    CRC-32 of the plain_size plain bytes
//       21      1  2            constant, not read back
//       22      1  0            constant, not read back
//       23      n  ciphertext   n = plain_size + pad_count
#pragma once

#include <cstdint>

enum { FILE_HEADER_SIZE = 23 };

struct file_header {
  int64_t plain_size;
  int8_t pad_count;
  uint8_t iv[8];
  uint32_t plain_crc;
  uint8_t constant[2];
};

void header_store(const file_header& h, uint8_t out[FILE_HEADER_SIZE]);
file_header header_load(const uint8_t in[FILE_HEADER_SIZE]);
