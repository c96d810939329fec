// The window's controls: made once, placed for the window's size and the
// display's DPI, in a font of the system's at that DPI.
#pragma once

#include <windows.h>

// Makes the controls as children of window, in tab order.
void window_layout_create(HWND window);
// Places them for the client area and the DPI (96 is 100%); gives them a
// font made for that DPI.
void window_layout_place(HWND window, int dpi);
// Deletes the controls' font, for the window's end (the controls are gone).
void window_layout_end(HWND window);
// The window's size for its first showing, and its least, at dpi.
SIZE window_layout_size(int dpi, bool least);
HWND window_control(HWND window, int id);
