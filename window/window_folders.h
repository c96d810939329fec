// Folders and files chosen by the user: the system's folder picker, the
// key file's open dialog, files dropped on the window, and the two folders
// the window remembers between its runs.
#pragma once

#include <windows.h>

#include <string>

// Lets the user pick a folder for field, starting at its text.
void window_folders_browse(HWND window, HWND field, const wchar_t* title);
// Lets the user pick a key file for field.
void window_folders_browse_file(HWND window, HWND field);
// Files or folders dropped on the window: one goes into the field under
// the drop point (a folder field, else the source), several into the
// source as a list.
void window_folders_drop(HWND window, HDROP drop);
// The source field's paths: its one path, or the list of the files dropped
// while the field still shows them.
std::wstring window_folders_sources(HWND window, std::wstring* list_rest);
// The source and encrypted folders of the last run, put back into their
// fields; and kept for the next time.  Nothing else is kept.
void window_folders_recall(HWND window);
void window_folders_remember(const std::wstring& source, const std::wstring& output);
