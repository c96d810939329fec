// The module's version resource, read back the way Windows' file properties
// read it.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_files.h"

static std::vector<char> version_block() {
  std::string module = env_or_empty("QELV_MODULE");
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(module.c_str(), &ignored);
  std::vector<char> block(size);
  if (size == 0 || !GetFileVersionInfoA(module.c_str(), 0, size, block.data())) block.clear();
  return block;
}

static std::string string_value(std::vector<char>& block, const char* name) {
  std::string query = std::string("\\StringFileInfo\\000004b0\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
    return "(missing)";
  return std::string(value);
}

TEST(VersionResource, FixedPartTranslationAndStrings) {
  std::vector<char> block = version_block();
  ASSERT_FALSE(block.empty()) << "no version resource in " << env_or_empty("QELV_MODULE");

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(translation[0], 1033);
  EXPECT_EQ(translation[1], 1200);

  EXPECT_EQ(string_value(block, "FileVersion"), "1.0");
  EXPECT_EQ(string_value(block, "ProductVersion"), "1.0");
  EXPECT_EQ(string_value(block, "FileDescription"), "Qelv Action Plugin");
  EXPECT_EQ(string_value(block, "InternalName"), "Qelv.lmd");
  EXPECT_EQ(string_value(block, "OriginalFilename"), "Qelv.lmd");
  for (const char* maker : {"CompanyName", "ProductName", "LegalCopyright", "Email", "Website"}) {
    std::string v = string_value(block, maker);
    EXPECT_NE(v, "(missing)") << maker;
    EXPECT_FALSE(v.empty()) << maker;
  }
}
