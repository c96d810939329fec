#include "file_format.h"

#include <cstring>

#include "xtea.h"

void header_store(const file_header& h, uint8_t out[FILE_HEADER_SIZE]) {
  uint64_t size = static_cast<uint64_t>(h.plain_size);
  store_le32(out, static_cast<uint32_t>(size));
  store_le32(out + 4, static_cast<uint32_t>(size >> 32));
  out[8] = static_cast<uint8_t>(h.pad_count);
  memcpy(out + 9, h.iv, 8);
  store_le32(out + 17, h.plain_crc);
  out[21] = h.constant[0];
  out[22] = h.constant[1];
}

file_header header_load(const uint8_t in[FILE_HEADER_SIZE]) {
  file_header h;
  uint64_t size = load_le32(in) | (static_cast<uint64_t>(load_le32(in + 4)) << 32);
  h.plain_size = static_cast<int64_t>(size);
  h.pad_count = static_cast<int8_t>(in[8]);
  memcpy(h.iv, in + 9, 8);
  h.plain_crc = load_le32(in + 17);
  h.constant[0] = in[21];
  h.constant[1] = in[22];
  return h;
}
