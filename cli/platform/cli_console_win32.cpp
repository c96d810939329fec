// The console and the standard streams on Windows: the console's input
// mode for echo, wide text for names, and bytes written to a handle.

#include "../cli_console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "../cli_codepage.h"

static HANDLE handle_of(FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

// _isatty is true for any character device, the NUL device included; only a
// console has a console mode.
const char* const cli_console_help_switch = "/?";

bool cli_console_is_terminal(FILE* stream) {
  DWORD mode;
  return GetConsoleMode(handle_of(stream), &mode) != 0;
}

// The console's input mode while echo is off, put back by
// cli_console_echo_on, by cli_console_restore or by Ctrl+C during the
// prompt.  File-scope: the system's console handler must reach them.
static HANDLE echo_off_console = INVALID_HANDLE_VALUE;
static DWORD saved_mode;

static BOOL WINAPI interrupted(DWORD) {
  cli_console_restore();
  return FALSE;  // and let the next handler end the process
}

bool cli_console_names_terminal(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD mode;
  bool console = GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode) != 0;
  CloseHandle(h);
  return console;
}

bool cli_console_echo_off(FILE* in) {
  HANDLE console = handle_of(in);
  if (!GetConsoleMode(console, &saved_mode)) return false;
  echo_off_console = console;
  SetConsoleCtrlHandler(interrupted, TRUE);
  if (!SetConsoleMode(console, saved_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT))) {
    cli_console_echo_on();
    return false;
  }
  return true;
}

void cli_console_echo_on() {
  if (echo_off_console == INVALID_HANDLE_VALUE) return;
  SetConsoleMode(echo_off_console, saved_mode);
  echo_off_console = INVALID_HANDLE_VALUE;
  SetConsoleCtrlHandler(interrupted, FALSE);
}

void cli_console_restore() {
  if (echo_off_console != INVALID_HANDLE_VALUE) SetConsoleMode(echo_off_console, saved_mode);
}

// A console shows wide characters; the ANSI bytes of a name would be shown
// in the console's own code page, which is another (850 where the ANSI one
// is 1252), so names are converted from the ANSI code page first.
void cli_console_write_text(FILE* stream, const char* text) {
  HANDLE h = handle_of(stream);
  DWORD mode;
  if (!GetConsoleMode(h, &mode)) {
    fputs(text, stream);
    return;
  }
  fflush(stream);  // what was printed through the stream comes first
  int length = static_cast<int>(strlen(text));
  wchar_t* wide = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (length + 1)));
  if (wide == nullptr) {
    fputs(text, stream);
    return;
  }
  int n = cli_codepage_wide(text, length, wide, length + 1);
  DWORD written;
  WriteConsoleW(h, wide, static_cast<DWORD>(n), &written, nullptr);
  free(wide);
}

void cli_console_binary(FILE* stream) {
  fflush(stream);
  _setmode(_fileno(stream), _O_BINARY);
}

int cli_console_write_all(FILE* stream, const void* data, size_t count) {
  fflush(stream);
  HANDLE h = handle_of(stream);
  const char* at = static_cast<const char*>(data);
  while (count > 0) {
    DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count), written = 0;
    if (!WriteFile(h, at, chunk, &written, nullptr) || written == 0) {
      DWORD code = GetLastError();
      return code != 0 ? static_cast<int>(code) : static_cast<int>(ERROR_WRITE_FAULT);
    }
    at += written;
    count -= written;
  }
  return 0;
}
