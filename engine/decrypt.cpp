// decrypt_file, decrypt_to_stream and verify_file: the header read and
// judged (file_format.h), the body deciphered a piece at a time
// (decipher_body.cpp), and Output written only when the CRC matched.

#include <cstring>

#include "../runtime/runtime.h"
#include "decipher_body.h"
#include "file_format.h"
#include "output_commit.h"
#include "pieces.h"
#include "wipe.h"

// An encrypted file being worked: its header, what follows the header, and
// the stamp that tells whether it changed between two passes.  Within a
// pass the CRC covers exactly what was read, so a change there shows in it.
struct source_file {
  int file;
  file_header h;
  int64_t present;
  rt_stamp stamp;
};

// The header read whole or as far as the file goes (the rest stays zero).
static const char* read_header(engine_call* c, source_file* s) {
  uint8_t head[FILE_HEADER_SIZE] = {};
  if (!rt_file_stamp(s->file, &s->stamp) || rt_file_read(s->file, head, FILE_HEADER_SIZE) < 0)
    return call_failed(c, STEP_READ, rt_last_error(), result_read_error);
  s->h = header_load(head);
  s->present = s->stamp.length > FILE_HEADER_SIZE ? s->stamp.length - FILE_HEADER_SIZE : 0;
  if (header_judge(s->h, s->stamp.length).verdict == HEADER_REFUSED)
    return call_failed(c, STEP_HEADER, 0, result_not_encrypted);
  return nullptr;
}

// Opens File, reads and judges its header and sets up the work on its
// body.  On success the source is left open and *work begun.  decrypt
// refuses an all-space File where encrypt refuses only an empty one: so
// the two calls were made, and scripts may rely on either.
static const char* open_encrypted(engine_call* c, const char* file, const char* key,
                                  source_file* s, body_work* work) {
  s->file = -1;
  int64_t size = has_non_space(file) ? rt_size_query(file) : -1;
  if (!engine_key_usable(key) || size < 1)
    return call_failed(c, STEP_REFUSED, static_cast<int>(size < 1 ? size : 2), result_refused);
  s->file = rt_file_open(file);
  if (s->file < 0) return call_failed(c, STEP_OPEN, rt_last_error(), result_read_error);
  const char* result = read_header(c, s);
  if (result == nullptr &&
      !work_begin(work, c, s->file, static_cast<uint64_t>(s->h.plain_size) + s->h.pad_count))
    result = call_failed(c, STEP_MEMORY, 0, result_too_large);
  if (result != nullptr) {
    rt_file_close(s->file);
    s->file = -1;
  }
  return result;
}

// Ends the work on the source; the result once the body has been worked:
// a read error, then a CRC that does not match, then an Output that could
// not be written, in that order, as if Output were opened only after the
// comparison.
static const char* finish(engine_call* c, source_file* s, body_work* work, const char* result,
                          uint32_t crc, bool written) {
  work_end(work);
  int close_code = rt_file_close(s->file) ? 0 : rt_last_error();
  if (result != nullptr) return result;
  if (close_code != 0) return call_failed(c, STEP_READ, close_code, result_read_error);
  if (crc != s->h.plain_crc) return call_failed(c, STEP_CRC, 0, result_crc_failure);
  return written ? result_ok : result_write_error;
}

// Deciphers the body again from its start, into out or to the work's sender.
static const char* second_pass(source_file* s, body_work* work, const cipher_key& cipher,
                               output_file* out, uint32_t* crc) {
  if (!rt_file_seek(s->file, FILE_HEADER_SIZE))
    return call_failed(work->call, STEP_READ, rt_last_error(), result_read_error);
  return decipher_body(work, cipher, s->h, out, crc);
}

const char* decrypt_file_in(engine_call* c, const char* file, const char* output,
                            const char* key) {
  c->failure = {STEP_NONE, 0};
  // 1. The arguments, the source and its header.
  source_file s;
  body_work work;
  const char* result = open_encrypted(c, file, key, &s, &work);
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
  result = decipher_body(&work, cipher, s.h, writing ? &out : nullptr, &crc);
  if (result == nullptr && !whole && crc == s.h.plain_crc) {
    // It matches all the same (a crafted file): now written whole, its room
    // reserved first.
    writing = output_begin(&out, c, output, s.h.plain_size);
    begin_failed = !writing;
    if (writing) result = second_pass(&s, &work, cipher, &out, &crc);
  }
  wipe(&cipher, sizeof cipher);

  // 3. Output replaced only when the CRC matched.  A failed begin noted its
  // step; a result before it (the CRC) is the one that counts.
  engine_failure begun = c->failure;
  result = finish(c, &s, &work, result, crc, writing);
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

// verify_file is the first pass alone.
const char* decrypt_to_stream(engine_call* c, const char* file, engine_writer* write,
                              void* context, const char* key) {
  c->failure = {STEP_NONE, 0};
  source_file s;
  body_work work;
  const char* result = open_encrypted(c, file, key, &s, &work);
  if (result != nullptr) return result;
  uint32_t crc = 0;
  cipher_key cipher = cipher_key_from_string(key);
  result = decipher_body(&work, cipher, s.h, nullptr, &crc);
  if (write != nullptr && result == nullptr && crc == s.h.plain_crc) {
    // The second pass reads what the first one checked, unless another
    // process wrote the file meanwhile (POSIX does not deny it); its CRC is
    // compared all the same.
    work.send = write;
    work.send_context = context;
    if (!file_unchanged(s.file, s.stamp)) result = call_failed(c, STEP_CHANGED, 0, result_read_error);
    else result = second_pass(&s, &work, cipher, nullptr, &crc);
  }
  wipe(&cipher, sizeof cipher);
  return finish(c, &s, &work, result, crc, true);
}

const char* verify_file_in(engine_call* c, const char* file, const char* key) {
  return decrypt_to_stream(c, file, nullptr, nullptr, key);
}
