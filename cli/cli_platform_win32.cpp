// The command-line tool's platform pieces on Windows.  The engine names
// files in the ANSI code page; the command line, the environment and the
// console are read and written as wide text, so that nothing is converted
// by a best guess on the way.

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

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
bool cli_file_identity(const char* path, uint64_t* volume, uint64_t* file) {
  // No access asked, so that a file held open by others can still be looked at;
  // backup semantics lets a directory be opened too.
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool got = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!got) return false;
  *volume = info.dwVolumeSerialNumber;
  *file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

bool cli_same_file(const char* a, const char* b) {
  uint64_t va, fa, vb, fb;
  return cli_file_identity(a, &va, &fa) && cli_file_identity(b, &vb, &fb) && va == vb && fa == fb;
}

double cli_seconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool cli_is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }
const char cli_separator = '\\';

// text in the ANSI code page as wide text; the count of wide characters.
static int wide_of(const char* text, int length, wchar_t* wide, int capacity) {
  int n = MultiByteToWideChar(CP_ACP, 0, text, length, wide, capacity - 1);
  wide[n > 0 ? n : 0] = L'\0';
  return n > 0 ? n : 0;
}

// As the file system compares names: each character by its upper case.
int cli_name_compare(const char* a, const char* b, size_t n) {
  static const size_t most = CLI_PATH_CAPACITY;
  size_t la = strnlen(a, n < most ? n : most), lb = strnlen(b, n < most ? n : most);
  wchar_t* wa = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (la + lb + 2)));
  if (wa == nullptr) return strncmp(a, b, n);
  wchar_t* wb = wa + la + 1;
  int na = wide_of(a, static_cast<int>(la), wa, static_cast<int>(la + 1));
  int nb = wide_of(b, static_cast<int>(lb), wb, static_cast<int>(lb + 1));
  int order = CompareStringOrdinal(wa, na, wb, nb, TRUE) - CSTR_EQUAL;
  free(wa);
  return order;
}

// A console shows wide characters; the ANSI bytes of a name would be shown
// in the console's own code page, which is another (850 where the ANSI one
// is 1252), so names are converted from the ANSI code page first.
void cli_write_text(FILE* stream, const char* text) {
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
  int n = wide_of(text, length, wide, length + 1);
  DWORD written;
  WriteConsoleW(h, wide, static_cast<DWORD>(n), &written, nullptr);
  free(wide);
}

void cli_binary_mode(FILE* stream) {
  fflush(stream);
  _setmode(_fileno(stream), _O_BINARY);
}

int cli_processor_count() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

struct thread_start {
  void (*fn)(void*);
  void* arg;
};

static unsigned __stdcall thread_main(void* start) {
  auto* s = static_cast<thread_start*>(start);
  s->fn(s->arg);
  free(s);
  return 0;
}

// _beginthreadex, not CreateThread: the workers use the C library.
bool cli_thread_start(cli_thread* thread, void (*fn)(void*), void* arg) {
  auto* start = static_cast<thread_start*>(malloc(sizeof(thread_start)));
  if (start == nullptr) return false;
  start->fn = fn;
  start->arg = arg;
  uintptr_t h = _beginthreadex(nullptr, 0, thread_main, start, 0, nullptr);
  if (h == 0) {
    free(start);
    return false;
  }
  *thread = h;
  return true;
}

