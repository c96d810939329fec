// engine_deciphers_to: whether an encrypted file deciphers under a key to exactly
// the bytes of a plain file, told by deciphering it whole beside a read of
// the plain file and stopping at the first difference.  Nothing is written.

#include <cstring>

#include "../runtime/runtime.h"
#include "cbc.h"
#include "file_format.h"
#include "pieces.h"
#include "wipe.h"

// The two files of a comparison, open, and a piece of each.
struct holds_files {
  int encrypted, plain;
  void* cipher_block;
  void* plain_block;
};

static void holds_close(holds_files* f, bool* same) {
  if (f->encrypted >= 0 && !rt_file_close(f->encrypted)) *same = false;
  if (f->plain >= 0 && !rt_file_close(f->plain)) *same = false;
  rt_block_free(f->cipher_block);
  rt_block_free(f->plain_block);
}

// Whether the header read fits the plain file of plain_length bytes under
// the rule: what encryption writes for it, byte for byte, or only what
// decryption reads back whole as plain_length bytes.
static bool header_fits(const file_header& h, int64_t file_length, int64_t plain_length,
                        deciphers_rule rule) {
  if (h.plain_size != plain_length) return false;
  if (rule == AS_WRITTEN) return header_written_by_encrypt(h, file_length);
  return header_judge(h, file_length).verdict == HEADER_SOUND;
}

// Deciphers the body of f.encrypted a piece at a time, its first piece
// already read (first bytes at cipher_piece, the header before them), and
// compares it with f.plain as read, from the first byte to the end of the
// plain data; under AS_WRITTEN the padding after it must decipher to the
// zeros encryption put there.  *crc: the plain data's CRC-32.
static bool body_matches(engine_call* c, holds_files* f, const file_header& h,
                         const cipher_key& cipher, deciphers_rule rule, uint8_t* cipher_piece,
                         uint32_t* crc) {
  uint8_t* plain_piece = piece_in(f->plain_block, 0);
  uint8_t chain[8];
  memcpy(chain, h.iv, 8);
  const uint64_t data_length = file_padded_length(h.plain_size);
  for (uint64_t at = 0; at < data_length;) {
    const int32_t length = piece_length(data_length - at);
    const uint64_t plain_left = static_cast<uint64_t>(h.plain_size) - at;
    const int32_t covered = plain_left < static_cast<uint64_t>(length)
                                ? static_cast<int32_t>(plain_left) : length;
    if (cancelled(c) || (at > 0 && rt_file_read(f->encrypted, cipher_piece, length) != length) ||
        rt_file_read(f->plain, plain_piece, covered) != covered)
      return false;
    uint8_t next_chain[8];
    memcpy(next_chain, cipher_piece + length - 8, 8);
    cbc_decrypt(cipher, chain, cipher_piece, length / 8);
    memcpy(chain, next_chain, 8);
    if (memcmp(cipher_piece, plain_piece, covered) != 0) return false;
    if (rule == AS_WRITTEN)
      for (int32_t i = covered; i < length; i++)
        if (cipher_piece[i] != 0) return false;
    *crc = rt_crc32_update(*crc, plain_piece, covered);
    count_worked(c, length);
    at += length;
  }
  return true;
}

bool engine_deciphers_to(engine_call* c, const char* encrypted, const char* plain,
                         const char* key, deciphers_rule rule) {
  if (!engine_key_usable(key)) return false;
  holds_files f = {rt_file_open(encrypted), rt_file_open(plain), nullptr, nullptr};
  const int64_t plain_length = f.plain >= 0 ? rt_file_length(f.plain) : -1;
  const int64_t least = rule == AS_WRITTEN ? FILE_LEAST_PLAIN : 1;
  const uint64_t data_length = static_cast<uint64_t>(file_padded_length(plain_length));
  bool same = f.encrypted >= 0 && plain_length >= least;
  if (same) {
    // A line's room before the piece for the header, which is read with
    // the first piece: one read for a small file.
    f.cipher_block = rt_block_alloc(piece_room(data_length) + 2 * LINE_BYTES);
    f.plain_block = piece_alloc(static_cast<uint64_t>(plain_length));
  }
  same = same && f.cipher_block != nullptr && f.plain_block != nullptr;
  uint8_t* cipher_piece =
      same ? piece_in(static_cast<uint8_t*>(f.cipher_block) + LINE_BYTES, FILE_HEADER_SIZE) : nullptr;
  const int32_t first = FILE_HEADER_SIZE + piece_length(data_length);
  same = same && rt_file_read(f.encrypted, cipher_piece - FILE_HEADER_SIZE, first) == first;
  file_header h = {};
  if (same) h = header_load(cipher_piece - FILE_HEADER_SIZE);
  same = same && header_fits(h, rt_file_length(f.encrypted), plain_length, rule);
  uint32_t crc = 0;
  if (same) {
    cipher_key cipher = cipher_key_from_string(key);
    same = body_matches(c, &f, h, cipher, rule, cipher_piece, &crc) && crc == h.plain_crc;
    wipe(&cipher, sizeof cipher);
  }
  holds_close(&f, &same);
  return same;
}
