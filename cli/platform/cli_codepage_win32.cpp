// Code pages on Windows.  The engine names files in the ANSI code page;
// the command line, the environment and the console are read as wide text,
// so that nothing is converted by a best guess on the way, and each
// argument is given to the rest of the tool in the ANSI code page.

#include "../cli_codepage.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "../cli_print.h"

int cli_codepage_wide(const char* text, int length, wchar_t* wide, int capacity) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, length, wide, capacity - 1);
  wide[n > 0 ? n : 0] = L'\0';
  return n > 0 ? n : 0;
}

// The command line as the system holds it (wide) and as the C library's
// file functions take it (ANSI), set by cli_codepage_start.  File-scope:
// the program's one command line, made once at its start, which the
// options found later by their very strings are looked up in.
static wchar_t** wide_arguments;
static char** ansi_arguments;
static bool* lossy_arguments;
static int argument_count;

// The arguments from the wide command line in the ANSI code page, each
// with whether it came through whole; null when they cannot be had.
static char** wide_made_arguments(int* argc) {
  wide_arguments = CommandLineToArgvW(GetCommandLineW(), &argument_count);
  if (wide_arguments == nullptr) return nullptr;
  ansi_arguments = static_cast<char**>(calloc(argument_count + 1, sizeof(char*)));
  lossy_arguments = static_cast<bool*>(calloc(argument_count + 1, sizeof(bool)));
  if (ansi_arguments == nullptr || lossy_arguments == nullptr) return nullptr;
  for (int i = 0; i < argument_count; i++) {
    BOOL used_default = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide_arguments[i], -1, nullptr, 0,
                                nullptr, &used_default);
    ansi_arguments[i] = static_cast<char*>(malloc(n > 0 ? n : 1));
    if (ansi_arguments[i] == nullptr) return nullptr;
    ansi_arguments[i][0] = '\0';
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide_arguments[i], -1, ansi_arguments[i], n,
                        nullptr, &used_default);
    // And back: Wine spells a missing character by a similar one (ł as l)
    // without saying so.
    int length = static_cast<int>(wcslen(wide_arguments[i]));
    wchar_t* back = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (2 * length + 2)));
    if (back == nullptr) return nullptr;
    int m = cli_codepage_wide(ansi_arguments[i], static_cast<int>(strlen(ansi_arguments[i])),
                              back, 2 * length + 2);
    lossy_arguments[i] = used_default != FALSE || m != length ||
                         wmemcmp(back, wide_arguments[i], length) != 0;
    free(back);
  }
  // The caller gets an array of its own: cli_main reorders its arguments,
  // and the look-ups below go by the strings' own addresses.
  char** given = static_cast<char**>(calloc(argument_count + 1, sizeof(char*)));
  if (given == nullptr) return nullptr;
  memcpy(given, ansi_arguments, sizeof(char*) * argument_count);
  *argc = argument_count;
  return given;
}

// Wide text as code points: a surrogate pair is one point.
static int points_of(const wchar_t* wide, int length, uint32_t* points, int capacity) {
  int n = 0;
  for (int i = 0; i < length && n < capacity; i++) {
    uint32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      i++;
    }
    points[n++] = c;
  }
  return n;
}

static int wide_of_points(const uint32_t* points, int count, wchar_t* wide, int capacity) {
  int n = 0;
  for (int i = 0; i < count && n + 2 < capacity; i++) {
    if (points[i] >= 0x10000) {
      wide[n++] = static_cast<wchar_t>(0xD800 + ((points[i] - 0x10000) >> 10));
      wide[n++] = static_cast<wchar_t>(0xDC00 + ((points[i] - 0x10000) & 0x3FF));
    } else {
      wide[n++] = static_cast<wchar_t>(points[i]);
    }
  }
  wide[n] = L'\0';
  return n;
}

int cli_codepage_argument_points(const char* arg, uint32_t* points, int capacity) {
  for (int i = 0; i < argument_count; i++)
    if (ansi_arguments[i] == arg)
      return points_of(wide_arguments[i], static_cast<int>(wcslen(wide_arguments[i])), points,
                       capacity);
  return -2;
}

bool cli_codepage_argument_lossy(const char* arg) {
  for (int i = 0; i < argument_count; i++)
    if (ansi_arguments[i] == arg) return lossy_arguments[i];
  return false;
}

// Texts of no more code points than capacity need no more wide
// characters than twice that (a surrogate pair each), and a zero.
int cli_codepage_environment_points(const char* name, uint32_t* points, int capacity) {
  wchar_t wide_name[256];
  std::vector<wchar_t> value(2 * capacity + 1);
  cli_codepage_wide(name, -1, wide_name, 256);
  DWORD room = static_cast<DWORD>(value.size());
  DWORD n = GetEnvironmentVariableW(wide_name, value.data(), room);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return -1;
  if (n >= room) n = room - 1;  // cut like a long line
  int count = points_of(value.data(), static_cast<int>(n), points, capacity);
  std::fill(value.begin(), value.end(), L'\0');  // a key lives no longer than needed
  return count;
}

int cli_codepage_decode(const char* bytes, cli_codepage_source from, uint32_t* points,
                        int capacity, int* bad_at) {
  UINT page = from == TEXT_UTF8 ? CP_UTF8 : CP_ACP;
  if (from == TEXT_CONSOLE && GetConsoleCP() != 0) page = GetConsoleCP();
  int length = static_cast<int>(strlen(bytes));
  std::vector<wchar_t> room(length + 1);
  wchar_t* wide = room.data();
  int n = length == 0 ? 0
                      : MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes, length, wide,
                                            length + 1);
  if (length > 0 && n == 0) {
    // The system does not say where; the first byte beyond ASCII is the
    // likely one.
    *bad_at = 0;
    while (bytes[*bad_at] != '\0' && static_cast<unsigned char>(bytes[*bad_at]) < 0x80) ++*bad_at;
    if (bytes[*bad_at] == '\0') *bad_at = 0;
    return -1;
  }
  int count = points_of(wide, n, points, capacity);
  std::fill(room.begin(), room.end(), L'\0');  // a key lives no longer than needed
  return count;
}

int cli_codepage_encode(const uint32_t* points, int count, unsigned codepage, char* out,
                        int capacity, int* bad_at) {
  if (!IsValidCodePage(codepage)) return -2;
  // UTF-8 and the like take no flags and report no default character.
  bool plain = codepage == CP_UTF8 || codepage == 54936 || codepage >= 50000;
  DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
  int used = 0;
  for (int i = 0; i < count; i++) {
    wchar_t wide[3], back[3];
    int w = wide_of_points(points + i, 1, wide, 3);
    BOOL used_default = FALSE;
    int n = WideCharToMultiByte(codepage, flags, wide, w, out + used, capacity - 1 - used, nullptr,
                                plain ? nullptr : &used_default);
    // And back again: a character that comes back as another was not there.
    int m = n > 0 ? MultiByteToWideChar(codepage, 0, out + used, n, back, 3) : 0;
    if (n <= 0 || used_default || m != w || memcmp(back, wide, sizeof(wchar_t) * w) != 0) {
      *bad_at = i;
      out[0] = '\0';
      return -1;
    }
    used += n;
  }
  out[used] = '\0';
  return used;
}

std::string cli_codepage_local_name() {
  return cli_format("the ANSI code page, %u", GetACP());
}

void cli_codepage_start(int* argc, char*** argv) {
  char** made = wide_made_arguments(argc);
  if (made != nullptr) *argv = made;
}
