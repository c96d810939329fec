// decrypt_file, decrypt_to_stream and verify_file: the header read and
// trusted as far as the arithmetic allows, the body deciphered a piece at a
// time (decipher_body.cpp), and Output written only when the CRC matched.

#include <cstring>

#include "../runtime/runtime.h"
#include "decipher_body.h"
#include "file_format.h"
#include "pieces.h"
#include "wipe.h"

// Opens File, reads its header and sets up the work on its body.  The
// header is trusted as far as the arithmetic allows: plain_size at least 1
// and pad_count not negative, so that plain_size lies within the data
// length.  On success the source is left open, *work begun, and *present
// holds the bytes that follow the header.
static const char* open_encrypted(const char* file, const char* key, int* source,
                                  file_header* h, int64_t* present, body_work* work) {
  *source = -1;
  if (!engine_key_usable(key) || !has_non_space(file) || rt_size_query(file) < 1)
    return result_refused;
  *source = rt_file_open(file);
  if (*source < 0) return result_read_error;
  uint8_t head[FILE_HEADER_SIZE] = {};
  int64_t length = rt_file_length(*source);
  const char* result = nullptr;
  if (length < 0 || rt_file_read(*source, head, FILE_HEADER_SIZE) < 0) result = result_read_error;
  *h = header_load(head);
  *present = length > FILE_HEADER_SIZE ? length - FILE_HEADER_SIZE : 0;
  if (result == nullptr && (h->plain_size < 1 || h->pad_count < 0)) result = result_not_encrypted;
  if (result == nullptr &&
      !work_begin(work, *source, static_cast<uint64_t>(h->plain_size) + h->pad_count))
    result = result_too_large;
  if (result != nullptr) {
    rt_file_close(*source);
    *source = -1;
  }
  return result;
}

// The result once the body has been worked: a read error, then a CRC that
// does not match, then an Output that could not be written, in that order,
// as if Output were opened only after the comparison.
static const char* decrypt_result(const char* body_result, bool closed, uint32_t crc,
                                  const file_header& h, bool written) {
  if (body_result != nullptr) return body_result;
  if (!closed) return result_read_error;
  if (crc != h.plain_crc) return result_crc_failure;
  return written ? result_ok : result_write_error;
}

const char* decrypt_file(const char* file, const char* output, const char* key) {
  // 1. The arguments, the source and its header.
  int source;
  file_header h;
  int64_t present;
  body_work work;
  const char* result = open_encrypted(file, key, &source, &h, &present, &work);
  if (result != nullptr) return result;
  const bool whole = static_cast<uint64_t>(h.plain_size) + h.pad_count <=
                     static_cast<uint64_t>(present);
  cipher_key cipher = cipher_key_from_string(key);

  // 2. A body the file holds whole is deciphered, checked and written in one
  // pass.  One that ends early is checked first, without writing: the
  // header may claim far more than the file holds.
  noted_output out;
  bool writing = whole && noted_begin(&out, output, h.plain_size);
  uint32_t crc = 0;
  result = decipher_body(&work, cipher, h, writing ? &out.file : nullptr, &crc);
  if (result == nullptr && !whole && crc == h.plain_crc) {
    // It matches all the same (a crafted file): now written whole, its room
    // reserved first.
    if (!rt_file_seek(source, FILE_HEADER_SIZE)) result = result_read_error;
    else writing = noted_begin(&out, output, h.plain_size);
    if (writing) result = decipher_body(&work, cipher, h, &out.file, &crc);
  }
  wipe(&cipher, sizeof cipher);
  work_end(&work);
  bool closed = rt_file_close(source);

  // 3. Output replaced only when the CRC matched.
  result = decrypt_result(result, closed, crc, h, writing);
  if (!writing) return result;
  if (result != result_ok) {
    noted_discard(&out);
    return result;
  }
  return noted_commit(&out, output) ? result_ok : result_write_error;
}

// verify_file is the first pass alone.
const char* decrypt_to_stream(const char* file, engine_writer* write, void* context,
                              const char* key) {
  int source;
  file_header h;
  int64_t present;
  body_work work;
  const char* result = open_encrypted(file, key, &source, &h, &present, &work);
  if (result != nullptr) return result;
  uint32_t crc = 0;
  cipher_key cipher = cipher_key_from_string(key);
  result = decipher_body(&work, cipher, h, nullptr, &crc);
  if (write != nullptr && result == nullptr && crc == h.plain_crc) {
    // The source is held with other writers denied, so the second pass
    // reads what the first one checked; its CRC is compared all the same.
    work.send = write;
    work.send_context = context;
    if (!rt_file_seek(source, FILE_HEADER_SIZE)) result = result_read_error;
    else result = decipher_body(&work, cipher, h, nullptr, &crc);
  }
  wipe(&cipher, sizeof cipher);
  work_end(&work);
  bool closed = rt_file_close(source);
  return decrypt_result(result, closed, crc, h, true);
}

const char* verify_file(const char* file, const char* key) {
  return decrypt_to_stream(file, nullptr, nullptr, key);
}