void cli_thread_join(cli_thread thread) {
  WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void cli_sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

// ---- Folders and patterns.  Windows shells hand patterns over unexpanded,
// and the file search matches short names too ("*.dat" finds "a.data" by
// "A~1.DAT"), so every name found is matched again against the pattern.

bool cli_has_wildcard(const char* arg) { return strpbrk(arg, "*?") != nullptr; }

static bool wide_match(const wchar_t* pattern, const wchar_t* name) {
  if (*pattern == L'\0') return *name == L'\0';
  if (*pattern == L'*')
    return wide_match(pattern + 1, name) || (*name != L'\0' && wide_match(pattern, name + 1));
  if (*name == L'\0') return false;
  return (*pattern == L'?' || *pattern == *name) && wide_match(pattern + 1, name + 1);
}

// Whether name matches pattern, case-blind.
static bool name_matches(const char* pattern, const char* name) {
  wchar_t wp[MAX_PATH + 1], wn[MAX_PATH + 1];
  wide_of(pattern, -1, wp, MAX_PATH + 1);
  wide_of(name, -1, wn, MAX_PATH + 1);
  CharUpperW(wp);
  CharUpperW(wn);
  return wide_match(wp, wn);
}

struct found_name {
  char* name;
  int kind;
};

static int compare_found(const void* a, const void* b) {
  return cli_name_compare(static_cast<const found_name*>(a)->name,
                          static_cast<const found_name*>(b)->name, CLI_PATH_CAPACITY);
}

// Gathers the entries that search finds (and that match, when a match is
// given) and calls found in name order, the search closed by then.
static int search(const char* search_path, const char* match, const char* folder, bool full,
                  cli_found* found, void* context) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(search_path, &data);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES ? 0 : -1;
  }
  found_name* names = nullptr;
  int count = 0, capacity = 0;
  bool complete = true;
  do {
    if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0) continue;
    if (match != nullptr && !name_matches(match, data.cFileName)) continue;
    if (count == capacity) {
      capacity = capacity > 0 ? 2 * capacity : 64;
      void* grown = realloc(names, sizeof(found_name) * capacity);
      if (grown == nullptr) {
        complete = false;
        break;
      }
      names = static_cast<found_name*>(grown);
    }
    names[count].name = _strdup(data.cFileName);
    if (names[count].name == nullptr) {
      complete = false;
      break;
    }
    bool folder_entry = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    bool link = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    names[count++].kind = folder_entry ? (link ? 2 : 1) : 0;
  } while (FindNextFileA(h, &data));
  FindClose(h);
  if (count > 0) qsort(names, count, sizeof(found_name), compare_found);  // names is null when empty
  char path[CLI_PATH_CAPACITY];
  for (int i = 0; i < count; i++) {
    snprintf(path, sizeof path, "%s%s", folder, names[i].name);
    if (complete) found(full ? path : names[i].name, names[i].kind, context);
    free(names[i].name);
  }
  free(names);
  return complete ? count : -1;
}

int cli_expand_pattern(const char* pattern, cli_found* found, void* context) {
  size_t folder_length = 0;
  for (size_t i = 0; pattern[i] != '\0'; i++)
    if (cli_is_separator(pattern[i])) folder_length = i + 1;
  char folder[CLI_PATH_CAPACITY];
  snprintf(folder, sizeof folder, "%.*s", static_cast<int>(folder_length), pattern);
  if (strpbrk(folder, "*?") != nullptr) return 0;  // wildcards in folders are not expanded
  int n = search(pattern, pattern + folder_length, folder, true, found, context);
  if (n < 0 && GetLastError() == ERROR_PATH_NOT_FOUND) return 0;
  return n;
}

int cli_list_folder(const char* folder, cli_found* found, void* context) {
  char all[CLI_PATH_CAPACITY];
  size_t n = strlen(folder);
  bool separator = n > 0 && !cli_is_separator(folder[n - 1]);
  snprintf(all, sizeof all, "%s%s*", folder, separator ? "\\" : "");
  char prefix[CLI_PATH_CAPACITY];
  snprintf(prefix, sizeof prefix, "%s%s", folder, separator ? "\\" : "");
  return search(all, nullptr, prefix, false, found, context);
}

bool cli_file_time(const char* path, int64_t* time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  *time = static_cast<int64_t>(static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                               data.ftLastWriteTime.dwLowDateTime);
  return true;
}

// Neither a file nor a folder that the file search lists: a device (NUL,
// COM1) or a pipe.
const char* cli_special_kind(const char* path) {
  return cli_is_device(path) ? "a device or pipe" : nullptr;
}

