#include "test_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

std::string make_temp_folder() {
  static std::mt19937 names(std::random_device{}());
  for (;;) {
    fs::path p = fs::temp_directory_path() / ("qelv-test-" + std::to_string(names()));
    if (fs::create_directory(p)) return p.string() + static_cast<char>(fs::path::preferred_separator);
  }
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

std::vector<std::string> folder_names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const bytes& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()), content.size());
}

bytes pattern_bytes(size_t count, uint32_t seed) {
  std::mt19937 gen(seed);
  bytes b(count);
  for (auto& v : b) v = static_cast<uint8_t>(gen());
  return b;
}

std::string env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// Never inlined, so that its area lies where the frames of the caller's
// earlier calls lay.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // reading what was left is the point
__attribute__((noinline)) bool stack_below_holds(const void* pattern, size_t n) {
  volatile uint8_t area[128 * 1024];
  const uint8_t* p = static_cast<const uint8_t*>(pattern);
  for (size_t i = 0; i + n <= sizeof area; i++) {
    size_t j = 0;
    while (j < n && area[i + j] == p[j]) j++;
    if (j == n) return true;
  }
  return false;
}
#pragma GCC diagnostic pop

#ifdef _WIN32

// The current user's SID, in buffer.
static PSID current_user(BYTE* buffer, DWORD size) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD used = 0;
  bool known = GetTokenInformation(token, TokenUser, buffer, size, &used);
  CloseHandle(token);
  return known ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid : nullptr;
}

bool others_may_read(const std::string& path) {
  alignas(8) BYTE user_buffer[256];
  PSID user = current_user(user_buffer, sizeof user_buffer);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (user == nullptr ||
      GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return true;
  bool others = dacl == nullptr;
  for (DWORD i = 0; !others && i < dacl->AceCount; i++) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = reinterpret_cast<PSID>(&allowed->SidStart);
    bool reads = (allowed->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0;
    // The system and the administrators reach every file by their
    // privileges anyway; they are not other users.
    bool privileged = IsWellKnownSid(sid, WinLocalSystemSid) ||
                      IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
    others = reads && !privileged && !EqualSid(sid, user);
  }
  LocalFree(descriptor);
  return others;
}

void make_private(const std::string& path) {
  alignas(8) BYTE user_buffer[256];
  alignas(8) BYTE acl_buffer[256];
  PSID user = current_user(user_buffer, sizeof user_buffer);
  ACL* acl = reinterpret_cast<ACL*>(acl_buffer);
  if (user == nullptr || !InitializeAcl(acl, sizeof acl_buffer, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user))
    return;
  SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, acl, nullptr);
}

std::string permissions_text(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return "(no security)";
  char* text = nullptr;
  std::string result = "(no text)";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

#else

bool others_may_read(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) != 0 || (st.st_mode & 044) != 0;
}

void make_private(const std::string& path) { chmod(path.c_str(), 0600); }

std::string permissions_text(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "(missing)";
  char text[16];
  snprintf(text, sizeof text, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return text;
}

#endif
