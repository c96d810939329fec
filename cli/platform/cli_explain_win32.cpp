// The system's words on Windows: GetLastError codes in plain words.  Paths
// are ANSI and at most MAX_PATH - 1 characters long, as the engine's file
// functions take them.

#include "../cli_explain.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "../cli_print.h"

bool cli_explain_is_missing(int code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool cli_explain_is_full(int code) {
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
}

std::string cli_explain_reason(int code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return "no such file";
    case ERROR_PATH_NOT_FOUND: return "no such folder";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return "in use by another program";
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return "disk full";
    case ERROR_WRITE_PROTECT: return "read-only medium";
    case ERROR_NOT_READY: return "the drive is not ready";
    case ERROR_FILENAME_EXCED_RANGE: return "the path is too long";
    case ERROR_INVALID_NAME: return "not a valid name";
    case ERROR_DIRECTORY: return "not a folder";
    case ERROR_FILE_READ_ONLY: return "the file is read-only";
    case ERROR_CRC: return "a device error (data error)";
    case ERROR_NO_DATA:
    case ERROR_BROKEN_PIPE: return "the reading end was closed";
    default: break;
  }
  char message[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, message, sizeof message, nullptr);
  size_t n = strlen(message);
  while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n' || message[n - 1] == '.'))
    message[--n] = '\0';
  if (n == 0) return cli_format("system error %d", code);
  return message;
}

bool cli_explain_too_long(const char* path) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
  // Too long for the buffer: the length needed, or (Wine) nothing at all.
  return n >= MAX_PATH || (n == 0 && strlen(path) >= MAX_PATH);
}
