// The decipher paths against the one-block-at-a-time reference: every
// length from 0 to 64 blocks and some large ones, at odd addresses, with
// guard bytes around the data; each path forced in turn.  Also encryption
// against a chain of single-block encipherings, the choice of path, a file
// written before these paths existed, and (32-bit) a misaligned stack.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "../engine/cbc.h"
#include "../engine/file_format.h"
#include "../engine/xtea.h"
#include "../runtime/runtime.h"
#include "test_files.h"

static const size_t guard = 16;  // bytes on each side that no path may touch
static const uint8_t guard_byte = 0xA5;

struct cbc_case {
  cipher_key key;
  uint8_t iv[8];
  bytes buffer;  // guard, data at some offset, guard
  size_t offset;
};

static cbc_case random_case(int32_t blocks, uint32_t seed) {
  std::mt19937 gen(seed);
  cbc_case c;
  for (uint8_t& b : c.key.bytes) b = static_cast<uint8_t>(gen());
  for (uint8_t& b : c.iv) b = static_cast<uint8_t>(gen());
  c.offset = guard + seed % 8;  // the paths must not need aligned data
  c.buffer.assign(c.offset + 8 * static_cast<size_t>(blocks) + guard, guard_byte);
  for (size_t i = 0; i < 8 * static_cast<size_t>(blocks); i++)
    c.buffer[c.offset + i] = static_cast<uint8_t>(gen());
  return c;
}

class CbcPath : public testing::TestWithParam<cbc_path> {
 protected:
  void SetUp() override {
    if (!cbc_path_available(GetParam()))
      GTEST_SKIP() << "this processor has no " << cbc_path_name(GetParam());
  }
  // Decrypts a random case on the path and with the reference; the whole
  // buffers, guards included, must agree.
  void expect_same_as_reference(int32_t blocks, uint32_t seed) {
    cbc_case c = random_case(blocks, seed);
    bytes expected = c.buffer;
    cbc_decrypt_reference(c.key, c.iv, expected.data() + c.offset, blocks);
    ASSERT_TRUE(cbc_decrypt_on(GetParam(), c.key, c.iv, c.buffer.data() + c.offset, blocks));
    ASSERT_EQ(c.buffer, expected) << cbc_path_name(GetParam()) << ", " << blocks << " blocks";
  }
};

TEST_P(CbcPath, EveryLengthUpTo64BlocksMatchesTheReference) {
  for (int32_t blocks = 0; blocks <= 64; blocks++)
    for (uint32_t round = 0; round < 3; round++) expect_same_as_reference(blocks, blocks * 3 + round);
}

TEST_P(CbcPath, LargeBuffersMatchTheReference) {
  for (int32_t blocks : {1000, 4099, 65536 + 15, 131072, 393216 + 7})
    expect_same_as_reference(blocks, static_cast<uint32_t>(blocks));
}

TEST_P(CbcPath, UndoesEncryption) {
  const cipher_key key = cipher_key_from_string("0123456789abcdef");
  const uint8_t iv[8] = {0xFF, 0xFE, 0x80, 0x7F, 0, 1, 2, 3};
  bytes plain = pattern_bytes(8 * 777, 5);
  bytes data = plain;
  cbc_encrypt(key, iv, data.data(), 777);
  ASSERT_NE(data, plain);
  ASSERT_TRUE(cbc_decrypt_on(GetParam(), key, iv, data.data(), 777));
  EXPECT_EQ(data, plain);
}

// Deciphering from one place into another gives what deciphering in place
// gives, and writes nothing outside the place it deciphers into: into a
// place before the data that overlaps it (8 bytes before, and 23, as a
// piece read at one offset within a cache line is deciphered to another),
// one before it that does not (1024 bytes), and a separate buffer, whose
// source is left as it was.
TEST_P(CbcPath, DecryptsIntoAnotherPlace) {
  for (int32_t blocks : {0, 1, 7, 8, 17, 24, 33, 47, 48, 63, 64, 95, 96, 97, 200, 4099}) {
    cbc_case c = random_case(blocks, 7000 + static_cast<uint32_t>(blocks));
    const size_t n = 8 * static_cast<size_t>(blocks);
    const bytes data(c.buffer.begin() + c.offset, c.buffer.begin() + c.offset + n);
    bytes plain = data;
    cbc_decrypt_reference(c.key, c.iv, plain.data(), blocks);
    for (size_t before : {8, 23, 1024}) {
      bytes buffer(guard + before + n + guard, guard_byte);
      std::copy(data.begin(), data.end(), buffer.begin() + guard + before);
      bytes expected = buffer;
      std::copy(plain.begin(), plain.end(), expected.begin() + guard);
      ASSERT_TRUE(cbc_decrypt_on_into(GetParam(), c.key, c.iv, buffer.data() + guard + before,
                                      buffer.data() + guard, blocks));
      ASSERT_EQ(buffer, expected) << blocks << " blocks, " << before << " bytes before";
    }
    bytes source = c.buffer, target(guard + n + guard, guard_byte);
    bytes expected_target = target;
    std::copy(plain.begin(), plain.end(), expected_target.begin() + guard);
    ASSERT_TRUE(cbc_decrypt_on_into(GetParam(), c.key, c.iv, source.data() + c.offset,
                                    target.data() + guard, blocks));
    ASSERT_EQ(source, c.buffer) << blocks << " blocks, source changed";
    ASSERT_EQ(target, expected_target) << blocks << " blocks into a separate buffer";
  }
}

