// The taskbar's progress, asked of the shell at run time: the interface
// exists from Windows 7 on, and on an older system the request fails and
// the window carries on without it.

#include "window_taskbar.h"

#include <shobjidl.h>

#include "window_state.h"

// Takes the taskbar's interface, when the system offers it.
static void take_taskbar(window_state* s) {
  if (s->taskbar != nullptr) return;
  void* made = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ITaskbarList3, &made)))
    return;
  s->taskbar = static_cast<ITaskbarList3*>(made);
  if (FAILED(s->taskbar->HrInit())) {
    s->taskbar->Release();
    s->taskbar = nullptr;
  }
}

bool window_taskbar_event(HWND window, UINT message) {
  window_state* s = window_state_of(window);
  if (s->taskbar_message == 0) s->taskbar_message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  if (message != s->taskbar_message || message == 0) return false;
  take_taskbar(s);
  return true;
}

void window_taskbar_progress(HWND window, uint64_t done, uint64_t total) {
  ITaskbarList3* taskbar = window_state_of(window)->taskbar;
  if (taskbar == nullptr) return;
  if (total == 0) {
    taskbar->SetProgressState(window, TBPF_INDETERMINATE);
    return;
  }
  taskbar->SetProgressState(window, TBPF_NORMAL);
  taskbar->SetProgressValue(window, done < total ? done : total, total);
}

void window_taskbar_clear(HWND window) {
  ITaskbarList3* taskbar = window_state_of(window)->taskbar;
  if (taskbar != nullptr) taskbar->SetProgressState(window, TBPF_NOPROGRESS);
}

void window_taskbar_end(HWND window) {
  window_state* s = window_state_of(window);
  if (s->taskbar != nullptr) s->taskbar->Release();
  s->taskbar = nullptr;
}
