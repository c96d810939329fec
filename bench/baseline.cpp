// The straightforward implementation that the engine is measured against,
// written the way the file format is described: the round keys worked out
// round by round, one block at a time, each block copied into an 8-byte
// area, worked there and copied out, and separate plain and cipher buffers.
// Beside it, the tightest single CBC encryption chain known, the limit for
// cbc_encrypt.

#include <cstdio>
#include <cstring>

#include "../engine/bytes.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "bench.h"

// The variant's shift: arithmetic shift right by 5, then bit 31 cleared.
static uint32_t shift5(uint32_t x) {
  return static_cast<uint32_t>(static_cast<int32_t>(x) >> 5) & 0x7FFFFFFFu;
}

static uint32_t mix(uint32_t x) { return ((x << 4) ^ shift5(x)) + x; }

static const uint32_t delta = 0x9E3779B9;

void baseline_encipher(const uint8_t key[16], uint8_t block[8]) {
  uint32_t k[4];
  for (int i = 0; i < 4; i++) k[i] = load_le32(key + 4 * i);
  uint32_t y = load_le32(block), z = load_le32(block + 4), sum = 0;
  for (int cycle = 0; cycle < 32; cycle++) {
    y += mix(z) ^ (sum + k[sum & 3]);
    sum += delta;
    z += mix(y) ^ (sum + k[(sum >> 11) & 3]);
  }
  store_le32(block, y);
  store_le32(block + 4, z);
}

void baseline_decipher(const uint8_t key[16], uint8_t block[8]) {
  uint32_t k[4];
  for (int i = 0; i < 4; i++) k[i] = load_le32(key + 4 * i);
  uint32_t y = load_le32(block), z = load_le32(block + 4), sum = delta * 32;
  for (int cycle = 0; cycle < 32; cycle++) {
    z -= mix(y) ^ (sum + k[(sum >> 11) & 3]);
    sum -= delta;
    y -= mix(z) ^ (sum + k[sum & 3]);
  }
  store_le32(block, y);
  store_le32(block + 4, z);
}

void baseline_cbc_encrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t* plain,
                          uint8_t* cipher, int32_t blocks) {
  uint8_t chain[8];
  memcpy(chain, iv, 8);
  for (int32_t i = 0; i < blocks; i++) {
    uint8_t area[8];
    memcpy(area, plain + 8 * static_cast<size_t>(i), 8);
    for (int j = 0; j < 8; j++) area[j] ^= chain[j];
    baseline_encipher(key, area);
    memcpy(cipher + 8 * static_cast<size_t>(i), area, 8);
    memcpy(chain, area, 8);
  }
}

void baseline_cbc_decrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t* cipher,
                          uint8_t* plain, int32_t blocks) {
  uint8_t chain[8];
  memcpy(chain, iv, 8);
  for (int32_t i = 0; i < blocks; i++) {
    uint8_t area[8];
    memcpy(area, cipher + 8 * static_cast<size_t>(i), 8);
    baseline_decipher(key, area);
    for (int j = 0; j < 8; j++) area[j] ^= chain[j];
    memcpy(plain + 8 * static_cast<size_t>(i), area, 8);
    memcpy(chain, cipher + 8 * static_cast<size_t>(i), 8);
  }
}

