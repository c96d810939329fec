// Files for the driver's cases.

#include "driver_files.h"

#include <windows.h>

#include <algorithm>

bool driver_make_file(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  return CloseHandle(f) && ok;
}

bool driver_make_large_file(const std::wstring& path, int64_t size) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = size - 1;
  DWORD written = 0;
  // One byte at the end, so that the file is not all zeros to its last block.
  bool ok = SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && WriteFile(f, "!", 1, &written, nullptr);
  return CloseHandle(f) && ok && written == 1;
}

std::string driver_read_file(const std::wstring& path, bool* found) {
  std::string bytes;
  *found = false;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
  CloseHandle(f);
  *found = true;
  return bytes;
}

static void list_into(const std::wstring& folder, const std::wstring& prefix,
                      std::vector<std::wstring>* names) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      list_into(folder + L"\\" + name, prefix + name + L"\\", names);
    else
      names->push_back(prefix + name);
  } while (FindNextFileW(h, &found));
  FindClose(h);
}

std::vector<std::wstring> driver_list_files(const std::wstring& folder) {
  std::vector<std::wstring> names;
  list_into(folder, L"", &names);
  std::sort(names.begin(), names.end());
  return names;
}

void driver_remove_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) driver_remove_tree(path);
      else DeleteFileW(path.c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  RemoveDirectoryW(folder.c_str());
}

bool driver_make_folder(const std::wstring& folder) {
  return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
