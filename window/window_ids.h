// The window's controls by identifier: the window program creates them
// under these, and its test driver finds them by the same.
#pragma once

enum {
  IDC_SOURCE_LABEL = 100,
  IDC_SOURCE,
  IDC_SOURCE_BROWSE,
  IDC_OUTPUT_LABEL,
  IDC_OUTPUT,
  IDC_OUTPUT_BROWSE,
  IDC_DECRYPT_LABEL,
  IDC_DECRYPT_DIR,
  IDC_DECRYPT_BROWSE,
  IDC_KEY_LABEL,
  IDC_KEY,
  IDC_KEY_AGAIN_LABEL,
  IDC_KEY_AGAIN,
  IDC_SHOW_KEY,
  IDC_KEY_FILE_LABEL,
  IDC_KEY_FILE,
  IDC_KEY_FILE_BROWSE,
  IDC_CODEPAGE_LABEL,
  IDC_CODEPAGE,
  IDC_DELETE,
  IDC_CODEPAGE_NOTE,
  IDC_ENCRYPT,
  IDC_VERIFY,
  IDC_DECRYPT,
  IDC_COPY_REPORT,
  IDC_HELP_BUTTON,
  IDC_PROGRESS,
  IDC_CURRENT,
  IDC_LIST,
  IDC_STATUS,
  IDC_LAST  // one past the last control
};

// The Cancel button is the system's IDCANCEL (2), which Esc presses.
enum { IDC_CANCEL_RUN = 2 };

// The list's columns.
enum { LIST_COLUMN_FILE, LIST_COLUMN_OUTCOME, LIST_COLUMN_DETAILS };

// The window's class name, for the driver's FindWindow.
#define QELVW_CLASS L"QelvWindow"
