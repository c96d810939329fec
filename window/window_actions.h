// What the window's buttons do and how it shows a run: the fields checked
// and turned into a request, the run's events put into the list, the
// progress bar and the status line.
#pragma once

#include <windows.h>

#include "window_run.h"

// Encrypt, Verify or Decrypt pressed (or Enter, for Encrypt).
void window_actions_start(HWND window, window_action action);
// Cancel pressed, or Esc; and the timer that asks again until the run has
// taken it.
void window_actions_cancel(HWND window);
void window_actions_cancel_timer(HWND window);
// A run's message (WM_RUN_*); true when it was one.
bool window_actions_event(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// The Show check box: the key fields masked or not.
void window_actions_show_key(HWND window);
// Asks a run going on to stop, for the window's closing; true when none is.
bool window_actions_may_close(HWND window);

enum { CANCEL_TIMER = 1 };
// Copy report pressed: the report on the clipboard, said in the status line.
void window_actions_copy_report(HWND window);
