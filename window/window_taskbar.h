// The run's progress on the taskbar button, where the system has such a
// taskbar (Windows 7 and later); elsewhere these do nothing.
#pragma once

#include <windows.h>

#include <cstdint>

// The shell's message that the window's button exists: the taskbar's
// interface is taken then.  True when message was it.
bool window_taskbar_event(HWND window, UINT message);
void window_taskbar_progress(HWND window, uint64_t done, uint64_t total);
void window_taskbar_clear(HWND window);
// Lets go of the taskbar's interface, for the window's end.
void window_taskbar_end(HWND window);
