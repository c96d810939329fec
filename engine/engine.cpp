// encrypt_file and decrypt_file.  Each holds the data once, in one block that
// is read, transformed in place and written.  Output is opened only when the
// result is already known to be good, and room for the new content is
// reserved before any old byte of it is overwritten.

#include "engine.h"

#include <cstdint>
#include <cstring>

#include "../runtime/runtime.h"
#include "cbc.h"
#include "file_format.h"
#include "xtea.h"

const char result_ok[] = "OK";
const char result_refused[] = "Error, no valid key, filename or file doesn't exist!";
const char result_crc_failure[] = "CRC Failure, data may be corrupt";
const char result_read_error[] = "Error, could not read the file!";
const char result_write_error[] = "Error, could not write the output file!";
const char result_too_large[] = "Error, the file is too large!";
const char result_not_encrypted[] = "Error, not a valid encrypted file!";

// Data lengths are signed 32-bit counts.
static const int64_t max_data_length = INT32_MAX;

// True when the text holds a character other than the space (code 32), that
// is, when trimming spaces from both ends leaves something.
static bool has_non_space(const char* text) {
  for (; *text != '\0'; text++)
    if (*text != ' ') return true;
  return false;
}

// Writes head then body to Output from its start and cuts it there.  When the
// new content is longer than the file, the file is first extended to its
// final length, so that a full disk is found before any old byte is
// overwritten.  Until the first write Output can still be put back: a file
// this call created is removed again, an old one is cut back to its length.
static const char* write_output(const char* path, const uint8_t* head, int32_t head_length,
                                const uint8_t* body, int32_t body_length) {
  bool created = false;
  int out = rt_file_open(path, RT_OPEN_OUTPUT, &created);
  if (out < 0) return result_write_error;
  const int64_t old_length = created ? 0 : rt_file_length(out);
  bool ready = old_length >= 0;
  if (ready) ready = rt_file_reserve(out, static_cast<int64_t>(head_length) + body_length);
  if (ready && !rt_file_seek(out, 0)) {
    // The room is there but nothing written: give it back.
    if (!created && rt_file_seek(out, old_length)) rt_file_cut(out);
    ready = false;
  }
  if (!ready) {
    rt_file_close(out);
    if (created) rt_file_remove(path);
    return result_write_error;
  }
  bool written = (head_length == 0 || rt_file_write(out, head, head_length) == head_length) &&
                 rt_file_write(out, body, body_length) == body_length && rt_file_cut(out);
  bool closed = rt_file_close(out);
  return written && closed ? result_ok : result_write_error;
}

static void draw_iv(uint8_t iv[8]) {
  int64_t r1 = rt_random(), r2 = rt_random();
  // At most (2^31-1)^2 - 1, so the product cannot overflow; -1 when either is 0.
  uint64_t v = static_cast<uint64_t>(r1 * r2 - 1);
  store_le32(iv, static_cast<uint32_t>(v));
  store_le32(iv + 4, static_cast<uint32_t>(v >> 32));
}

const char* encrypt_file(const char* file, const char* output, const char* key) {
  if (!has_non_space(key) || file[0] == '\0' || rt_size_query(file) < 2) return result_refused;

  int source = rt_file_open(file, RT_OPEN_SOURCE, nullptr);
  if (source < 0) return result_read_error;
  int64_t plain_size = rt_file_length(source);
  const char* refusal = nullptr;
  if (plain_size < 0) refusal = result_read_error;
  else if (plain_size < 2) refusal = result_refused;  // shrank since the size query
  int pad_count = static_cast<int>((8 - plain_size % 8) % 8);
  int64_t data_length = plain_size + pad_count;
  if (refusal == nullptr && data_length > max_data_length) refusal = result_too_large;
  uint8_t* data = nullptr;
  if (refusal == nullptr) {
    data = static_cast<uint8_t*>(rt_block_alloc(data_length));
    if (data == nullptr) refusal = result_too_large;
  }
  if (refusal == nullptr &&
      rt_file_read(source, data, static_cast<int32_t>(plain_size)) != plain_size)
    refusal = result_read_error;
  if (!rt_file_close(source) && refusal == nullptr) refusal = result_read_error;
  if (refusal != nullptr) {
    rt_block_free(data);
    return refusal;
  }

  file_header h = {};
  h.plain_size = plain_size;
  h.pad_count = static_cast<int8_t>(pad_count);
  h.plain_crc = rt_crc32(data, static_cast<int32_t>(plain_size));
  h.constant[0] = 2;
  h.constant[1] = 0;
  draw_iv(h.iv);
  uint8_t head[FILE_HEADER_SIZE];
  header_store(h, head);

  cbc_encrypt(cipher_key_from_string(key), h.iv, data, static_cast<int32_t>(data_length / 8));
  const char* result =
      write_output(output, head, FILE_HEADER_SIZE, data, static_cast<int32_t>(data_length));
  rt_block_free(data);
  return result;
}

