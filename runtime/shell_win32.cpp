// The desktop shell on Windows.

#include "shell.h"

#include <windows.h>
#include <shellapi.h>


void rt_shell_open(void* parent_window, const char* target) {
  ShellExecuteA(static_cast<HWND>(parent_window), "open", target, nullptr, nullptr, SW_SHOWNORMAL);
}
