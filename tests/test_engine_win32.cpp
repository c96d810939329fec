// Windows file semantics: share modes, the read-only attribute, directories.

#include <gtest/gtest.h>
#include <windows.h>

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "test_files.h"

class WindowsFiles : public testing::Test {
 protected:
  std::string dir = make_temp_folder();
  void TearDown() override {
    EXPECT_EQ(rt_open_file_count(), 0);
    remove_tree(dir);
  }
};

TEST_F(WindowsFiles, SourceHeldOpenByAWriterIsAReadError) {
  bytes plain = pattern_bytes(100, 1);
  std::string source = dir + "held", out = dir + "out";
  write_file(source, plain);
  HANDLE writer = CreateFileA(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), "Error, could not read the file!");
  EXPECT_FALSE(file_exists(out));
  CloseHandle(writer);
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), "OK");
  // A reader that shares reading does not stop decryption.
  HANDLE reader = CreateFileA(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(decrypt_file(out.c_str(), (dir + "back").c_str(), "key"), "OK");
  CloseHandle(reader);
  EXPECT_EQ(read_file(dir + "back"), plain);
}

TEST_F(WindowsFiles, ReadOnlyAttributeOnTheSource) {
  // Opening the source for reading only is what lets a read-only file be
  // encrypted and decrypted.  (A read-only Output is tested on read-only
  // media: Wine maps the attribute to mode bits, which root ignores.)
  bytes plain = pattern_bytes(100, 2);
  std::string source = dir + "ro-source", sealed = dir + "enc";
  write_file(source, plain);
  ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_STREQ(encrypt_file(source.c_str(), sealed.c_str(), "key"), "OK");
  ASSERT_TRUE(SetFileAttributesA(sealed.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_STREQ(decrypt_file(sealed.c_str(), (dir + "back").c_str(), "key"), "OK");
  EXPECT_EQ(read_file(dir + "back"), plain);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(sealed.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WindowsFiles, DirectoryOrDriveRootAsFileOrOutput) {
  std::string source = dir + "plain";
  write_file(source, pattern_bytes(30, 3));
  const char* refused = "Error, no valid key, filename or file doesn't exist!";
  EXPECT_STREQ(encrypt_file("C:\\", (dir + "x").c_str(), "key"), refused);
  EXPECT_STREQ(decrypt_file("C:\\", (dir + "x").c_str(), "key"), refused);
  EXPECT_STREQ(encrypt_file(source.c_str(), dir.c_str(), "key"),
               "Error, could not write the output file!");
  EXPECT_STREQ(encrypt_file(source.c_str(), "C:\\", "key"),
               "Error, could not write the output file!");
  EXPECT_FALSE(file_exists(dir + "x"));
}
