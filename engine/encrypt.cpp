// encrypt_file: the plain bytes read a piece at a time, added to the CRC,
// padded with zeros at the end, enciphered as one CBC chain from a drawn
// initial value and written after the header's place; the header, whose
// CRC is known only at the end, written last.  encrypt_stream.cpp makes the
// same file from a reader.

#include <cstring>

#include "../runtime/runtime.h"
#include "bytes.h"
#include "cbc.h"
#include "encrypt_chain.h"
#include "file_format.h"
#include "output_commit.h"
#include "pieces.h"
#include "wipe.h"

static void draw_iv(rt_random_state* random, uint8_t iv[8]) {
  int64_t r1 = rt_random(random), r2 = rt_random(random);
  // At most engine_greatest_iv, so the product cannot overflow; -1 when
  // either is 0.
  uint64_t v = static_cast<uint64_t>(r1 * r2 - 1);
  store_le64(iv, v);
}

int32_t encrypt_piece(chain_state* s, uint8_t* piece, int32_t got, output_file* out) {
  s->crc = rt_crc32_update(s->crc, piece, got);
  int32_t length = static_cast<int32_t>(file_padded_length(got));
  memset(piece + got, 0, length - got);
  cbc_encrypt(s->cipher, s->chain, piece, length / 8);
  memcpy(s->chain, piece + length - 8, 8);
  output_write(out, piece, length);
  count_worked(out->call, length);
  return length;
}

// Reads plain_size bytes of source and encrypts them chained from h->iv
// after the header's place; fills in h->plain_crc.  Null, or the result.
static const char* encrypt_body(engine_call* c, int source, chain_state* s, file_header* h,
                                uint8_t* piece, output_file* out) {
  const uint64_t plain_size = static_cast<uint64_t>(h->plain_size);
  for (uint64_t at = 0; at < plain_size;) {
    int32_t wanted = piece_length(plain_size - at);
    if (cancelled(c)) return call_failed(c, STEP_CANCELLED, 0, engine_cancelled);
    int32_t got = rt_file_read(source, piece, wanted);
    if (got != wanted)
      return call_failed(c, STEP_READ, got < 0 ? rt_last_error() : 0, result_read_error);
    at += encrypt_piece(s, piece, got, out);
  }
  h->plain_crc = s->crc;
  return nullptr;
}

file_header new_header(engine_call* c, int64_t plain_size) {
  file_header h = {};
  h.plain_size = plain_size;
  h.pad_count = static_cast<int8_t>(file_pad_count(plain_size));
  h.constant[0] = 2;
  h.constant[1] = 0;
  draw_iv(c->random, h.iv);
  return h;
}

// The source opened, its length and stamp taken: null, or the result.
static const char* open_source(engine_call* c, const char* file, int* source, rt_stamp* stamp) {
  *source = rt_file_open(file);
  if (*source < 0) return call_failed(c, STEP_OPEN, rt_last_error(), result_read_error);
  if (!rt_file_stamp(*source, stamp))
    return call_failed(c, STEP_READ, rt_last_error(), result_read_error);
  // Its length may have changed since the size query.
  if (stamp->length < FILE_LEAST_PLAIN) return call_failed(c, STEP_REFUSED, 1, result_refused);
  return nullptr;
}

const char* encrypt_file_in(engine_call* c, const char* file, const char* output,
                            const char* key) {
  c->failure = {STEP_NONE, 0};
  // 1. The arguments, before any file is opened.
  int64_t size = file[0] == '\0' ? -1 : rt_size_query(file);
  if (!engine_key_usable(key) || size < FILE_LEAST_PLAIN)
    return call_failed(c, STEP_REFUSED, static_cast<int>(size < FILE_LEAST_PLAIN ? size : 2),
                       result_refused);

  // 2. The source, its length and stamp; the working piece.
  int source;
  rt_stamp stamp;
  const char* result = open_source(c, file, &source, &stamp);
  void* block = nullptr;
  if (result == nullptr && (block = piece_alloc(static_cast<uint64_t>(stamp.length))) == nullptr)
    result = call_failed(c, STEP_MEMORY, 0, result_too_large);

  // 3. The temporary file, the body, then the header, whose CRC is known
  // only now; the source checked to be as it was when it was opened.
  file_header h = new_header(c, stamp.length);
  output_file out;
  bool begun = false;
  if (result == nullptr) {
    begun = output_begin(&out, c, output, FILE_HEADER_SIZE + h.plain_size + h.pad_count);
    if (!begun) result = result_write_error;
  }
  if (result == nullptr) {
    uint8_t head[FILE_HEADER_SIZE] = {};
    output_write(&out, head, FILE_HEADER_SIZE);
    chain_state s = {cipher_key_from_string(key), {}, 0};
    memcpy(s.chain, h.iv, 8);
    result = encrypt_body(c, source, &s, &h, piece_in(block, 0), &out);
    wipe(&s.cipher, sizeof s.cipher);
    if (result == nullptr && !file_unchanged(source, stamp))
      result = call_failed(c, STEP_CHANGED, 0, result_read_error);
    header_store(h, head);
    output_write_at(&out, 0, head, FILE_HEADER_SIZE);
  }
  if (source >= 0 && !rt_file_close(source) && result == nullptr)
    result = call_failed(c, STEP_READ, rt_last_error(), result_read_error);
  rt_block_free(block);

  // 4. Output replaced whole, or left as it was.
  if (result != nullptr) {
    if (begun) output_discard(&out);
    return result;
  }
  return output_commit(&out, output) ? result_ok : result_write_error;
}

const char* encrypt_file(const char* file, const char* output, const char* key) {
  engine_call c = {};
  return encrypt_file_in(&c, file, output, key);
}
