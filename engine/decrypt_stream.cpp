// decrypt_to_stream and verify_file_in, for the command-line tool: the
// checked bytes sent to a writer, or only checked.  The module never calls
// them, so they live apart and are not linked into it.

#include "decrypt_source.h"
#include "pieces.h"
#include "wipe.h"

// verify_file_in is the first pass alone.
const char* decrypt_to_stream(engine_call* c, const char* file, engine_writer* write, void* context,
                              const char* key) {
  source_file s;
  const char* result = source_open(c, file, key, &s);
  if (result != nullptr) return result;
  uint32_t crc = 0;
  cipher_key cipher = cipher_key_from_string(key);
  result = decipher_body(&s.work, cipher, s.h, nullptr, &crc);
  if (write != nullptr && result == nullptr && crc == s.h.plain_crc) {
    // The second pass reads what the first one checked, unless another
    // process wrote the file meanwhile (POSIX does not deny it); its CRC is
    // compared all the same.
    s.work.send = write;
    s.work.send_context = context;
    if (!file_unchanged(s.file, s.stamp))
      result = call_failed(c, STEP_CHANGED, 0, result_read_error);
    else
      result = source_second_pass(&s, cipher, nullptr, &crc);
  }
  wipe(&cipher, sizeof cipher);
  return source_finish(c, &s, result, crc, true);
}

const char* verify_file_in(engine_call* c, const char* file, const char* key) {
  return decrypt_to_stream(c, file, nullptr, nullptr, key);
}