// Table-driven, one byte at a time, reflected polynomial 0xEDB88320.
uint32_t baseline_crc32(const uint8_t* data, int32_t count) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t n = 0; n < 256; n++) {
      uint32_t c = n;
      for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (int32_t i = 0; i < count; i++) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// The best one chain can do: round keys made once, words in registers, the
// mixing function in its form with the shortest dependency chain.
void tight_chain_encrypt(const uint32_t round_key[64], const uint8_t iv[8], uint8_t* data,
                         int32_t blocks) {
  uint32_t y, z;
  memcpy(&y, iv, 4);  // x86 is little-endian, as the format is
  memcpy(&z, iv + 4, 4);
  for (uint8_t *p = data, *end = data + 8 * static_cast<size_t>(blocks); p < end; p += 8) {
    uint32_t py, pz;
    memcpy(&py, p, 4);
    memcpy(&pz, p + 4, 4);
    y ^= py;
    z ^= pz;
    for (int r = 0; r < 64; r += 2) {
      y += (((z << 4) ^ static_cast<uint32_t>(static_cast<int32_t>(z) >> 5)) + (z & 0x7FFFFFFFu)) ^
           round_key[r];
      z += (((y << 4) ^ static_cast<uint32_t>(static_cast<int32_t>(y) >> 5)) + (y & 0x7FFFFFFFu)) ^
           round_key[r + 1];
    }
    memcpy(p, &y, 4);
    memcpy(p + 4, &z, 4);
  }
}

static const char ok_text[] = "OK";

static void key_from_text(const char* text, uint8_t key[16]) {
  memset(key, 0, 16);
  for (int j = 0; j < 16 && text[j] != '\0'; j++) key[j] = static_cast<uint8_t>(text[j]);
}

static bool write_whole(const char* path, const uint8_t* head, int32_t head_length,
                        const uint8_t* body, int32_t body_length) {
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  bool ok = std::fwrite(head, 1, head_length, out) == static_cast<size_t>(head_length) &&
            std::fwrite(body, 1, body_length, out) == static_cast<size_t>(body_length);
  return std::fclose(out) == 0 && ok;
}

// encrypt_file with two buffers and the baseline cipher; no refusals beyond
// what keeps it from harm, since it only runs on the benchmark's own files.
const char* baseline_encrypt_file(const char* file, const char* output, const char* key_text) {
  int source = rt_file_open(file);
  if (source < 0) return "cannot open";
  const int64_t plain_size = rt_file_length(source);
  const int pad_count = static_cast<int>((8 - plain_size % 8) % 8);
  const int32_t data_length = static_cast<int32_t>(plain_size + pad_count);
  auto* plain = static_cast<uint8_t*>(rt_block_alloc(data_length));
  auto* cipher = static_cast<uint8_t*>(rt_block_alloc(data_length));
  const char* result = ok_text;
  if (plain == nullptr || cipher == nullptr) result = "no memory";
  else if (rt_file_read(source, plain, static_cast<int32_t>(plain_size)) != plain_size)
    result = "cannot read";
  rt_file_close(source);
  if (result == ok_text) {
    file_header h = {};
    h.plain_size = plain_size;
    h.pad_count = static_cast<int8_t>(pad_count);
    h.plain_crc = rt_crc32(plain, static_cast<int32_t>(plain_size));
    h.constant[0] = 2;
    store_le32(h.iv, static_cast<uint32_t>(rt_random()));
    store_le32(h.iv + 4, static_cast<uint32_t>(rt_random()));
    uint8_t head[FILE_HEADER_SIZE], key[16];
    header_store(h, head);
    key_from_text(key_text, key);
    baseline_cbc_encrypt(key, h.iv, plain, cipher, data_length / 8);
    if (!write_whole(output, head, FILE_HEADER_SIZE, cipher, data_length)) result = "cannot write";
  }
  rt_block_free(plain);
  rt_block_free(cipher);
  return result;
}

const char* baseline_decrypt_file(const char* file, const char* output, const char* key_text) {
  int source = rt_file_open(file);
  if (source < 0) return "cannot open";
  uint8_t head[FILE_HEADER_SIZE] = {};
  rt_file_read(source, head, FILE_HEADER_SIZE);
  const file_header h = header_load(head);
  if (h.plain_size < 1 || h.pad_count < 0 || h.plain_size + h.pad_count > INT32_MAX) {
    rt_file_close(source);
    return "not encrypted";
  }
  const int32_t data_length = static_cast<int32_t>(h.plain_size + h.pad_count);
  auto* cipher = static_cast<uint8_t*>(rt_block_alloc(data_length));
  auto* plain = static_cast<uint8_t*>(rt_block_alloc(data_length));
  const char* result = ok_text;
  if (plain == nullptr || cipher == nullptr) result = "no memory";
  else if (rt_file_read(source, cipher, data_length) < 0) result = "cannot read";
  rt_file_close(source);
  if (result == ok_text) {
    uint8_t key[16];
    key_from_text(key_text, key);
    baseline_cbc_decrypt(key, h.iv, cipher, plain, data_length / 8);
    if (rt_crc32(plain, static_cast<int32_t>(h.plain_size)) != h.plain_crc) result = "CRC failure";
    else if (!write_whole(output, nullptr, 0, plain, static_cast<int32_t>(h.plain_size)))
      result = "cannot write";
  }
  rt_block_free(plain);
  rt_block_free(cipher);
  return result;
}
