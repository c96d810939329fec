// CBC over a buffer: encryption as one chain, and the choice among the
// decipher paths.  Every form here is derived from the reference in
// xtea.cpp: the round keys sum + k[...] are taken once into a schedule
// (xtea_make_schedule), and mix below is xtea_mix rewritten.  Held to the
// reference by tests/test_cbc_kernels.cpp (CbcEncrypt against single-block
// enciphering, CbcPath with the scalar path forced against
// cbc_decrypt_reference) and by the known chain in tests/test_xtea.cpp.

#include "cbc.h"

#include <cstring>

#include "bytes.h"
#include "cbc_kernels.h"
#include "wipe.h"

// xtea_mix with one step less on its critical path.  The variant's shift is
// the arithmetic shift with bit 31 cleared; leaving that bit in flips bit 31
// of the sum, which adding x's own bit 31 undoes, so
//   F(x) = ((x << 4) ^ sar(x, 5)) + (x & 0x7FFFFFFF).
static inline uint32_t mix(uint32_t x) {
  uint32_t sar5 = static_cast<uint32_t>(static_cast<int32_t>(x) >> 5);
  return ((x << 4) ^ sar5) + (x & 0x7FFFFFFFu);
}

// CBC encryption is one chain: each block's input is XORed with the
// ciphertext of the block before, so no block can be enciphered before the
// previous one is done, and SIMD lanes would have nothing to work on side by
// side.  The loop is made as short as the chain allows instead: the round
// keys come from a schedule made once per call, the chaining value and the
// block stay in registers, and nothing is copied.
void cbc_encrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks) {
  xtea_schedule s = xtea_make_schedule(key);
  uint32_t y = load_le32(iv), z = load_le32(iv + 4);
  for (int32_t i = 0; i < blocks; i++) {
    uint8_t* block = data + 8 * static_cast<intptr_t>(i);
    y ^= load_le32(block);  // y, z hold the previous ciphertext: the chaining value
    z ^= load_le32(block + 4);
    for (int r = 0; r < 64; r += 2) {
      y += mix(z) ^ s.round_key[r];
      z += mix(y) ^ s.round_key[r + 1];
    }
    store_le32(block, y);
    store_le32(block + 4, z);
  }
  wipe(&s, sizeof s);
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

// The fallback for processors without SSE2: one block at a time, like the
// reference, but from the schedule and with the words in registers.
static void cbc_decrypt_scalar(const uint32_t round_key[64], const uint8_t iv[8],
                               const uint8_t* in, uint8_t* out, int32_t blocks) {
  uint32_t chain_y = load_le32(iv), chain_z = load_le32(iv + 4);
  for (int32_t i = 0; i < blocks; i++) {
    const uint8_t* block = in + 8 * static_cast<intptr_t>(i);
    const uint32_t cipher_y = load_le32(block), cipher_z = load_le32(block + 4);
    uint32_t y = cipher_y, z = cipher_z;
    for (int r = 62; r >= 0; r -= 2) {
      z -= mix(y) ^ round_key[r + 1];
      y -= mix(z) ^ round_key[r];
    }
    store_le32(out + 8 * static_cast<intptr_t>(i), y ^ chain_y);
    store_le32(out + 8 * static_cast<intptr_t>(i) + 4, z ^ chain_z);
    chain_y = cipher_y;
    chain_z = cipher_z;
  }
}

static unsigned hidden_paths;  // bit (1 << path) set: hidden by a test

void cbc_hide_path_for_testing(cbc_path path, bool hidden) {
  if (hidden)
    hidden_paths |= 1u << path;
  else
    hidden_paths &= ~(1u << path);
}

bool cbc_path_available(cbc_path path) {
  if (hidden_paths & (1u << path)) return false;
  switch (path) {
    case CBC_PATH_SCALAR: return true;
    case CBC_PATH_SSE2: return cpu_has_sse2();
    case CBC_PATH_AVX2: return cpu_has_avx2();
    case CBC_PATH_AVX512: return cpu_has_avx512();
  }
  return false;
}

static cbc_path fastest_path() {
  if (cpu_has_avx512()) return CBC_PATH_AVX512;
  if (cpu_has_avx2()) return CBC_PATH_AVX2;
  if (cpu_has_sse2()) return CBC_PATH_SSE2;
  return CBC_PATH_SCALAR;
}

// The processor's answers do not change and no test hides them, so the
// path comes out the same at every call; cpu_features.cpp keeps them.
cbc_path cbc_chosen_path() { return fastest_path(); }

const char* cbc_path_name(cbc_path path) {
  switch (path) {
    case CBC_PATH_SCALAR: return "scalar";
    case CBC_PATH_SSE2: return "sse2";
    case CBC_PATH_AVX2: return "avx2";
    case CBC_PATH_AVX512: return "avx512";
  }
  return "?";
}

bool cbc_decrypt_on_into(cbc_path path, const cipher_key& key, const uint8_t iv[8],
                         const uint8_t* in, uint8_t* out, int32_t blocks) {
  if (!cbc_path_available(path)) return false;
  if (blocks <= 0) return true;
  xtea_schedule s = xtea_make_schedule(key);
  switch (path) {
    case CBC_PATH_SCALAR: cbc_decrypt_scalar(s.round_key, iv, in, out, blocks); break;
    case CBC_PATH_SSE2: cbc_decrypt_sse2(s.round_key, iv, in, out, blocks); break;
    case CBC_PATH_AVX2: cbc_decrypt_avx2(s.round_key, iv, in, out, blocks); break;
    case CBC_PATH_AVX512: cbc_decrypt_avx512(s.round_key, iv, in, out, blocks); break;
  }
  wipe(&s, sizeof s);
  return true;
}

bool cbc_decrypt_on(cbc_path path, const cipher_key& key, const uint8_t iv[8], uint8_t* data,
                    int32_t blocks) {
  return cbc_decrypt_on_into(path, key, iv, data, data, blocks);
}

// The chosen path is there unless a test has hidden it since; the
// reference then deciphers, so that data is never left as it was.
void cbc_decrypt_into(const cipher_key& key, const uint8_t iv[8], const uint8_t* in, uint8_t* out,
                      int32_t blocks) {
  if (!cbc_decrypt_on_into(cbc_chosen_path(), key, iv, in, out, blocks) && blocks > 0) {
    memmove(out, in, 8 * static_cast<size_t>(blocks));
    cbc_decrypt_reference(key, iv, out, blocks);
  }
}

void cbc_decrypt(const cipher_key& key, const uint8_t iv[8], uint8_t* data, int32_t blocks) {
  cbc_decrypt_into(key, iv, data, data, blocks);
}
