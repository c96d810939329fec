// The list of a run's files with their outcomes, and the report that
// "Copy report" puts on the clipboard: the lines the console would show.
// Each function takes the window that holds the list.
#pragma once

#include <windows.h>

#include <string>

// Sizes the columns to their texts and the list's width; measure_again
// after the font changed.
void window_list_fit(HWND window, bool measure_again);
// Empties the list and the report.
void window_list_clear(HWND window);
// A row: the file, its outcome and the details; line goes to the report.
void window_list_add(HWND window, const std::wstring& name, const std::wstring& outcome,
                     const std::wstring& details, const std::wstring& line);
// A line of the report that has no row (the closing line).
void window_list_report(HWND window, const std::wstring& line);
// Puts the report on the clipboard as text; false when it could not.
bool window_list_copy_report(HWND window);
