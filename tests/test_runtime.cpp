// The runtime layer: memory blocks, the size query, file access, CRC-32 and
// the generator.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <zlib.h>

#include "../runtime/runtime.h"
#include "test_files.h"

class Runtime : public testing::Test {
 protected:
  std::string dir = make_temp_folder();
  void TearDown() override { remove_tree(dir); }
};

TEST(Blocks, ZeroFilledAndGrownWithZeros) {
  auto* b = static_cast<uint8_t*>(rt_block_alloc(100));
  ASSERT_NE(b, nullptr);
  for (int i = 0; i < 100; i++) ASSERT_EQ(b[i], 0);
  memset(b, 0xAB, 100);
  b = static_cast<uint8_t*>(rt_block_grow(b, 5000));
  ASSERT_NE(b, nullptr);
  for (int i = 0; i < 100; i++) ASSERT_EQ(b[i], 0xAB);
  for (int i = 100; i < 5000; i++) ASSERT_EQ(b[i], 0) << i;
  rt_block_free(b);
  void* empty = rt_block_alloc(0);
  EXPECT_NE(empty, nullptr);
  rt_block_free(empty);
}

// The system's allocators serve blocks of megabytes by another route than
// small ones; growing into that range and back keeps the bytes, zeroes what
// is added, and every block stays 16-byte aligned.
TEST(Blocks, GrowingToMegabytesAndBack) {
  const int64_t small = 3000, large = (int64_t{8} << 20) + 5, larger = int64_t{20} << 20;
  auto* b = static_cast<uint8_t*>(rt_block_alloc(small));
  ASSERT_NE(b, nullptr);
  for (int64_t i = 0; i < small; i++) b[i] = static_cast<uint8_t>(i * 7);
  b = static_cast<uint8_t*>(rt_block_grow(b, large));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  for (int64_t i = 0; i < small; i++) ASSERT_EQ(b[i], static_cast<uint8_t>(i * 7)) << i;
  for (int64_t i = small; i < large; i++) ASSERT_EQ(b[i], 0) << i;
  b[large - 1] = 0x5A;
  b = static_cast<uint8_t*>(rt_block_grow(b, larger));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b[large - 1], 0x5A);
  EXPECT_EQ(b[larger - 1], 0);
  b = static_cast<uint8_t*>(rt_block_grow(b, small));  // and back
  ASSERT_NE(b, nullptr);
  for (int64_t i = 0; i < small; i++) ASSERT_EQ(b[i], static_cast<uint8_t>(i * 7)) << i;
  rt_block_free(b);
  auto* fresh = static_cast<uint8_t*>(rt_block_alloc(large));
  ASSERT_NE(fresh, nullptr);
  for (int64_t i = 0; i < large; i += 4093) ASSERT_EQ(fresh[i], 0) << i;
  EXPECT_EQ(fresh[large - 1], 0);
  rt_block_free(fresh);
}

TEST(Blocks, SizesOutsideSigned32BitAreRefused) {
  EXPECT_EQ(rt_block_alloc(-1), nullptr);
  EXPECT_EQ(rt_block_alloc(int64_t{1} << 31), nullptr);
  EXPECT_EQ(rt_block_alloc(int64_t{1} << 32), nullptr);  // would wrap to 0
  void* b = rt_block_alloc(16);
  EXPECT_EQ(rt_block_grow(b, (int64_t{1} << 32) + 16), nullptr);
  rt_block_free(b);
}

TEST_F(Runtime, SizeQuery) {
  write_file(dir + "seven", bytes(7, 1));
  write_file(dir + "empty", {});
  EXPECT_EQ(rt_size_query((dir + "seven").c_str()), 7);
  EXPECT_EQ(rt_size_query((dir + "empty").c_str()), 0);
  EXPECT_EQ(rt_size_query((dir + "missing").c_str()), -1);
  EXPECT_EQ(rt_size_query(""), -1);
  EXPECT_EQ(rt_size_query(dir.c_str()), -2);
  std::string no_slash = dir.substr(0, dir.size() - 1);
  EXPECT_EQ(rt_size_query(no_slash.c_str()), -2);
  // Wildcards would match "seven" in a file search; they name no file.
  EXPECT_EQ(rt_size_query((dir + "sev*").c_str()), -1);
  EXPECT_EQ(rt_size_query((dir + "seve?").c_str()), -1);
#ifdef _WIN32
  EXPECT_EQ(rt_size_query("C:\\"), -2);
  EXPECT_EQ(rt_size_query("C:"), -2);
  EXPECT_EQ(rt_size_query("Z:/"), -2);
#else
  EXPECT_EQ(rt_size_query("/"), -2);
  // Here they are letters, and a name holding them is any other name.
  write_file(dir + "a*b?", bytes(3, 1));
  EXPECT_EQ(rt_size_query((dir + "a*b?").c_str()), 3);
#endif
}

