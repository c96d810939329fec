// A run of the window: the fields it gathered turned into the tool's
// request and worked by the tool's own run (cli_run_request) on a thread
// of its own, whose events are posted to the window as messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "window_state.h"

// What one run is asked to do.  Paths are in the ANSI code page, as the
// tool's file functions take them.
struct window_request {
  window_action action;
  std::vector<std::string> sources;  // the source folder, or the files dropped
  std::string input_dir;             // verify: the folder the files came from, or empty
  std::string output;                // the encrypted folder
  std::string decrypt_dir;           // decrypt: the folder the plain files go to
  std::string key_file;              // empty: the typed key
  std::wstring key;                  // the typed key
  unsigned codepage;
  bool delete_orphans;
};

// The messages a run posts, one range from WM_RUN_ITEM to WM_RUN_DONE;
// lParam holds the event, which the window deletes.  WM_RUN_DONE: wParam
// is the run's exit status.
enum {
  WM_RUN_ITEM = WM_APP + 1,
  WM_RUN_PROGRESS,
  WM_RUN_CLOSING,
  WM_RUN_NOTE,
  WM_RUN_DONE
};

enum run_item_kind { ITEM_WRITTEN, ITEM_CURRENT, ITEM_SKIPPED, ITEM_FAILED, ITEM_DELETED };

struct run_item_event {
  run_item_kind kind;
  std::wstring name, outcome, details;
  std::wstring line;  // the console's line for the report
};

struct run_progress_event {
  int done, count;
  uint64_t worked;
  int64_t total;
  double seconds_left;   // -1: not known
  std::wstring current;  // the file being worked, or empty
};

struct run_text_event {
  std::wstring text;
  bool stopped;  // WM_RUN_CLOSING: the run was cancelled
};

// Starts the run; false when one is going on or the typed key is longer
// than a key can be.  The key is wiped from request once the run has it.
bool window_run_start(HWND window, window_request* request);
// Asks the run to stop at its next piece; call again until it answers.
// True once the run has taken the request (or none is going on).
bool window_run_cancel(HWND window);
bool window_run_going(HWND window);
// Waits for a run to end and lets go of what it kept, for the window's
// end.
void window_run_end(HWND window);
