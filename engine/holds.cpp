// engine_holds: whether an encrypted file is the encryption of a plain one
// under a key, told from its header and first block and the plain file's
// length and CRC-32, without deciphering the rest.

#include <cstring>

#include "../runtime/runtime.h"
#include "cbc.h"
#include "file_format.h"
#include "pieces.h"
#include "wipe.h"

// The header and first block of an encrypted file, and its length; false
// when it cannot be read.
static bool read_start(const char* encrypted, file_header* h, uint8_t block[8],
                       int64_t* length) {
  int file = rt_file_open(encrypted);
  if (file < 0) return false;
  uint8_t start[FILE_HEADER_SIZE + 8] = {};
  *length = rt_file_length(file);
  int32_t got = rt_file_read(file, start, sizeof start);
  bool closed = rt_file_close(file);
  *h = header_load(start);
  memcpy(block, start + FILE_HEADER_SIZE, 8);
  return closed && *length >= 0 && got == static_cast<int32_t>(sizeof start);
}

// Whether a plain file of length bytes starts with the 8 bytes of start
// (the zero padding after its end, if it is shorter) and has the CRC-32
// crc.  A first piece that differs ends the reading at once.
static bool plain_matches(engine_call* c, const char* plain, int64_t length,
                          const uint8_t start[8], uint32_t crc) {
  void* block = piece_alloc();
  int file = block != nullptr ? rt_file_open(plain) : -1;
  bool same = file >= 0 && rt_file_length(file) == length;
  uint8_t* piece = static_cast<uint8_t*>(block);
  uint32_t read_crc = 0;
  for (int64_t at = 0; same && at < length;) {
    int32_t wanted = piece_length(static_cast<uint64_t>(length - at));
    same = !cancelled(c) && rt_file_read(file, piece, wanted) == wanted;
    if (same && at == 0) {
      uint8_t first[8] = {};
      memcpy(first, piece, wanted < 8 ? wanted : 8);
      same = memcmp(first, start, 8) == 0;
    }
    if (same) read_crc = rt_crc32_update(read_crc, piece, wanted);
    count_worked(c, wanted);
    at += wanted;
  }
  if (file >= 0 && !rt_file_close(file)) same = false;
  rt_block_free(block);
  return same && read_crc == crc;
}

bool engine_holds(engine_call* c, const char* encrypted, const char* plain, const char* key) {
  file_header h;
  uint8_t block[8];
  int64_t length = 0;
  int64_t plain_length = rt_size_query(plain);
  if (!engine_key_usable(key) || plain_length < 1 || !read_start(encrypted, &h, block, &length) ||
      header_judge(h, length).verdict != HEADER_SOUND || h.plain_size != plain_length)
    return false;
  cipher_key cipher = cipher_key_from_string(key);
  cbc_decrypt(cipher, h.iv, block, 1);
  wipe(&cipher, sizeof cipher);
  return plain_matches(c, plain, plain_length, block, h.plain_crc);
}
