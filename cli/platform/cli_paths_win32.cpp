// Paths on Windows: both slashes and the drive's colon end a folder name,
// names are compared case-blind, and patterns and folders are read through
// the file search.  Windows shells hand patterns over unexpanded, and the
// file search matches short names too ("*.dat" finds "a.data" by
// "A~1.DAT"), so every name found is matched again against the pattern.

#include "../cli_paths.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../runtime/runtime.h"
#include "../cli_codepage.h"

bool cli_paths_is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }
bool cli_paths_has_wildcard(const char* arg) { return strpbrk(arg, "*?") != nullptr; }
const bool cli_paths_case_blind = true;
const bool cli_paths_trims_names = true;
const char cli_paths_remove_command[] = "del";

// No Windows name holds a double quote, so quotes keep a name whole.
std::string cli_paths_shell_quoted(const std::string& path) {
  if (path.find_first_of(" &|<>^()%!;,=") == std::string::npos) return path;
  return "\"" + path + "\"";
}

// Names in ASCII, most of them, compare without a conversion: a letter by
// its upper case, as the file system's table has it for ASCII.  Returns 2
// when a byte beyond ASCII comes first, which only the full comparison
// can judge.
static int ascii_compare(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return 2;
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

// As the file system compares names: each character by its upper case.
int cli_paths_compare(const char* a, const char* b, size_t n) {
  int ascii = ascii_compare(a, b, n);
  if (ascii != 2) return ascii;
  static const size_t most = RT_PATH_CAPACITY;
  size_t la = strnlen(a, n < most ? n : most), lb = strnlen(b, n < most ? n : most);
  wchar_t* wa = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (la + lb + 2)));
  if (wa == nullptr) return strncmp(a, b, n);
  wchar_t* wb = wa + la + 1;
  int na = cli_codepage_wide(a, static_cast<int>(la), wa, static_cast<int>(la + 1));
  int nb = cli_codepage_wide(b, static_cast<int>(lb), wb, static_cast<int>(lb + 1));
  int order = CompareStringOrdinal(wa, na, wb, nb, TRUE) - CSTR_EQUAL;
  free(wa);
  return order;
}

static bool wide_match(const wchar_t* pattern, const wchar_t* name) {
  if (*pattern == L'\0') return *name == L'\0';
  if (*pattern == L'*')
    return wide_match(pattern + 1, name) || (*name != L'\0' && wide_match(pattern, name + 1));
  if (*name == L'\0') return false;
  return (*pattern == L'?' || *pattern == *name) && wide_match(pattern + 1, name + 1);
}

// Whether name matches pattern, case-blind.
static bool name_matches(const wchar_t* pattern, const wchar_t* name) {
  wchar_t wp[MAX_PATH + 1], wn[MAX_PATH + 1];
  lstrcpynW(wp, pattern, MAX_PATH + 1);
  lstrcpynW(wn, name, MAX_PATH + 1);
  CharUpperW(wp);
  CharUpperW(wn);
  return wide_match(wp, wn);
}

// A name the search found, in the ANSI code page the file functions take;
// false when that code page cannot spell it (then name holds what comes
// nearest, for messages).
static bool ansi_name(const wchar_t* wide, char* name, int capacity) {
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, name, capacity, nullptr,
                              &lossy);
  if (n == 0) name[0] = '\0';
  // And back: Wine spells a missing character by a similar one (ł as l)
  // without saying so.
  wchar_t back[MAX_PATH + 1];
  cli_codepage_wide(name, -1, back, MAX_PATH + 1);
  return n > 0 && !lossy && wcscmp(back, wide) == 0;
}