// The header is trusted as far as the buffers allow: plain_size must be at
// least 1 and within the data length, and the data length must fit a block.
static const char* check_header(const file_header& h) {
  if (h.plain_size < 1 || h.pad_count < 0) return result_not_encrypted;
  if (h.plain_size > max_data_length - h.pad_count) return result_too_large;
  return nullptr;
}

// The body is read and deciphered a piece at a time, so that each piece is
// still in the processor's cache when it is deciphered and when the CRC goes
// over it: a large file then crosses memory once instead of three times.
static const int32_t PIECE_BYTES = 256 * 1024;  // a multiple of the block size
static_assert(PIECE_BYTES % 8 == 0, "pieces hold whole blocks");

// Reads the body into data (data_length bytes, zeroed) and deciphers it in
// place, leaving the CRC of the first plain_size bytes in *crc.  A body that
// ends early leaves zero bytes, deciphered like the rest, and the CRC
// decides.  Bytes past the last whole block are not deciphered: they count
// as zero.
static const char* decipher_body(int source, const cipher_key& cipher, const file_header& h,
                                 uint8_t* data, int64_t data_length, uint32_t* crc) {
  uint8_t chain[8];
  memcpy(chain, h.iv, 8);
  bool ended = false;
  for (int64_t at = 0; at < data_length; at += PIECE_BYTES) {
    int32_t length = static_cast<int32_t>(
        data_length - at < PIECE_BYTES ? data_length - at : PIECE_BYTES);
    uint8_t* piece = data + at;
    if (!ended) {
      int32_t got = rt_file_read(source, piece, length);
      if (got < 0) return result_read_error;
      ended = got < length;
    }
    int32_t blocks = length / 8;
    if (blocks > 0) {
      // The piece's last ciphertext block chains into the next piece; it is
      // kept before deciphering in place overwrites it.
      uint8_t next_chain[8];
      memcpy(next_chain, piece + 8 * (blocks - 1), 8);
      cbc_decrypt(cipher, chain, piece, blocks);
      memcpy(chain, next_chain, 8);
    }
    memset(piece + 8 * blocks, 0, length - 8 * blocks);
    int64_t plain_left = h.plain_size - at;
    if (plain_left < length) length = static_cast<int32_t>(plain_left > 0 ? plain_left : 0);
    *crc = rt_crc32_update(*crc, piece, length);
  }
  return nullptr;
}

// Reads and deciphers File into a new block and checks its CRC.  On "OK" the
// block holds the plain bytes and belongs to the caller; otherwise no block
// is left.
static const char* decipher_file(const char* file, const char* key, uint8_t** plain,
                                 int32_t* plain_size) {
  *plain = nullptr;
  if (!has_non_space(key) || !has_non_space(file) || rt_size_query(file) < 1)
    return result_refused;
  const cipher_key cipher = cipher_key_from_string(key);

  int source = rt_file_open(file, RT_OPEN_SOURCE, nullptr);
  if (source < 0) return result_read_error;
  uint8_t head[FILE_HEADER_SIZE] = {};
  const char* refusal = nullptr;
  if (rt_file_read(source, head, FILE_HEADER_SIZE) < 0) refusal = result_read_error;
  const file_header h = header_load(head);
  if (refusal == nullptr) refusal = check_header(h);
  int64_t data_length = 0;
  uint8_t* data = nullptr;
  if (refusal == nullptr) {
    data_length = h.plain_size + h.pad_count;
    data = static_cast<uint8_t*>(rt_block_alloc(data_length));
    if (data == nullptr) refusal = result_too_large;
  }
  uint32_t crc = 0;
  if (refusal == nullptr) refusal = decipher_body(source, cipher, h, data, data_length, &crc);
  if (!rt_file_close(source) && refusal == nullptr) refusal = result_read_error;
  if (refusal == nullptr && crc != h.plain_crc) refusal = result_crc_failure;
  if (refusal != nullptr) {
    rt_block_free(data);
    return refusal;
  }
  *plain = data;
  *plain_size = static_cast<int32_t>(h.plain_size);
  return result_ok;
}

const char* decrypt_file(const char* file, const char* output, const char* key) {
  uint8_t* plain;
  int32_t plain_size = 0;
  const char* result = decipher_file(file, key, &plain, &plain_size);
  if (plain == nullptr) return result;
  result = write_output(output, nullptr, 0, plain, plain_size);
  rt_block_free(plain);
  return result;
}

const char* verify_file(const char* file, const char* key) {
  uint8_t* plain;
  int32_t plain_size = 0;
  const char* result = decipher_file(file, key, &plain, &plain_size);
  rt_block_free(plain);
  return result;
}
