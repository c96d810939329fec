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
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), result_read_error);
  EXPECT_FALSE(file_exists(out));
  CloseHandle(writer);
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), result_ok);
  // A reader that shares reading does not stop decryption.
  HANDLE reader = CreateFileA(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(decrypt_file(out.c_str(), (dir + "back").c_str(), "key"), result_ok);
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
  EXPECT_STREQ(encrypt_file(source.c_str(), sealed.c_str(), "key"), result_ok);
  ASSERT_TRUE(SetFileAttributesA(sealed.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_STREQ(decrypt_file(sealed.c_str(), (dir + "back").c_str(), "key"), result_ok);
  EXPECT_EQ(read_file(dir + "back"), plain);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(sealed.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WindowsFiles, ReplacedOutputKeepsItsAttributesOrIsRefusedWhole) {
  bytes plain = pattern_bytes(100, 4), old_bytes = pattern_bytes(7, 5);
  std::string source = dir + "plain", out = dir + "out";
  write_file(source, plain);
  write_file(out, old_bytes);
  ASSERT_TRUE(SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), result_ok);
  EXPECT_EQ(GetFileAttributesA(out.c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD{FILE_ATTRIBUTE_HIDDEN});
  EXPECT_EQ(read_file(out).size(), 123u + 4);
  // Read-only, or held open by a program that shares only reading (a player
  // showing it): refused, with its bytes and no temporary file left.
  write_file(out, old_bytes);
  ASSERT_TRUE(SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), result_write_error);
  ASSERT_TRUE(SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_NORMAL));
  HANDLE player = CreateFileA(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(player, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), result_write_error);
  CloseHandle(player);
  EXPECT_EQ(read_file(out), old_bytes);
  EXPECT_EQ(folder_names(dir), (std::vector<std::string>{"out", "plain"}));
}

TEST_F(WindowsFiles, DirectoryOrDriveRootAsFileOrOutput) {
  std::string source = dir + "plain";
  write_file(source, pattern_bytes(30, 3));
  const char* refused = result_refused;
  EXPECT_STREQ(encrypt_file("C:\\", (dir + "x").c_str(), "key"), refused);
  EXPECT_STREQ(decrypt_file("C:\\", (dir + "x").c_str(), "key"), refused);
  EXPECT_STREQ(encrypt_file(source.c_str(), dir.c_str(), "key"),
               result_write_error);
  EXPECT_STREQ(encrypt_file(source.c_str(), "C:\\", "key"),
               result_write_error);
  EXPECT_FALSE(file_exists(dir + "x"));
}

// The same file named in other ways: other case, forward slashes, ".\" and
// "..": encrypting or decrypting "into another file" that is the source
// itself works as in place.
TEST_F(WindowsFiles, SameFileThroughOtherSpellings) {
  bytes plain = pattern_bytes(300, 4);
  std::string source = dir + "Same.dat";
  write_file(source, plain);
  std::string upper = source, slashes = source;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (char& c : slashes) if (c == '\\') c = '/';

  EXPECT_STREQ(encrypt_file(source.c_str(), upper.c_str(), "key"), result_ok);
  EXPECT_EQ(read_file(source).size(), 23u + 304u);
  // Windows resolves ".." from the name alone: "sub" need not exist.
  EXPECT_STREQ(decrypt_file(slashes.c_str(), (dir + "sub\\..\\same.DAT").c_str(), "key"), result_ok);
  EXPECT_EQ(read_file(source), plain);
  EXPECT_STREQ(encrypt_file((dir + ".\\SAME.dat").c_str(), slashes.c_str(), "key"), result_ok);

  char old_folder[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, old_folder), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
  const char* results[3] = {decrypt_file("SAME.dat", ".\\Same.dat", "key"),
                            encrypt_file(".\\same.dat", "./SAME.DAT", "key"),
                            decrypt_file("same.dat", "./same.dat", "key")};
  SetCurrentDirectoryA(old_folder);
  for (const char* r : results) EXPECT_STREQ(r, result_ok);
  EXPECT_EQ(read_file(source), plain);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  int names = 0;
  do names += found.cFileName[0] != '.'; while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(names, 1);  // no second file came of it
}

// Wildcards and the other characters a Windows name cannot hold: a File so
// named is refused, an Output so named is not written, and no file that the
// pattern might match is touched.
TEST_F(WindowsFiles, NamesWithWildcards) {
  bytes plain = pattern_bytes(50, 8);
  std::string source = dir + "a1.dat", sealed = dir + "b1.dat";
  write_file(source, plain);
  ASSERT_STREQ(encrypt_file(source.c_str(), sealed.c_str(), "key"), result_ok);
  bytes sealed_bytes = read_file(sealed);
  const char* refused = result_refused;
  const char* write_error = result_write_error;
  for (const char* name : {"a?.dat", "*.dat", "a*", "b?.dat"}) {
    SCOPED_TRACE(name);
    EXPECT_STREQ(encrypt_file((dir + name).c_str(), (dir + "out").c_str(), "key"), refused);
    EXPECT_STREQ(decrypt_file((dir + name).c_str(), (dir + "out").c_str(), "key"), refused);
  }
  for (const char* name : {"*.dat", "a?.dat", "out*", "out<1>", "out|x", "out\"x"}) {
    SCOPED_TRACE(name);
    EXPECT_STREQ(encrypt_file(source.c_str(), (dir + name).c_str(), "key"), write_error);
    EXPECT_STREQ(decrypt_file(sealed.c_str(), (dir + name).c_str(), "key"), write_error);
  }
  EXPECT_EQ(read_file(source), plain);
  EXPECT_EQ(read_file(sealed), sealed_bytes);
  EXPECT_FALSE(file_exists(dir + "out"));
}

static std::wstring widened(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Names longer than the 260 characters that the ANSI calls take: the file
// cannot be reached, so File is refused as missing and Output is not written,
// even where the file exists (made here through the wide calls).
TEST_F(WindowsFiles, NamesLongerThan260Characters) {
  std::string deep = dir;
  while (deep.size() <= MAX_PATH) {
    deep += std::string(60, 'd') + "\\";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + widened(deep)).c_str(), nullptr));
  }
  std::string inside = deep + "file.dat";
  HANDLE h = CreateFileW((L"\\\\?\\" + widened(inside)).c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD wrote = 0;
  ASSERT_TRUE(WriteFile(h, "long-named data", 15, &wrote, nullptr));
  CloseHandle(h);

  bytes plain = pattern_bytes(40, 9);
  std::string source = dir + "short.dat";
  write_file(source, plain);
  EXPECT_STREQ(encrypt_file(inside.c_str(), (dir + "out").c_str(), "key"),
               result_refused);
  EXPECT_FALSE(file_exists(dir + "out"));
  EXPECT_STREQ(encrypt_file(source.c_str(), inside.c_str(), "key"),
               result_write_error);
  std::string long_name = dir + std::string(300, 'n');
  EXPECT_STREQ(encrypt_file(source.c_str(), long_name.c_str(), "key"),
               result_write_error);
  EXPECT_EQ(read_file(source), plain);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW((L"\\\\?\\" + widened(inside)).c_str(), GetFileExInfoStandard,
                                   &data));
  EXPECT_EQ(data.nFileSizeLow, 15u);  // the long-named file kept its bytes
  // The tree cannot be removed through the short-path calls the test helper
  // uses, so it goes here, deepest first.
  DeleteFileW((L"\\\\?\\" + widened(inside)).c_str());
  while (deep.size() > dir.size()) {
    RemoveDirectoryW((L"\\\\?\\" + widened(deep)).c_str());
    deep.erase(deep.find_last_of('\\', deep.size() - 2) + 1);
  }
}

