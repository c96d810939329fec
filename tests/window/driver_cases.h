// What the driver's cases share: the work folder and the project in it,
// the key, filling the fields, a run, and a checked screenshot.
#pragma once

#include <string>
#include <vector>

#include "driver_window.h"

extern std::wstring work, shots;
extern const wchar_t project_key[];

// The project under work\src: five files in two folders, one of three pieces.
void make_project();
// Fills the fields for the project (sources, encrypted folder, the folder
// to decrypt into, the two keys; no key file).
void fill(const driven_window& w, const std::wstring& key, const std::wstring& again);
// Presses a button and waits for the run's end; the list's rows.
std::vector<std::wstring> run(const driven_window& w, int button);
// Saves a screenshot, checked for content and for the controls' places.
void screenshot(const driven_window& w, const std::wstring& name);
