// The help page beside the program, handed to the shell, which opens it
// in whatever the user has chosen for web pages.

#include "window_help.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "window_ids.h"
#include "window_layout.h"

// The program's folder, with its last backslash; empty when not known.
static std::wstring program_folder() {
  std::vector<wchar_t> path(32768);
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return std::wstring();
  std::wstring p(path.data(), n);
  size_t slash = p.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1);
}

void window_help_open(HWND window) {
  std::wstring page = program_folder() + L"Qelv.html";
  HWND status = window_control(window, IDC_STATUS);
  // Asked in wide characters: the program's folder may have a name the
  // code page cannot spell, and the shell takes the page's path as it is.
  DWORD attributes = GetFileAttributesW(page.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    std::wstring text = L"The help page is missing: Qelv.html belongs beside qelvw.exe, in " +
                        program_folder();
    SetWindowTextW(status, text.c_str());
    return;
  }
  // Above 32: opened; else the shell's reason.
  INT_PTR opened = reinterpret_cast<INT_PTR>(
      ShellExecuteW(window, nullptr, page.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (opened > 32) return;
  std::wstring text = opened == SE_ERR_NOASSOC
                          ? L"No program is set to open web pages; the help page is " + page
                          : L"The help page could not be opened: " + page;
  SetWindowTextW(status, text.c_str());
}