// The sample was encrypted before any of these paths existed.
TEST_P(CbcPath, DecryptsTheFileWrittenEarlier) {
  std::string data = env_or_empty("QELV_TEST_DATA");
  ASSERT_FALSE(data.empty());
  bytes file = read_file(data + "/sample.txt.qelv"), expected = read_file(data + "/sample.txt");
  ASSERT_GT(file.size(), static_cast<size_t>(FILE_HEADER_SIZE));
  const file_header h = header_load(file.data());
  ASSERT_EQ(h.plain_size, static_cast<int64_t>(expected.size()));
  bytes body(file.begin() + FILE_HEADER_SIZE, file.end());
  ASSERT_EQ(body.size() % 8, 0u);
  ASSERT_TRUE(cbc_decrypt_on(GetParam(), cipher_key_from_string("pumpkinjar"), h.iv, body.data(),
                             static_cast<int32_t>(body.size() / 8)));
  EXPECT_EQ(bytes(body.begin(), body.begin() + h.plain_size), expected);
  EXPECT_EQ(rt_crc32(body.data(), static_cast<int32_t>(h.plain_size)), h.plain_crc);
}

#if defined(__i386__)
// A 32-bit Windows caller may enter with the stack only 4-byte aligned.  The
// kernel is called through a function that is entered with the stack pointer
// moved off 16-byte alignment by 4, 8 and 12 bytes.
static cbc_path misaligned_path;
static cbc_case* misaligned_case;
static int32_t misaligned_blocks;

static void decrypt_misaligned_case() {
  cbc_decrypt_on(misaligned_path, misaligned_case->key, misaligned_case->iv,
                 misaligned_case->buffer.data() + misaligned_case->offset, misaligned_blocks);
}

static void call_with_stack_off_by(int bytes_off) {
  void (*target)() = decrypt_misaligned_case;
  __asm__ volatile(
      "mov %%esp, %%esi\n\t"
      "and $-16, %%esp\n\t"
      "sub %1, %%esp\n\t"
      "call *%0\n\t"
      "mov %%esi, %%esp"
      :
      : "r"(target), "r"(bytes_off)
      : "esi", "eax", "ecx", "edx", "memory", "cc");
}

TEST_P(CbcPath, RunsWithAMisalignedStack) {
  for (int off : {4, 8, 12}) {
    cbc_case c = random_case(64 + 5, static_cast<uint32_t>(off));
    bytes expected = c.buffer;
    cbc_decrypt_reference(c.key, c.iv, expected.data() + c.offset, 64 + 5);
    misaligned_path = GetParam();
    misaligned_case = &c;
    misaligned_blocks = 64 + 5;
    call_with_stack_off_by(off);
    ASSERT_EQ(c.buffer, expected) << "stack off by " << off;
  }
}
#endif

INSTANTIATE_TEST_SUITE_P(Paths, CbcPath,
                         testing::Values(CBC_PATH_AVX512, CBC_PATH_AVX2, CBC_PATH_SSE2, CBC_PATH_SCALAR),
                         [](const testing::TestParamInfo<cbc_path>& info) {
                           return std::string(cbc_path_name(info.param));
                         });

TEST(CbcDispatch, TakesTheFastestAvailablePathAndMatchesTheReference) {
  const cbc_path chosen = cbc_chosen_path();
  ASSERT_TRUE(cbc_path_available(chosen));
  for (int p = chosen + 1; p <= CBC_PATH_AVX512; p++)
    EXPECT_FALSE(cbc_path_available(static_cast<cbc_path>(p))) << "slower path chosen";
  std::printf("[          ] cbc_decrypt uses %s (avx2 %s, sse2 %s)\n", cbc_path_name(chosen),
              cbc_path_available(CBC_PATH_AVX2) ? "yes" : "no",
              cbc_path_available(CBC_PATH_SSE2) ? "yes" : "no");

  for (int32_t blocks : {0, 1, 17, 4099}) {
    cbc_case c = random_case(blocks, 40 + blocks);
    bytes expected = c.buffer;
    cbc_decrypt_reference(c.key, c.iv, expected.data() + c.offset, blocks);
    cbc_decrypt(c.key, c.iv, c.buffer.data() + c.offset, blocks);
    ASSERT_EQ(c.buffer, expected) << blocks << " blocks";
  }
}

