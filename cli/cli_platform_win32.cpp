// The command-line tool's platform pieces on Windows.

#include <io.h>
#include <windows.h>

#include "cli.h"

static HANDLE handle_of(FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// _isatty is true for any character device, the NUL device included; only a
// console has a console mode.
bool cli_is_terminal(FILE* stream) {
  DWORD mode;
  return GetConsoleMode(handle_of(stream), &mode) != 0;
}

// The console's input mode while echo is off, put back by cli_echo_on or by
// Ctrl+C during the prompt.
static HANDLE echo_off_console = INVALID_HANDLE_VALUE;
static DWORD saved_mode;

static BOOL WINAPI interrupted(DWORD) {
  if (echo_off_console != INVALID_HANDLE_VALUE) SetConsoleMode(echo_off_console, saved_mode);
  return FALSE;  // and let the default handler end the process
}

bool cli_echo_off(FILE* in) {
  HANDLE console = handle_of(in);
  if (!GetConsoleMode(console, &saved_mode)) return false;
  echo_off_console = console;
  SetConsoleCtrlHandler(interrupted, TRUE);
  if (!SetConsoleMode(console, saved_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
    cli_echo_on(in);
    return false;
  }
  return true;
}

void cli_echo_on(FILE*) {
  if (echo_off_console == INVALID_HANDLE_VALUE) return;
  SetConsoleMode(echo_off_console, saved_mode);
  echo_off_console = INVALID_HANDLE_VALUE;
  SetConsoleCtrlHandler(interrupted, FALSE);
}

// One file is one volume and file index, however its path is spelt: case,
// "." and ".." parts, forward or backward slashes, short names, links.
static bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  // No access asked, so that a file held open by others can still be looked at;
  // backup semantics lets a directory be opened too.
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool got = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return got;
}

bool cli_same_file(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!file_identity(a, &ia) || !file_identity(b, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

double cli_seconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool cli_is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }
const char cli_separator = '\\';
