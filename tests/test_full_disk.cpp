// Output that does not fit: a full file system, and natively a file size
// limit.  The plain file must come through intact and the result must say
// that Output could not be written.  Paths use "/", which Wine takes too.

#include <gtest/gtest.h>

#include <string>

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "test_files.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const char key[] = "lanternfish";

TEST(full_disk, encrypt_in_place_keeps_the_plain_file) {
  std::string dir = env_or_empty("QELV_FULL_DISK");
  ASSERT_FALSE(dir.empty()) << "QELV_FULL_DISK not set";
  std::string plain = dir + "/plain.bin";
  bytes before = read_file(plain);
  ASSERT_EQ(before.size(), 8192u);
  EXPECT_STREQ(encrypt_file(plain.c_str(), plain.c_str(), key), result_write_error);
  EXPECT_EQ(read_file(plain), before);
  EXPECT_EQ(rt_open_file_count(), 0);
  // Nor may a new file be left behind.
  std::string other = dir + "/other.bin";
  EXPECT_STREQ(encrypt_file(plain.c_str(), other.c_str(), key), result_write_error);
  EXPECT_FALSE(file_exists(other));
  EXPECT_EQ(read_file(plain), before);
  // Decrypting onto the full disk: the sealed file lies elsewhere.
  std::string elsewhere = make_temp_folder();
  std::string sealed = elsewhere + "sealed.bin";
  ASSERT_STREQ(encrypt_file(plain.c_str(), sealed.c_str(), key), result_ok);
  EXPECT_STREQ(decrypt_file(sealed.c_str(), other.c_str(), key), result_write_error);
  EXPECT_FALSE(file_exists(other));
  EXPECT_EQ(rt_open_file_count(), 0);
  // No temporary file is left on the full disk.
  EXPECT_EQ(folder_names(dir), (std::vector<std::string>{"filler", "plain.bin"}));
  remove_tree(elsewhere);
}

#ifndef _WIN32
TEST(file_size_limit, encrypt_beyond_the_limit_keeps_the_plain_file) {
  std::string folder = make_temp_folder();
  std::string plain = folder + "plain.bin", other = folder + "other.bin";
  bytes before = pattern_bytes(8192, 11);
  write_file(plain, before);
  rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit limit = old_limit;
  limit.rlim_cur = 8192;
  // Growing past the limit then fails with EFBIG instead of a signal.
  signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const char* in_place = encrypt_file(plain.c_str(), plain.c_str(), key);
  const char* separate = encrypt_file(plain.c_str(), other.c_str(), key);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_STREQ(in_place, result_write_error);
  EXPECT_STREQ(separate, result_write_error);
  EXPECT_EQ(read_file(plain), before);
  EXPECT_EQ(folder_names(folder), std::vector<std::string>{"plain.bin"});
  EXPECT_EQ(rt_open_file_count(), 0);
  remove_tree(folder);
}
#endif

}  // namespace
