// Cipher block chaining over a buffer, in place.  The file operations read
// and write; these functions only transform whole 8-byte blocks, so that the
// chaining can be tested with a fixed initial value.
#pragma once

#include <cstdint>

#include "xtea.h"

// Encrypts blocks * 8 bytes of data in place, chained from iv.
void cbc_encrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks);

// Decrypts blocks * 8 bytes of data in place, chained from iv, on the fastest
// path that the processor has.
void cbc_decrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks);

// The same from in into out, which is in itself, or lies before it
// (overlapping it or not), or wholly after it, so that a piece read at one
// place within a cache line can be deciphered to another.  Bytes of in
// that out does not cover are left as they were.
void cbc_decrypt_into(const cipher_key& key, const uint8_t iv[8], const uint8_t* in, uint8_t* out,
                      int32_t blocks);

// The one-block-at-a-time decryption, kept as the reference that faster
// kernels are checked against.
void cbc_decrypt_reference(const cipher_key& key, const uint8_t iv[8], uint8_t* data,
                           int32_t blocks);

// The ways of deciphering, slowest first.  The SIMD paths decipher many
// blocks side by side; the scalar path works one block at a time from a key
// schedule.  All give the same bytes as cbc_decrypt_reference.
enum cbc_path { CBC_PATH_SCALAR, CBC_PATH_SSE2, CBC_PATH_AVX2, CBC_PATH_AVX512 };

// True when the processor (and, for AVX2, the system) supports the path,
// and no test has hidden it.
bool cbc_path_available(cbc_path path);

// For tests only: while hidden, a path counts as missing, as on a processor
// without it, so that the refusal can be tested where the processor has
// every path.  Nothing else calls it; while the chosen path is hidden,
// cbc_decrypt deciphers through the reference.
void cbc_hide_path_for_testing(cbc_path path, bool hidden);

// The path cbc_decrypt takes: the fastest the processor has, told at each
// call from its features, which cpu_features.cpp reads once and keeps.
cbc_path cbc_chosen_path();

const char* cbc_path_name(cbc_path path);  // "scalar", "sse2", "avx2", "avx512"

// cbc_decrypt and cbc_decrypt_into on the given path.  False, with nothing
// touched, when the path is not available.
bool cbc_decrypt_on(cbc_path path, const cipher_key& key, const uint8_t iv[8], uint8_t* data,
                    int32_t blocks);
bool cbc_decrypt_on_into(cbc_path path, const cipher_key& key, const uint8_t iv[8],
                         const uint8_t* in, uint8_t* out, int32_t blocks);
