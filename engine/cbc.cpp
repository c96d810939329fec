#include "cbc.h"

#include <cstring>

// CBC encryption is one chain: each block's input depends on the ciphertext
// of the block before, so blocks cannot be enciphered side by side.  The loop
// keeps the chaining value and the block in registers and reads its round
// keys from a schedule made once per call.
void cbc_encrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks) {
  const xtea_schedule s = xtea_make_schedule(key);
  uint32_t cy = load_le32(iv), cz = load_le32(iv + 4);
  for (int32_t i = 0; i < blocks; i++) {
    uint8_t* block = data + 8 * static_cast<intptr_t>(i);
    uint32_t y = load_le32(block) ^ cy, z = load_le32(block + 4) ^ cz;
    for (int r = 0; r < 64; r += 2) {
      y += xtea_mix(z) ^ s.round_key[r];
      z += xtea_mix(y) ^ s.round_key[r + 1];
    }
    store_le32(block, y);
    store_le32(block + 4, z);
    cy = y;
    cz = z;
  }
}

void cbc_decrypt_reference(const cipher_key& key, const uint8_t iv[8], uint8_t* data,
                           int32_t blocks) {
  uint8_t chain[8];
  memcpy(chain, iv, 8);
  for (int32_t i = 0; i < blocks; i++) {
    uint8_t* block = data + 8 * static_cast<intptr_t>(i);
    uint8_t cipher[8];
    memcpy(cipher, block, 8);
    xtea_decipher(key, block);
    for (int j = 0; j < 8; j++) block[j] ^= chain[j];
    memcpy(chain, cipher, 8);
  }
}

void cbc_decrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks) {
  cbc_decrypt_reference(key, iv, data, blocks);
}
