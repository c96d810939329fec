// The cipher variant, the key rule and CBC over a buffer, against values
// computed by a separate implementation written from the format's
// description (build/native/bench/qelv_known_answers prints them).

#include <gtest/gtest.h>

#include <cstring>

#include "../engine/bytes.h"
#include "../engine/cbc.h"
#include "../engine/xtea.h"
#include "test_files.h"

static bytes hex(const char* text) {
  bytes out;
  for (size_t i = 0; text[i] && text[i + 1]; i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(std::string(text + i, 2), nullptr, 16)));
  return out;
}

TEST(Cipher, VariantShiftDiffersOnlyWhenBit31IsSet) {
  EXPECT_EQ(xtea_shift(0x80000000u), 0x7C000000u);
  EXPECT_EQ(xtea_shift(0xFFFFFFFFu), 0x7FFFFFFFu);
  EXPECT_EQ(xtea_shift(0x7FFFFFFFu), 0x03FFFFFFu);
  EXPECT_EQ(xtea_shift(0x12345678u), 0x12345678u >> 5);
}

TEST(Cipher, ZeroKeyZeroBlockIsNotPublishedXtea) {
  const cipher_key key = {};
  uint8_t block[8] = {};
  xtea_encipher(key, block);
  // Published XTEA gives the words DEE9D4D8 F7131ED9 here.
  EXPECT_NE(load_le32(block), 0xDEE9D4D8u);
  EXPECT_EQ(load_le32(block), 0xDD80D541u);
  EXPECT_EQ(load_le32(block + 4), 0xEECCCC98u);
  xtea_decipher(key, block);
  EXPECT_EQ(bytes(block, block + 8), bytes(8, 0));
}

TEST(Cipher, KnownBlockUnderTextKey) {
  const cipher_key key = cipher_key_from_string("pumpkinjar");
  uint8_t block[8];
  memcpy(block, "Qelv1234", 8);
  xtea_encipher(key, block);
  EXPECT_EQ(bytes(block, block + 8), hex("1cf5c2925299fdac"));
}

TEST(Cipher, DecipherUndoesEncipherForManyKeysAndBlocks) {
  for (uint32_t seed = 0; seed < 200; seed++) {
    bytes k = pattern_bytes(16, seed), b = pattern_bytes(8, seed + 1000);
    cipher_key key;
    memcpy(key.bytes, k.data(), 16);
    uint8_t block[8];
    memcpy(block, b.data(), 8);
    xtea_encipher(key, block);
    EXPECT_NE(bytes(block, block + 8), b);
    xtea_decipher(key, block);
    ASSERT_EQ(bytes(block, block + 8), b) << "seed " << seed;
  }
}

TEST(CipherKey, FirstSixteenBytesCountAndTheRestIsZero) {
  cipher_key three = cipher_key_from_string("abc");
  EXPECT_EQ(load_le32(three.bytes), 0x00636261u);  // 'a' low, 'c' in bits 16..23
  for (int i = 4; i < 16; i++) EXPECT_EQ(three.bytes[i], 0);

  cipher_key twenty = cipher_key_from_string("0123456789abcdefWXYZ");
  cipher_key sixteen = cipher_key_from_string("0123456789abcdef");
  EXPECT_EQ(0, memcmp(twenty.bytes, sixteen.bytes, 16));
  EXPECT_EQ(0, memcmp(sixteen.bytes, "0123456789abcdef", 16));

  cipher_key spaced = cipher_key_from_string(" key ");
  EXPECT_EQ(0, memcmp(spaced.bytes, " key \0", 6));
  cipher_key plain = cipher_key_from_string("key");
  EXPECT_NE(0, memcmp(spaced.bytes, plain.bytes, 16));
}

TEST(Cbc, KnownChainUnderFixedIv) {
  const cipher_key key = cipher_key_from_string("pumpkinjar");
  const uint8_t iv[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  uint8_t data[16];
  memcpy(data, "abcdefghijklmnop", 16);
  cbc_encrypt(key, iv, data, 2);
  EXPECT_EQ(bytes(data, data + 16), hex("ce10e9bf0e523b5ec783d5c7cb8c7322"));
  cbc_decrypt(key, iv, data, 2);
  EXPECT_EQ(0, memcmp(data, "abcdefghijklmnop", 16));
}

TEST(Cbc, ChainingCarriesFromBlockToBlock) {
  const cipher_key key = cipher_key_from_string("chain");
  const uint8_t iv[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  bytes data(64, 0x41);  // equal plain blocks must still give distinct cipher blocks
  cbc_encrypt(key, iv, data.data(), 8);
  for (int i = 1; i < 8; i++)
    EXPECT_NE(bytes(data.begin() + 8 * (i - 1), data.begin() + 8 * i),
              bytes(data.begin() + 8 * i, data.begin() + 8 * (i + 1)));
  bytes copy = data;
  cbc_decrypt(key, iv, data.data(), 8);
  EXPECT_EQ(data, bytes(64, 0x41));
  cbc_decrypt_reference(key, iv, copy.data(), 8);
  EXPECT_EQ(copy, data);
}
