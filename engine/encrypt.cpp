// encrypt_file and encrypt_stream: the plain bytes read a piece at a time,
// added to the CRC, padded with zeros at the end, enciphered as one CBC
// chain from a drawn initial value and written after the header's place;
// the header, whose CRC is known only at the end, written last.

#include <cstring>

#include "../runtime/runtime.h"
#include "bytes.h"
#include "cbc.h"
#include "file_format.h"
#include "pieces.h"
#include "wipe.h"

static void draw_iv(uint8_t iv[8]) {
  int64_t r1 = rt_random(), r2 = rt_random();
  // At most engine_greatest_iv, so the product cannot overflow; -1 when
  // either is 0.
  uint64_t v = static_cast<uint64_t>(r1 * r2 - 1);
  store_le64(iv, v);
}

// Reads plain_size bytes of source, pads them with zeros to whole blocks,
// encrypts them chained from h->iv and writes them after the header's
// place; fills in h->plain_crc.
static const char* encrypt_body(int source, const cipher_key& cipher, file_header* h,
                                uint8_t* piece, output_file* out) {
  const uint64_t plain_size = static_cast<uint64_t>(h->plain_size);
  const uint64_t data_length = plain_size + static_cast<uint64_t>(h->pad_count);
  uint8_t chain[8];
  memcpy(chain, h->iv, 8);
  uint32_t crc = 0;
  for (uint64_t at = 0; at < data_length;) {
    int32_t length = piece_length(data_length - at);
    int32_t wanted = piece_length(plain_size - at);  // less only where the padding starts
    if (cancelled()) return engine_cancelled;
    if (rt_file_read(source, piece, wanted) != wanted) return result_read_error;
    crc = rt_crc32_update(crc, piece, wanted);
    memset(piece + wanted, 0, length - wanted);
    cbc_encrypt(cipher, chain, piece, length / 8);
    memcpy(chain, piece + length - 8, 8);
    output_write(out, piece, length);
    count_worked(length);
    at += length;
  }
  h->plain_crc = crc;
  return nullptr;
}

const char* encrypt_file(const char* file, const char* output, const char* key) {
  // 1. The arguments, before any file is opened.
  if (!engine_key_usable(key) || file[0] == '\0' || rt_size_query(file) < 2) return result_refused;

  // 2. The source and its length, which may have changed since the query.
  int source = rt_file_open(file);
  if (source < 0) return result_read_error;
  file_header h = {};
  h.plain_size = rt_file_length(source);
  const char* result = nullptr;
  if (h.plain_size < 0) result = result_read_error;
  else if (h.plain_size < 2) result = result_refused;
  void* block = nullptr;
  if (result == nullptr) {
    block = piece_alloc();
    if (block == nullptr) result = result_too_large;
  }

  // 3. The header's fixed fields and the initial value.
  h.pad_count = static_cast<int8_t>((8 - h.plain_size % 8) % 8);
  h.constant[0] = 2;
  h.constant[1] = 0;
  noted_output out;
  bool begun = false;
  if (result == nullptr) {
    draw_iv(h.iv);
    begun = noted_begin(&out, output, FILE_HEADER_SIZE + h.plain_size + h.pad_count);
    if (!begun) result = result_write_error;
  }

  // 4. The body, then the header, whose CRC is known only now.
  if (result == nullptr) {
    uint8_t head[FILE_HEADER_SIZE] = {};
    output_write(&out.file, head, FILE_HEADER_SIZE);
    cipher_key cipher = cipher_key_from_string(key);
    result = encrypt_body(source, cipher, &h, piece_in(block, 0), &out.file);
    wipe(&cipher, sizeof cipher);
    header_store(h, head);
    output_write_at(&out.file, 0, head, FILE_HEADER_SIZE);
  }
  if (!rt_file_close(source) && result == nullptr) result = result_read_error;
  rt_block_free(block);

  // 5. Output replaced whole, or left as it was.
  if (result != nullptr) {
    if (begun) noted_discard(&out);
    return result;
  }
  return noted_commit(&out, output) ? result_ok : result_write_error;
}

// Reads until count bytes are had or the reader reaches the end; the count
// had, or -1 on an error.
static int32_t read_full(engine_reader* read, void* context, uint8_t* buffer, int32_t count) {
  int32_t had = 0;
  while (had < count) {
    int32_t got = read(context, buffer + had, count - had);
    if (got < 0) return -1;
    if (got == 0) break;
    had += got;
  }
  return had;
}

const char* encrypt_stream(engine_reader* read, void* context, const char* output,
                           const char* key) {
  if (!engine_key_usable(key)) return result_refused;
  void* block = piece_alloc();
  if (block == nullptr) return result_too_large;
  file_header h = {};
  h.constant[0] = 2;
  draw_iv(h.iv);
  noted_output out;
  if (!noted_begin(&out, output, FILE_HEADER_SIZE)) {
    rt_block_free(block);
    return result_write_error;
  }
  uint8_t head[FILE_HEADER_SIZE] = {};
  output_write(&out.file, head, FILE_HEADER_SIZE);
  cipher_key cipher = cipher_key_from_string(key);
  uint8_t* piece = piece_in(block, 0);
  uint8_t chain[8];
  memcpy(chain, h.iv, 8);
  uint32_t crc = 0;
  const char* result = nullptr;
  // Every piece but the last is whole, and so whole blocks; only the last
  // is padded.
  for (int32_t got = PIECE_BYTES; got == PIECE_BYTES && result == nullptr;) {
    got = read_full(read, context, piece, PIECE_BYTES);
    if (cancelled()) result = engine_cancelled;
    else if (got < 0) result = result_read_error;
    if (result != nullptr || got == 0) break;
    crc = rt_crc32_update(crc, piece, got);
    int32_t length = (got + 7) / 8 * 8;
    memset(piece + got, 0, length - got);
    cbc_encrypt(cipher, chain, piece, length / 8);
    memcpy(chain, piece + length - 8, 8);
    output_write(&out.file, piece, length);
    count_worked(length);
    h.plain_size += got;
    h.pad_count = static_cast<int8_t>(length - got);
  }
  wipe(&cipher, sizeof cipher);
  rt_block_free(block);
  if (result == nullptr && h.plain_size < 2) result = result_refused;
  if (result != nullptr) {
    noted_discard(&out);
    return result;
  }
  h.plain_crc = crc;
  header_store(h, head);
  output_write_at(&out.file, 0, head, FILE_HEADER_SIZE);
  return noted_commit(&out, output) ? result_ok : result_write_error;
}

