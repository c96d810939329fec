// The reference cipher (see xtea.h).  Known answers, checked by
// tests/test_xtea.cpp, as bench/baseline.cpp (written apart from this file,
// from the format's description) computes them; build/native/bench/
// qelv_known_answers prints them again:
//   key zero, block zero             enciphers to 41d580dd98ccccee
//   key "pumpkinjar", "Qelv1234"     enciphers to 1cf5c2925299fdac
//   key "pumpkinjar", iv 00..07, CBC over "abcdefghijklmnop"
//                                    ce10e9bf0e523b5ec783d5c7cb8c7322
// (Published XTEA gives d8d4e9ded91e13f7 for the first: the variant's shift
// makes the difference.)

#include "xtea.h"

#include "bytes.h"
#include "wipe.h"

cipher_key cipher_key_from_string(const char* key_text) {
  cipher_key key = {};
  for (int j = 0; j < 16 && key_text[j] != '\0'; j++)
    key.bytes[j] = static_cast<uint8_t>(key_text[j]);
  return key;
}

static void load_words(const cipher_key& key, uint32_t k[4]) {
  for (int i = 0; i < 4; i++) k[i] = load_le32(key.bytes + 4 * i);
}

void xtea_encipher(const cipher_key& key, uint8_t block[8]) {
  uint32_t k[4];
  load_words(key, k);
  uint32_t y = load_le32(block), z = load_le32(block + 4), sum = 0;
  for (int cycle = 0; cycle < 32; cycle++) {
    y += xtea_mix(z) ^ (sum + k[sum & 3]);
    sum += xtea_delta;
    z += xtea_mix(y) ^ (sum + k[(sum >> 11) & 3]);
  }
  store_le32(block, y);
  store_le32(block + 4, z);
  wipe(k, sizeof k);
}

void xtea_decipher(const cipher_key& key, uint8_t block[8]) {
  uint32_t k[4];
  load_words(key, k);
  uint32_t y = load_le32(block), z = load_le32(block + 4), sum = xtea_decipher_sum;
  for (int cycle = 0; cycle < 32; cycle++) {
    z -= xtea_mix(y) ^ (sum + k[(sum >> 11) & 3]);
    sum -= xtea_delta;
    y -= xtea_mix(z) ^ (sum + k[sum & 3]);
  }
  store_le32(block, y);
  store_le32(block + 4, z);
  wipe(k, sizeof k);
}

xtea_schedule xtea_make_schedule(const cipher_key& key) {
  uint32_t k[4];
  load_words(key, k);
  xtea_schedule s;
  uint32_t sum = 0;
  for (int cycle = 0; cycle < 32; cycle++) {
    s.round_key[2 * cycle] = sum + k[sum & 3];
    sum += xtea_delta;
    s.round_key[2 * cycle + 1] = sum + k[(sum >> 11) & 3];
  }
  wipe(k, sizeof k);
  return s;
}