TEST_F(Runtime, OpenReadsAndTheTemporaryFileWrites) {
  std::string missing = dir + "missing";
  EXPECT_EQ(rt_file_open(missing.c_str()), -1);
  EXPECT_FALSE(file_exists(missing));  // a source is never created
  EXPECT_EQ(rt_file_open(dir.c_str()), -1);

  char temp[RT_PATH_CAPACITY];
  int f = rt_temp_create(missing.c_str(), temp, sizeof temp);
  ASSERT_GE(f, 0);
  EXPECT_EQ(rt_open_file_count(), 1);
  // Beside its target, under a name that the runtime takes for its own.
  ASSERT_EQ(std::string(temp).substr(0, dir.size()), dir);
  EXPECT_TRUE(rt_is_temp_name(temp + dir.size())) << temp;
  for (const char* other : {"~qelv-0123abcd.tmp.x", "~qelv-0123ABCD.tmp", "~qelv-0123abc.tmp",
                            "qelv-0123abcde.tmp", "~qelv-0123abcg.tmp"})
    EXPECT_FALSE(rt_is_temp_name(other)) << other;
  EXPECT_EQ(rt_file_write(f, "hello world", 11), 11);
  EXPECT_TRUE(rt_file_reserve(f, 4096));
  EXPECT_EQ(rt_file_length(f), 4096);
  EXPECT_TRUE(rt_file_seek(f, 5));
  EXPECT_EQ(rt_file_write(f, "!", 1), 1);
  EXPECT_TRUE(rt_file_close(f));
  EXPECT_EQ(rt_open_file_count(), 0);

  f = rt_file_open(temp);
  ASSERT_GE(f, 0);
  char buf[12] = {};
  EXPECT_EQ(rt_file_read(f, buf, 12), 12);
  EXPECT_EQ(0, memcmp(buf, "hello!world\0", 12));  // reserved room reads as zeros
  EXPECT_EQ(rt_file_write(f, "x", 1), -1);          // opened for reading only
  EXPECT_EQ(rt_file_length(f), 4096);
  EXPECT_TRUE(rt_file_close(f));
  EXPECT_TRUE(rt_file_remove(temp));
}

TEST_F(Runtime, StopClosesFilesLeftOpen) {
  write_file(dir + "a", bytes(4, 'a'));
  write_file(dir + "b", bytes(4, 'b'));
  int a = rt_file_open((dir + "a").c_str());
  int b = rt_file_open((dir + "b").c_str());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(rt_open_file_count(), 2);
  rt_stop();
  EXPECT_EQ(rt_open_file_count(), 0);
  rt_start();
  EXPECT_EQ(read_file(dir + "a"), bytes(4, 'a'));
  remove_tree(dir);  // possible only once the handles are gone, on Windows
  EXPECT_FALSE(file_exists(dir + "a"));
}

TEST(Crc32, CheckValues) {
  EXPECT_EQ(rt_crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(rt_crc32("a", 1), 0xE8B7BE43u);
  bytes zeros(32, 0);
  EXPECT_EQ(rt_crc32(zeros.data(), 32), 0x190A55ADu);
  // Piece by piece, split anywhere, gives the CRC of the whole.
  uint32_t crc = rt_crc32_update(0, "1234", 4);
  crc = rt_crc32_update(crc, "", 0);
  EXPECT_EQ(rt_crc32_update(crc, "56789", 5), 0xCBF43926u);
}

// zlib's crc32 is the standard the runtime's faster forms are held to:
// every length up to 3000 bytes at three offsets, larger ones, from a CRC
// other than zero, and split into two calls at points around the multiples
// that the folds work in.
TEST(Crc32, MatchesZlibOverLengthsOffsetsAndSplits) {
  const size_t most = (1u << 20) + 300;
  bytes data(most + 2);
  uint32_t x = 2463534242u;  // xorshift32, a fixed start
  for (uint8_t& b : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  auto zlib = [&](uint32_t crc, size_t at, size_t n) {
    return static_cast<uint32_t>(crc32(crc, data.data() + at, static_cast<uInt>(n)));
  };
  for (size_t n = 0; n <= 3000; n++)
    for (size_t at = 0; at < 3; at++)
      ASSERT_EQ(rt_crc32_update(0x12345678u, data.data() + at, static_cast<int32_t>(n)),
                zlib(0x12345678u, at, n))
          << n << " bytes at " << at;
  for (size_t n : {size_t{65536 + 17}, size_t{1u << 20}, most})
    ASSERT_EQ(rt_crc32(data.data() + 1, static_cast<int32_t>(n)), zlib(0, 1, n)) << n;
  for (size_t split : {1, 63, 64, 255, 256, 257, 320, 1000}) {
    const uint32_t first = rt_crc32(data.data(), static_cast<int32_t>(split));
    ASSERT_EQ(rt_crc32_update(first, data.data() + split, static_cast<int32_t>(5000 - split)),
              zlib(0, 0, 5000))
        << "split at " << split;
  }
}

TEST(Crc32, RepeatEqualsTheCopiesOneByOne) {
  const uint8_t block[8] = {0x3A, 0x00, 0xFF, 0x81, 0x10, 0x7E, 0x42, 0x99};
  for (int32_t count : {8, 3}) {
    uint32_t one_by_one = rt_crc32("prefix", 6);
    for (uint64_t times = 0; times <= 1100; times++) {
      ASSERT_EQ(rt_crc32_repeat(rt_crc32("prefix", 6), block, count, times), one_by_one)
          << count << " x " << times;
      one_by_one = rt_crc32_update(one_by_one, block, count);
    }
  }
  EXPECT_EQ(rt_crc32_repeat(0, block, 8, 5), rt_crc32_repeat(rt_crc32(block, 8), block, 8, 4));
}

TEST(Random, RangeAndSpread) {
  std::set<int32_t> seen;
  for (int i = 0; i < 1000; i++) {
    int32_t r = rt_random();
    ASSERT_GE(r, 0);
    seen.insert(r);
  }
  EXPECT_GT(seen.size(), 990u);
  EXPECT_GT(*seen.rbegin(), 1 << 30);  // the top bit of the range is reached
}
