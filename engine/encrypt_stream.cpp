// encrypt_stream: encrypt_file's output made from a reader whose length is
// known only at its end, for the command-line tool's standard input.  The
// module never calls it, so it lives apart and is not linked into it.

#include <cstring>

#include "../runtime/runtime.h"
#include "encrypt_chain.h"
#include "pieces.h"
#include "wipe.h"

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

// Encrypts what read delivers into out, a whole piece at a time, so that
// only the last piece is padded.  Null, or the result.
static const char* encrypt_read(engine_call* c, engine_reader* read, void* context, chain_state* s,
                                file_header* h, uint8_t* piece, output_file* out) {
  for (int32_t got = PIECE_BYTES; got == PIECE_BYTES;) {
    got = read_full(read, context, piece, PIECE_BYTES);
    if (cancelled(c)) return call_failed(c, STEP_CANCELLED, 0, engine_cancelled);
    if (got < 0) return call_failed(c, STEP_READ, rt_last_error(), result_read_error);
    if (got == 0) break;
    int32_t length = encrypt_piece(s, piece, got, out);
    h->plain_size += got;
    h->pad_count = static_cast<int8_t>(length - got);
  }
  h->plain_crc = s->crc;
  return nullptr;
}

const char* encrypt_stream(engine_call* c, engine_reader* read, void* context, const char* output,
                           const char* key) {
  c->failure = {STEP_NONE, 0};
  if (!engine_key_usable(key)) return call_failed(c, STEP_REFUSED, 2, result_refused);
  void* block = piece_alloc(PIECE_BYTES);  // the length is known only at the end
  if (block == nullptr) return call_failed(c, STEP_MEMORY, 0, result_too_large);
  file_header h = new_header(c, 0);
  output_file out;
  if (!output_begin(&out, c, output, FILE_HEADER_SIZE)) {
    rt_block_free(block);
    return result_write_error;
  }
  uint8_t head[FILE_HEADER_SIZE] = {};
  output_write(&out, head, FILE_HEADER_SIZE);
  chain_state s = {cipher_key_from_string(key), {}, 0};
  memcpy(s.chain, h.iv, 8);
  const char* result = encrypt_read(c, read, context, &s, &h, piece_in(block, 0), &out);
  wipe(&s.cipher, sizeof s.cipher);
  rt_block_free(block);
  if (result == nullptr && h.plain_size < FILE_LEAST_PLAIN)
    result = call_failed(c, STEP_REFUSED, static_cast<int>(h.plain_size), result_refused);
  if (result != nullptr) {
    output_discard(&out);
    return result;
  }
  header_store(h, head);
  output_write_at(&out, 0, head, FILE_HEADER_SIZE);
  return output_commit(&out, output) ? result_ok : result_write_error;
}
