// decrypt_file: the header read and judged (file_format.h), the body
// deciphered a piece at a time (decipher_body.cpp), and Output written only
// when the CRC matched.  decrypt_stream.cpp sends the same bytes to a
// writer, or only checks them.

#include <cstring>

#include "../runtime/runtime.h"
#include "decipher_body.h"
#include "decrypt_source.h"
#include "file_format.h"
#include "output_commit.h"
#include "pieces.h"
#include "wipe.h"

// The header read whole or as far as the file goes (the rest stays zero).
static const char* read_header(engine_call* c, source_file* s) {
  uint8_t head[FILE_HEADER_SIZE] = {};
  if (!rt_file_stamp(s->file, &s->stamp) || rt_file_read(s->file, head, FILE_HEADER_SIZE) < 0)
    return call_failed(c, STEP_READ, rt_last_error(), result_read_error);
  s->h = header_load(head);
  c->plain_size = s->h.plain_size;
  s->present = s->stamp.length > FILE_HEADER_SIZE ? s->stamp.length - FILE_HEADER_SIZE : 0;
  if (header_judge(s->h, s->stamp.length).verdict == HEADER_REFUSED)
    return call_failed(c, STEP_HEADER, 0, result_not_encrypted);
  return nullptr;
}

const char* source_open(engine_call* c, const char* file, const char* key, source_file* s) {
  c->failure = {STEP_NONE, 0};
  s->file = -1;
  int64_t size = has_non_space(file) ? rt_size_query(file) : -1;
  if (!engine_key_usable(key) || size < 1)
    return call_failed(c, STEP_REFUSED, static_cast<int>(size < 1 ? size : 2), result_refused);
  s->file = rt_file_open(file);
  if (s->file < 0) return call_failed(c, STEP_OPEN, rt_last_error(), result_read_error);
  const char* result = read_header(c, s);
  if (result == nullptr &&
      !work_begin(&s->work, c, s->file, static_cast<uint64_t>(s->h.plain_size) + s->h.pad_count))
    result = call_failed(c, STEP_MEMORY, 0, result_too_large);
  if (result != nullptr) {
    rt_file_close(s->file);
    s->file = -1;
  }
  return result;
}

const char* source_finish(engine_call* c, source_file* s, const char* result,
                          uint32_t crc, bool written) {
  work_end(&s->work);
  // A failed close fails the call whatever code the system gave.
  bool closed = rt_file_close(s->file);
  int close_code = closed ? 0 : rt_last_error();
  if (result != nullptr) return result;
  if (!closed) return call_failed(c, STEP_READ, close_code, result_read_error);
  if (crc != s->h.plain_crc) return call_failed(c, STEP_CRC, 0, result_crc_failure);
  return written ? result_ok : result_write_error;
}

const char* source_second_pass(source_file* s, const cipher_key& cipher,
                               output_file* out, uint32_t* crc) {
  if (!rt_file_seek(s->file, FILE_HEADER_SIZE))
    return call_failed(s->work.call, STEP_READ, rt_last_error(), result_read_error);
  return decipher_body(&s->work, cipher, s->h, out, crc);
}

const char* decrypt_file_in(engine_call* c, const char* file, const char* output,
                            const char* key) {
  // 1. The arguments, the source and its header.
  source_file s;
  const char* result = source_open(c, file, key, &s);
  if (result != nullptr) return result;
  const bool whole = static_cast<uint64_t>(s.h.plain_size) + s.h.pad_count <=
                     static_cast<uint64_t>(s.present);
  cipher_key cipher = cipher_key_from_string(key);

  // 2. A body the file holds whole is deciphered, checked and written in one
  // pass.  One that ends early is checked first, without writing: the
  // header may claim far more than the file holds.
  output_file out;
  bool writing = whole && output_begin(&out, c, output, s.h.plain_size);
  bool begin_failed = whole && !writing;
  uint32_t crc = 0;
  result = decipher_body(&s.work, cipher, s.h, writing ? &out : nullptr, &crc);
  if (result == nullptr && !whole && crc == s.h.plain_crc) {
    // It matches all the same (a crafted file): now written whole, its room
    // reserved first.
    writing = output_begin(&out, c, output, s.h.plain_size);
    begin_failed = !writing;
    if (writing) result = source_second_pass(&s, cipher, &out, &crc);
  }
  wipe(&cipher, sizeof cipher);

  // 3. Output replaced only when the CRC matched.  A failed begin noted its
  // step; a result before it (the CRC) is the one that counts.
  engine_failure begun = c->failure;
  result = source_finish(c, &s, result, crc, writing);
  if (begin_failed && result == result_write_error) c->failure = begun;
  if (!writing) return result;
  if (result != result_ok) {
    output_discard(&out);
    return result;
  }
  return output_commit(&out, output) ? result_ok : result_write_error;
}

const char* decrypt_file(const char* file, const char* output, const char* key) {
  engine_call c = {};
  return decrypt_file_in(&c, file, output, key);
}
