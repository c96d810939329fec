// The window's cases of what a Windows user expects of it: folders that
// are not there named before a run, a cancelled run saying what it wrote,
// the list's columns wide enough for the sizes, the system's folder
// picker, the help on F1 and the Help button, the code page explained, and
// every control drawn after a resize.
#pragma once

#include <string>

#include "driver_window.h"

void case_missing_folders(const driven_window& w);
// After a run that failed before its summary.
void case_failed_run(const driven_window& w);
// The rows of the list fit their columns; when says after what.
void check_list_fits(const driven_window& w, const std::wstring& when);
void case_long_name(const driven_window& w);
// After Esc stopped a run of three files into folder.
void check_cancelled(const driven_window& w, const std::wstring& folder, const std::wstring& dpi);
void case_folder_picker(const driven_window& w, const std::wstring& dpi);
// program: qelvw.exe's path, beside which Qelv.html lies.
void case_help(const driven_window& w, const std::wstring& program);
void case_resize(const driven_window& w, const std::wstring& dpi);
// The driver started by the shell in place of a browser: notes the page
// it was given in the record file.  Returns the exit status.
int habits_note_opened(const std::wstring& record, const std::wstring& page);
