#include "file_format.h"

#include <cstring>

#include "bytes.h"

void header_store(const file_header& h, uint8_t out[FILE_HEADER_SIZE]) {
  store_le64(out, static_cast<uint64_t>(h.plain_size));
  out[8] = static_cast<uint8_t>(h.pad_count);
  memcpy(out + 9, h.iv, 8);
  store_le32(out + 17, h.plain_crc);
  out[21] = h.constant[0];
  out[22] = h.constant[1];
}

file_header header_load(const uint8_t in[FILE_HEADER_SIZE]) {
  file_header h;
  h.plain_size = static_cast<int64_t>(load_le64(in));
  h.pad_count = static_cast<int8_t>(in[8]);
  memcpy(h.iv, in + 9, 8);
  h.plain_crc = load_le32(in + 17);
  h.constant[0] = in[21];
  h.constant[1] = in[22];
  return h;
}
