// Screenshots of the driven window: captured from the screen, checked for
// content, written as PNG; and the check that every control lies inside
// the window's client area.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct shot {
  int width, height;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, rows from the top
};

// The window's client area as the screen shows it; an empty shot when it
// could not be had.
shot driver_capture(HWND window);
// The count of distinct colours: a blank picture has one or two.
int driver_colours(const shot& s);
// The controls (by identifier, first to last) that show in the shot as one
// colour only: not painted.  Static texts that are empty are left out.
std::vector<int> driver_unpainted_controls(const shot& s, HWND window, int first, int last);
// Writes the shot as a PNG file; false on failure.
bool driver_write_png(const shot& s, const std::wstring& path);
// The controls (by identifier, first to last) that do not lie wholly inside
// the window's client area, or are empty; none when all do.
std::vector<int> driver_controls_outside(HWND window, int first, int last);