int cli_write_all(FILE* stream, const void* data, size_t count) {
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

bool cli_make_folder(const char* path, char* text, int capacity) {
  if (CreateDirectoryA(path, nullptr)) return true;
  DWORD code = GetLastError();
  DWORD attributes = GetFileAttributesA(path);
  if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return true;
  char reason[256];
  cli_format(text, capacity, "cannot make the folder %s: %s", path,
             code == ERROR_ALREADY_EXISTS ? "a file has that name"
                                          : cli_reason_text(static_cast<int>(code), reason,
                                                            sizeof reason));
  return false;
}

// ---- Keys and the command line.

// The command line as the system holds it (wide) and as the C library's
// file functions take it (ANSI), set by cli_platform_arguments.
static wchar_t** wide_arguments;
static char** ansi_arguments;
static bool* lossy_arguments;
static int argument_count;

char** cli_platform_arguments(int* argc) {
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
    int m = wide_of(ansi_arguments[i], static_cast<int>(strlen(ansi_arguments[i])), back,
                    2 * length + 2);
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

int cli_argument_points(const char* arg, uint32_t* points, int capacity) {
  for (int i = 0; i < argument_count; i++)
    if (ansi_arguments[i] == arg)
      return points_of(wide_arguments[i], static_cast<int>(wcslen(wide_arguments[i])), points,
                       capacity);
  return -2;
}

bool cli_argument_lossy(const char* arg) {
  for (int i = 0; i < argument_count; i++)
    if (ansi_arguments[i] == arg) return lossy_arguments[i];
  return false;
}

int cli_environment_points(const char* name, uint32_t* points, int capacity) {
  wchar_t wide_name[256], value[CLI_KEY_CAPACITY];
  wide_of(name, -1, wide_name, 256);
  DWORD n = GetEnvironmentVariableW(wide_name, value, CLI_KEY_CAPACITY);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return -1;
  if (n >= CLI_KEY_CAPACITY) n = CLI_KEY_CAPACITY - 1;  // cut like a long line
  return points_of(value, static_cast<int>(n), points, capacity);
}

int cli_decode_text(const char* bytes, cli_text_encoding from, uint32_t* points, int capacity,
                    int* bad_at) {
  UINT page = from == TEXT_UTF8 ? CP_UTF8 : CP_ACP;
  if (from == TEXT_CONSOLE && GetConsoleCP() != 0) page = GetConsoleCP();
  int length = static_cast<int>(strlen(bytes));
  wchar_t wide[CLI_KEY_CAPACITY];
  int n = length == 0 ? 0
                      : MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes, length, wide,
                                            CLI_KEY_CAPACITY);
  if (length > 0 && n == 0) {
    // The system does not say where; the first byte beyond ASCII is the
    // likely one.
    *bad_at = 0;
    while (bytes[*bad_at] != '\0' && static_cast<unsigned char>(bytes[*bad_at]) < 0x80) ++*bad_at;
    if (bytes[*bad_at] == '\0') *bad_at = 0;
    return -1;
  }
  return points_of(wide, n, points, capacity);
}

int cli_encode_text(const uint32_t* points, int count, unsigned codepage, char* out,
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

const char* cli_local_encoding(char* text, int capacity) {
  return cli_format(text, capacity, "the ANSI code page, %u", GetACP());
}

// ---- The system's reasons.

int cli_last_error_code() { return static_cast<int>(GetLastError()); }

bool cli_code_is_missing(int code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

const char* cli_reason_text(int code, char* text, int capacity) {
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

// Opened as the engine opens a source: other writers denied.
int cli_probe_read(const char* file) {
  HANDLE h = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  char byte;
  DWORD got;
  int code = ReadFile(h, &byte, 1, &got, nullptr) ? 0 : static_cast<int>(GetLastError());
  CloseHandle(h);
  return code;
}

bool cli_path_too_long(const char* path) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
  // Too long for the buffer: the length needed, or (Wine) nothing at all.
  return n >= MAX_PATH || (n == 0 && strlen(path) >= MAX_PATH);
}

// Makes a file beside output, as the engine does, and gives it the room the
// output needs; it goes again when closed.  Returns 0 or the error code.
static int probe_create(const char* folder, int64_t needed) {
  char path[MAX_PATH + 32];
  // The engine makes a file whose name passes the ANSI calls' limit in the
  // wide form; the probe here does not, and finds nothing there.
  if (strlen(folder) + 18 >= MAX_PATH) return 0;
  for (unsigned attempt = 0; attempt < 16; attempt++) {
    snprintf(path, sizeof path, "%s~qelv-%08lx.tmp", folder,
             GetTickCount() * 2654435761ul + attempt * 40503ul + GetCurrentProcessId());
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    LARGE_INTEGER at;
    at.QuadPart = needed;
    int code = 0;
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h))
      code = static_cast<int>(GetLastError());
    CloseHandle(h);
    return code;
  }
  return 0;
}

const char* cli_probe_write(const char* output, int64_t needed, char* text, int capacity) {
  char full[MAX_PATH], reason[256], need[64], free_text[64];
  char* name = nullptr;
  DWORD length = GetFullPathNameA(output, MAX_PATH, full, &name);
  if (length == 0 || name == nullptr) return cli_format(text, capacity, "not a valid file name");
  if (length >= MAX_PATH)
    return cli_format(text, capacity, "the path is longer than this system's file functions "
                                      "take (259 characters)");
  char folder[MAX_PATH];
  snprintf(folder, sizeof folder, "%.*s", static_cast<int>(name - full), full);
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (cli_code_is_missing(static_cast<int>(code)))
      return cli_format(text, capacity, "no such folder %s", folder);
    return cli_format(text, capacity, "%s: %s", folder,
                      cli_reason_text(static_cast<int>(code), reason, sizeof reason));
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return cli_format(text, capacity, "%s is not a folder", folder);
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
                        cli_reason_text(static_cast<int>(GetLastError()), reason, sizeof reason));
    CloseHandle(h);
  }
  ULARGE_INTEGER available;
  if (GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr) &&
      available.QuadPart < static_cast<uint64_t>(needed)) {
    cli_two_sizes(needed, static_cast<int64_t>(available.QuadPart), need, free_text, sizeof need);
    return cli_format(text, capacity, "disk full (needs %s, %s free)", need, free_text);
  }
  int code = probe_create(folder, needed);
  if (code != 0)
    return cli_format(text, capacity, "%s", cli_reason_text(code, reason, sizeof reason));
  return nullptr;
}

