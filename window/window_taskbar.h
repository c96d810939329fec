// The run's progress on the taskbar button, where the system has such a
// taskbar (Windows 7 and later); elsewhere these do nothing.
#pragma once

#include <windows.h>

#include <cstdint>

// The message the shell sends once the window's button exists.
UINT window_taskbar_message();
// Takes the taskbar's interface, when the system offers it.
void window_taskbar_ready(HWND window);
void window_taskbar_progress(HWND window, uint64_t done, uint64_t total);
void window_taskbar_clear(HWND window);
