// Text between the window's wide characters and the tool's ANSI bytes: the
// engine names files in the ANSI code page, so a name it cannot spell is
// refused before a run rather than turned into another name.

#include "window_text.h"

#include <windows.h>

#include <cwchar>
#include <vector>

std::wstring window_wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

bool window_ansi(const std::wstring& text, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  BOOL used_default = FALSE;
  int length = static_cast<int>(text.size());
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0,
                              nullptr, &used_default);
  if (n <= 0) return false;
  out->assign(n, '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, out->data(), n, nullptr,
                      &used_default);
  // And back: a character may come back as a look-alike without a word.
  return used_default == FALSE && window_wide(*out) == text;
}

std::wstring window_text_of(void* control) {
  HWND h = static_cast<HWND>(control);
  int n = GetWindowTextLengthW(h);
  std::vector<wchar_t> text(n + 2, L'\0');
  GetWindowTextW(h, text.data(), n + 1);
  return std::wstring(text.data());
}
