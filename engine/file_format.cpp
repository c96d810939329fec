#include "file_format.h"

#include <cstring>

#include "bytes.h"
#include "engine.h"

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

header_judgement header_judge(const file_header& h, int64_t file_length) {
  header_judgement j = {HEADER_REFUSED, -1, -1, 0};
  if (h.plain_size < 1 || h.pad_count < 0) return j;
  // No file holds more than INT64_MAX bytes, so a larger need is short.
  if (h.plain_size <= FILE_MOST_PLAIN) {
    j.data_length = h.plain_size + h.pad_count;
    j.needed_length = FILE_HEADER_SIZE + file_padded_length(h.plain_size);
  }
  bool blocks_cover = j.data_length >= 0 && j.data_length / 8 * 8 >= h.plain_size;
  j.verdict = blocks_cover && j.needed_length >= 0 && file_length >= j.needed_length
                  ? HEADER_SOUND
                  : HEADER_SHORT;
  if (h.pad_count != file_pad_count(h.plain_size)) j.notes |= NOTE_PAD;
  int64_t iv = static_cast<int64_t>(load_le64(h.iv));
  if (iv < engine_least_iv || iv > engine_greatest_iv) j.notes |= NOTE_IV;
  if (h.constant[0] != 2 || h.constant[1] != 0) j.notes |= NOTE_CONSTANTS;
  if (j.data_length >= 0 && file_length > FILE_HEADER_SIZE + j.data_length) j.notes |= NOTE_EXTRA;
  return j;
}

bool header_written_by_encrypt(const file_header& h, int64_t file_length) {
  if (h.plain_size < FILE_LEAST_PLAIN || h.plain_size > FILE_MOST_PLAIN) return false;
  const header_judgement j = header_judge(h, file_length);
  return j.verdict == HEADER_SOUND && j.notes == 0 &&
         file_length == FILE_HEADER_SIZE + file_padded_length(h.plain_size);
}
