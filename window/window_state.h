// What the window keeps while it is open, in one object hung on the window
// (its GWLP_USERDATA): made when the window is created, deleted when it is
// gone, once the run's thread has ended (qelvw.cpp).  Each module reaches
// its part through the window's handle.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ITaskbarList3;
struct run_state;

enum window_action { ACTION_ENCRYPT, ACTION_VERIFY, ACTION_DECRYPT };

// What the run going on (or the last one) has told so far.
struct run_tally {
  window_action action = ACTION_ENCRYPT;
  int count = 0;  // the files of the run, once a progress has said it
  int written = 0, current = 0, failed = 0;
  bool stopped = false;  // its closing line said it was cancelled
  bool cancel_asked = false;
  bool closing_shown = false;  // the run's last line is in the status line
  bool note_shown = false;     // a note of the run's is in the status line
};

struct window_state {
  int dpi = 96;                // the DPI the controls are placed for
  HWND last_focus = nullptr;   // the control that had the focus when the window was left
  HFONT font = nullptr;        // the controls' font, made for font_dpi
  int font_dpi = 0;
  // The list's report, which Copy report puts on the clipboard, and the
  // widest text of each column so far, in pixels of the list's font (0: to
  // be measured again).
  std::wstring report;
  int widest[3] = {};
  // The files last dropped on the source, and the list of them the field
  // shows, joined by "; ".
  std::vector<std::wstring> dropped;
  std::wstring dropped_text;
  run_tally tally;
  bool close_wanted = false;  // the window closes once the run has ended
  // The shell's message that the taskbar button exists, and the taskbar's
  // interface once it is had.
  UINT taskbar_message = 0;
  ITaskbarList3* taskbar = nullptr;
  run_state* run = nullptr;  // made at the first run (window_run.cpp)
};

// The window's state; null before WM_NCCREATE and after WM_NCDESTROY.
inline window_state* window_state_of(HWND window) {
  return reinterpret_cast<window_state*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}
