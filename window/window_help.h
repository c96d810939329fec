// The help: Qelv.html, which ships beside the window program, opened in
// the user's browser by F1 or the Help button.
#pragma once

#include <windows.h>

// Opens the help page; a page that is missing or cannot be opened is said
// in the status line.
void window_help_open(HWND window);