// Outputs up to the 259 characters the ANSI calls take, in folders so deep
// that the temporary file beside each is longer than that: to a new file,
// then in place, decrypted back byte for byte, leaving nothing else.  One
// character more is refused.
TEST_F(WindowsFiles, OutputsUpTo259CharactersInDeepFolders) {
  bytes plain = pattern_bytes(3000, 12);
  std::string source = dir + "plain";
  write_file(source, plain);
  ASSERT_LT(dir.size(), 200u);
  for (size_t length : {242, 243, 250, 259, 260}) {
    SCOPED_TRACE(length);
    // A folder of length - 1 characters, its separator included, so that
    // Output is the one-letter name "o" in it.
    std::string folder = dir + std::string(length - 2 - dir.size(), 'f') + "\\";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + widened(folder)).c_str(), nullptr));
    std::string out = folder + "o";
    ASSERT_EQ(out.size(), length);
    if (length == 260) {
      EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), result_write_error);
    } else {
      EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), "key"), result_ok);
      EXPECT_EQ(read_file(out).size(), 23u + 3000);
      EXPECT_STREQ(decrypt_file(out.c_str(), out.c_str(), "key"), result_ok);
      EXPECT_EQ(read_file(out), plain);
      EXPECT_TRUE(DeleteFileA(out.c_str()));
    }
    // Nothing else was left in the folder.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((L"\\\\?\\" + widened(folder) + L"*").c_str(), &found);
    int others = 0;
    if (search != INVALID_HANDLE_VALUE) {
      do others += found.cFileName[0] != L'.';
      while (FindNextFileW(search, &found));
      FindClose(search);
    }
    EXPECT_EQ(others, 0);
    EXPECT_TRUE(RemoveDirectoryW((L"\\\\?\\" + widened(folder)).c_str()));
  }
  EXPECT_EQ(read_file(source), plain);
}

// A missing folder on the way to Output, with Windows separators.
TEST_F(WindowsFiles, OutputInAMissingFolder) {
  bytes plain = pattern_bytes(70, 10);
  std::string source = dir + "plain";
  write_file(source, plain);
  EXPECT_STREQ(encrypt_file(source.c_str(), (dir + "missing\\out.dat").c_str(), "key"),
               result_write_error);
  EXPECT_STREQ(encrypt_file(source.c_str(), "Q:\\no-such-drive\\out.dat", "key"),
               result_write_error);
  EXPECT_FALSE(file_exists(dir + "missing"));
  EXPECT_EQ(read_file(source), plain);
}