// Each path in turn made to count as missing: it is refused without a byte
// of the buffer touched, cbc_decrypt deciphers all the same, and the path
// runs again once restored.
TEST(CbcDispatch, UnavailablePathIsRefusedAndTouchesNothing) {
  for (cbc_path path : {CBC_PATH_AVX512, CBC_PATH_AVX2, CBC_PATH_SSE2, CBC_PATH_SCALAR}) {
    const bool present = cbc_path_available(path);
    cbc_case c = random_case(20, 1);
    const bytes before = c.buffer;
    cbc_hide_path_for_testing(path, true);
    const bool refused = !cbc_path_available(path) &&
                         !cbc_decrypt_on(path, c.key, c.iv, c.buffer.data() + c.offset, 20);
    // cbc_decrypt still deciphers when its chosen path is the hidden one.
    bytes through_dispatch = before, expected_plain = before;
    cbc_decrypt(c.key, c.iv, through_dispatch.data() + c.offset, 20);
    cbc_hide_path_for_testing(path, false);
    EXPECT_TRUE(refused) << cbc_path_name(path);
    EXPECT_EQ(c.buffer, before) << cbc_path_name(path);
    cbc_decrypt_reference(c.key, c.iv, expected_plain.data() + c.offset, 20);
    EXPECT_EQ(through_dispatch, expected_plain) << cbc_path_name(path) << " hidden";

    ASSERT_EQ(cbc_path_available(path), present) << cbc_path_name(path) << " not restored";
    if (!present) continue;
    bytes expected = c.buffer;
    cbc_decrypt_reference(c.key, c.iv, expected.data() + c.offset, 20);
    ASSERT_TRUE(cbc_decrypt_on(path, c.key, c.iv, c.buffer.data() + c.offset, 20));
    EXPECT_EQ(c.buffer, expected) << cbc_path_name(path);
  }
}

// cbc_decrypt_into on the chosen path, and through the reference while a
// test hides that path, into a place 23 bytes before the data.
TEST(CbcDispatch, DecryptsIntoAPlaceBeforeTheDataWithOrWithoutItsPath) {
  const int32_t blocks = 4099;
  const size_t n = 8 * static_cast<size_t>(blocks), before = 23;
  cbc_case c = random_case(blocks, 77);
  const bytes data(c.buffer.begin() + c.offset, c.buffer.begin() + c.offset + n);
  bytes plain = data;
  cbc_decrypt_reference(c.key, c.iv, plain.data(), blocks);
  for (bool hidden : {false, true}) {
    bytes buffer(guard + before + n + guard, guard_byte);
    std::copy(data.begin(), data.end(), buffer.begin() + guard + before);
    bytes expected = buffer;
    std::copy(plain.begin(), plain.end(), expected.begin() + guard);
    cbc_hide_path_for_testing(cbc_chosen_path(), hidden);
    cbc_decrypt_into(c.key, c.iv, buffer.data() + guard + before, buffer.data() + guard, blocks);
    cbc_hide_path_for_testing(cbc_chosen_path(), false);
    ASSERT_EQ(buffer, expected) << (hidden ? "path hidden" : "chosen path");
  }
}

// cbc_encrypt against CBC built from single xtea_encipher calls, as the
// format describes it.
static void encrypt_block_by_block(const cipher_key& key, const uint8_t iv[8], uint8_t* data,
                                   int32_t blocks) {
  uint8_t chain[8];
  memcpy(chain, iv, 8);
  for (int32_t i = 0; i < blocks; i++) {
    uint8_t* block = data + 8 * static_cast<size_t>(i);
    for (int j = 0; j < 8; j++) block[j] ^= chain[j];
    xtea_encipher(key, block);
    memcpy(chain, block, 8);
  }
}

TEST(CbcEncrypt, MatchesSingleBlockEnciphering) {
  for (int32_t blocks : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 63, 64, 4099, 65536 + 3}) {
    cbc_case c = random_case(blocks, 1000 + blocks);
    bytes expected = c.buffer;
    encrypt_block_by_block(c.key, c.iv, expected.data() + c.offset, blocks);
    cbc_encrypt(c.key, c.iv, c.buffer.data() + c.offset, blocks);
    ASSERT_EQ(c.buffer, expected) << blocks << " blocks";
  }
}
