// The system's words on Windows: GetLastError codes in plain words, and
// what the file attributes, an open for deletion and the free space say of
// an output that could not be written.  Paths are ANSI and at most
// MAX_PATH - 1 characters long, as the engine's file functions take them.

#include "cli_explain.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "cli_print.h"

bool cli_explain_is_missing(int code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

const char* cli_explain_reason(int code, char* text, int capacity) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return cli_format(text, capacity, "no such file");
    case ERROR_PATH_NOT_FOUND: return cli_format(text, capacity, "no such folder");
    case ERROR_ACCESS_DENIED: return cli_format(text, capacity, "access denied");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return cli_format(text, capacity, "in use by another program");
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return cli_format(text, capacity, "disk full");
    case ERROR_WRITE_PROTECT: return cli_format(text, capacity, "read-only medium");
    case ERROR_NOT_READY: return cli_format(text, capacity, "the drive is not ready");
    case ERROR_FILENAME_EXCED_RANGE: return cli_format(text, capacity, "the path is too long");
    case ERROR_INVALID_NAME: return cli_format(text, capacity, "not a valid name");
    case ERROR_DIRECTORY: return cli_format(text, capacity, "not a folder");
    case ERROR_CRC: return cli_format(text, capacity, "a device error (data error)");
    case ERROR_NO_DATA:
    case ERROR_BROKEN_PIPE: return cli_format(text, capacity, "the reading end was closed");
    default: break;
  }
  char message[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, message, sizeof message, nullptr);
  size_t n = strlen(message);
  while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n' || message[n - 1] == '.'))
    message[--n] = '\0';
  if (n == 0) return cli_format(text, capacity, "system error %d", code);
  return cli_format(text, capacity, "%s", message);
}

bool cli_explain_too_long(const char* path) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
  // Too long for the buffer: the length needed, or (Wine) nothing at all.
  return n >= MAX_PATH || (n == 0 && strlen(path) >= MAX_PATH);
}

const char* cli_explain_output(const char* output, int64_t* available, char* text, int capacity) {
  char full[MAX_PATH], reason[256];
  char* name = nullptr;
  DWORD length = GetFullPathNameA(output, MAX_PATH, full, &name);
  if (length == 0 || name == nullptr) return cli_format(text, capacity, "not a valid file name");
  if (length >= MAX_PATH) return cli_format(text, capacity, "%s", cli_explain_long_path);
  // The folder for the system's calls, with its separator; and as the
  // user wrote it, for the messages: the output's text up to its last
  // separator, which only a root keeps (C:\ or a lone \ at the start).
  char folder[MAX_PATH], shown[MAX_PATH];
  snprintf(folder, sizeof folder, "%.*s", static_cast<int>(name - full), full);
  int end = -1;
  for (int i = 0; output[i] != '\0'; i++)
    if (output[i] == '\\' || output[i] == '/' || output[i] == ':') end = i;
  if (end > 0 && output[end] != ':' && output[end - 1] != ':') end--;  // not the root's
  if (end < 0) snprintf(shown, sizeof shown, ".");
  else snprintf(shown, sizeof shown, "%.*s", end + 1, output);
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (cli_explain_is_missing(static_cast<int>(code)))
      return cli_format(text, capacity, "no such folder %s", shown);
    return cli_format(text, capacity, "%s: %s", shown,
                      cli_explain_reason(static_cast<int>(code), reason, sizeof reason));
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return cli_format(text, capacity, "%s is not a folder", shown);
  attributes = GetFileAttributesA(full);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return cli_format(text, capacity, "it is a folder");
    if (attributes & FILE_ATTRIBUTE_READONLY)
      return cli_format(text, capacity, "the file is read-only");
    // The engine replaces the file by a rename, which a program that holds
    // it open without sharing its deletion stops.
    HANDLE h = CreateFileA(full, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      return cli_format(text, capacity, "%s",
                        cli_explain_reason(static_cast<int>(GetLastError()), reason,
                                           sizeof reason));
    CloseHandle(h);
  }
  ULARGE_INTEGER free_bytes;
  if (GetDiskFreeSpaceExA(folder, &free_bytes, nullptr, nullptr))
    *available = static_cast<int64_t>(free_bytes.QuadPart);
  return nullptr;
}