// Whether a name listed cannot be opened as a file of that name: the
// system keeps the names of its devices (CON, PRN, AUX, NUL, COM1 to COM9,
// LPT1 to LPT9, with any extension) in every folder, and a name that
// another system made may hold a character that Windows takes for
// something else (':' names a stream, '?' and '*' are wildcards; Wine
// shows those as characters of the private use area from U+F000) or end in
// a dot or a space, which the system drops: "x " would open the file x.
static bool reserved(const wchar_t* name) {
  for (const wchar_t* p = name; *p != L'\0'; p++)
    if (*p < 0x20 || wcschr(L"<>:\"/\\|?*", *p) != nullptr || (*p >= 0xF000 && *p <= 0xF0FF))
      return true;
  const size_t n = wcslen(name);  // never "." or "..", which are passed by
  if (n > 0 && (name[n - 1] == L'.' || name[n - 1] == L' ')) return true;
  size_t stem = 0;
  while (name[stem] != L'\0' && name[stem] != L'.') stem++;
  while (stem > 0 && name[stem - 1] == L' ') stem--;  // "aux .txt" is AUX too
  wchar_t base[5] = L"";
  if (stem < 3 || stem > 4) return false;
  lstrcpynW(base, name, static_cast<int>(stem) + 1);
  CharUpperW(base);
  static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
  for (const wchar_t* device : devices)
    if (wcscmp(base, device) == 0) return true;
  return stem == 4 && (wcsncmp(base, L"COM", 3) == 0 || wcsncmp(base, L"LPT", 3) == 0) &&
         base[3] >= L'1' && base[3] <= L'9';
}

// Hands on the entries that search_path finds (and that match, when a
// match is given), their paths in folder when full.  The search is made
// in wide characters, so that a name the ANSI code page cannot spell is
// known as such instead of as its spelling with question marks.
static int search(const char* search_path, const char* match, const char* folder, bool full,
                  cli_paths_found* found, void* context) {
  wchar_t wide_path[RT_PATH_CAPACITY], wide_match_text[MAX_PATH + 1] = L"";
  cli_codepage_wide(search_path, -1, wide_path, RT_PATH_CAPACITY);
  if (match != nullptr) cli_codepage_wide(match, -1, wide_match_text, MAX_PATH + 1);
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(wide_path, &data);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES ? 0 : -1;
  }
  cli_paths_names names;
  do {
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    if (match != nullptr && !name_matches(wide_match_text, data.cFileName)) continue;
    char name[MAX_PATH * 2 + 1];
    bool spelt = ansi_name(data.cFileName, name, sizeof name);
    bool folder_entry = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    bool link = data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    cli_paths_kind kind = folder_entry ? (link ? PATHS_FOLDER_LINK : PATHS_FOLDER)
                                       : (link ? PATHS_FILE_LINK : PATHS_FILE);
    if (reserved(data.cFileName)) kind = PATHS_RESERVED;
    else if (!spelt) kind = PATHS_UNSPELLABLE;
    cli_paths_names_add(&names, name, kind);
  } while (FindNextFileW(h, &data));
  // A listing cut short by an error is no listing: its missing names would
  // pass for files that are gone.
  const DWORD ended = GetLastError();
  FindClose(h);
  if (ended != ERROR_NO_MORE_FILES) return -1;
  return cli_paths_names_give(&names, folder, full, found, context);
}

int cli_paths_expand(const char* pattern, cli_paths_found* found, void* context) {
  size_t folder_length = 0;
  for (size_t i = 0; pattern[i] != '\0'; i++)
    if (cli_paths_is_separator(pattern[i])) folder_length = i + 1;
  char folder[RT_PATH_CAPACITY];
  snprintf(folder, sizeof folder, "%.*s", static_cast<int>(folder_length), pattern);
  if (strpbrk(folder, "*?") != nullptr) return 0;  // wildcards in folders are not expanded
  int n = search(pattern, pattern + folder_length, folder, true, found, context);
  if (n < 0 && GetLastError() == ERROR_PATH_NOT_FOUND) return 0;
  return n;
}

int cli_paths_list(const char* folder, cli_paths_found* found, void* context) {
  char all[RT_PATH_CAPACITY];
  size_t n = strlen(folder);
  bool separator = n > 0 && !cli_paths_is_separator(folder[n - 1]);
  snprintf(all, sizeof all, "%s%s*", folder, separator ? "\\" : "");
  return search(all, nullptr, "", false, found, context);
}
