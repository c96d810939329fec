// Cipher block chaining over a buffer, in place.  The file operations read
// and write; these functions only transform whole 8-byte blocks, so that the
// chaining can be tested with a fixed initial value.
#pragma once

#include <cstdint>

#include "xtea.h"

// Encrypts blocks * 8 bytes of data in place, chained from iv.
void cbc_encrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks);

// Decrypts blocks * 8 bytes of data in place, chained from iv.
void cbc_decrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks);

// The one-block-at-a-time decryption, kept as the reference that faster
// kernels are checked against.
void cbc_decrypt_reference(const cipher_key& key, const uint8_t iv[8], uint8_t* data,
                           int32_t blocks);
