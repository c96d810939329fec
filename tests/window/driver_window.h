// The test driver's hold on a running qelvw.exe: started, its window and
// controls found by their identifiers, fields filled, buttons pressed and
// keys sent as a person would, and the list, the status line and the
// clipboard read back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct driven_window {
  PROCESS_INFORMATION process;
  HWND window;
};

// Starts program and waits for its window; false when none came.
bool driver_start(const std::wstring& program, driven_window* w);
// Closes the window and waits for the process; false when it did not end
// (within a minute).  exit_status: the process's, when it ended.
bool driver_close(driven_window* w, DWORD* exit_status = nullptr);
HWND driver_control(const driven_window& w, int id);
void driver_set_text(const driven_window& w, int id, const std::wstring& text);
std::wstring driver_text(const driven_window& w, int id);
void driver_click(const driven_window& w, int id);
void driver_check(const driven_window& w, int id, bool checked);
// A key as the window's message loop gets it, at the control that has the
// focus (or at the window): VK_RETURN, VK_ESCAPE, VK_TAB.
void driver_key(const driven_window& w, int key);
// Alt and letter, the mnemonic of a label or button.
void driver_mnemonic(const driven_window& w, wchar_t letter);
// The control with the keyboard focus, by its identifier; 0 for none.
int driver_focus(const driven_window& w);
// Waits until a run has ended (the action buttons usable again); false
// after seconds, or at once when the program has ended.
bool driver_wait_idle(const driven_window& w, int seconds);
// The list's rows, each its columns joined by " | ".
std::vector<std::wstring> driver_rows(const driven_window& w);
int driver_progress(const driven_window& w);
// Drops files on the control, as the shell would (WM_DROPFILES at its
// middle); false when the drop could not be made.
bool driver_drop(const driven_window& w, int id, const std::vector<std::wstring>& files);
// Has the window paint itself whole, and waits until it has.
void driver_repaint(const driven_window& w);
// The clipboard's text.
std::wstring driver_clipboard();
// Presses a button without waiting for what it does (a button that opens a
// modal dialog answers only once the dialog is closed).
void driver_press(const driven_window& w, int id);
// A dialog of the program's (a window of class #32770 other than its main
// window, shown and usable) once it has come; null after seconds.
HWND driver_wait_dialog(const driven_window& w, int seconds);
// Waits until window is gone; false after seconds.
bool driver_wait_gone(HWND window, int seconds);
// The class names of window's children and their children, each once.
std::vector<std::wstring> driver_child_classes(HWND window);
// Widths in the list's font and columns, in pixels: the width of text, of
// a column, and of the list's client area.
int driver_list_text_width(const driven_window& w, const std::wstring& text);
int driver_list_column_width(const driven_window& w, int column);
int driver_list_client_width(const driven_window& w);