// ---- Temporary files of the tool's own.

bool cli_temp_folder(char* path, int capacity) {
  char folder[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n > MAX_PATH) return false;
  int written = snprintf(path, capacity, "%s", folder);
  return written > 0 && written < capacity;
}

// A new name in the temporary folder, made by make; false when none could be.
static bool temp_name(char* path, int capacity, bool (*make)(const char*, void*), void* made) {
  char folder[MAX_PATH + 1];
  if (!cli_temp_folder(folder, sizeof folder)) return false;
  static unsigned counter;
  for (unsigned attempt = 0; attempt < 64; attempt++) {
    unsigned value = GetTickCount() * 2654435761u ^ GetCurrentProcessId() * 40503u ^
                     __atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED) * 0x9E3779B1u;
    int n = snprintf(path, capacity, "%sqelv-%08x.tmp", folder, value);
    if (n <= 0 || n >= capacity) break;
    if (make(path, made)) return true;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  path[0] = '\0';
  return false;
}

static bool make_file(const char* path, void* made) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  FILE* f = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (f == nullptr) {
    if (fd >= 0) _close(fd);
    else CloseHandle(h);
    DeleteFileA(path);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  *static_cast<FILE**>(made) = f;
  return true;
}

static bool make_folder(const char* path, void*) { return CreateDirectoryA(path, nullptr); }

FILE* cli_temp_file(char* path, int capacity) {
  FILE* f = nullptr;
  return temp_name(path, capacity, make_file, &f) ? f : nullptr;
}

bool cli_temp_folder_make(char* path, int capacity) {
  return temp_name(path, capacity, make_folder, nullptr);
}

bool cli_remove(const char* path, bool folder) {
  return (folder ? RemoveDirectoryA(path) : DeleteFileA(path)) != 0;
}

bool cli_is_device(const char* target) {
  HANDLE h = CreateFileA(target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD type = GetFileType(h);
  CloseHandle(h);
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

// ---- Interrupts.  Ctrl+C, Ctrl+Break and the console closing (or the user
// logging off, the system shutting down) arrive on a thread of their own.
// The handler stops the run, which stops its files at their next piece,
// removes their temporary files (Windows cannot remove a file that is
// open, so the run waits for its files first), says what was not done and
// ends the process with a failure status; the handler waits for that.  A
// closing console gives the handler five seconds before the system ends
// the process, so there the wait is shorter.

static void (*guard_cleanup)();

void cli_interrupt_end() { ExitProcess(130); }

static BOOL WINAPI guard_handler(DWORD event) {
  bool closing = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
  if (cli_run_stop(130)) Sleep(closing ? 4000 : 30000);
  guard_cleanup();
  cli_interrupt_end();
  return TRUE;
}

void cli_guard_interrupts(void (*cleanup)()) {
  guard_cleanup = cleanup;
  SetConsoleCtrlHandler(guard_handler, TRUE);
}
