// The taskbar's progress, asked of the shell at run time: the interface
// exists from Windows 7 on, and on an older system the request fails and
// the window carries on without it.

#include "window_taskbar.h"

#include <shobjidl.h>

static ITaskbarList3* taskbar;

UINT window_taskbar_message() {
  static UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

void window_taskbar_ready(HWND) {
  if (taskbar != nullptr) return;
  void* made = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ITaskbarList3, &made)))
    return;
  taskbar = static_cast<ITaskbarList3*>(made);
  if (FAILED(taskbar->HrInit())) {
    taskbar->Release();
    taskbar = nullptr;
  }
}

void window_taskbar_progress(HWND window, uint64_t done, uint64_t total) {
  if (taskbar == nullptr) return;
  if (total == 0) {
    taskbar->SetProgressState(window, TBPF_INDETERMINATE);
    return;
  }
  taskbar->SetProgressState(window, TBPF_NORMAL);
  taskbar->SetProgressValue(window, done < total ? done : total, total);
}

void window_taskbar_clear(HWND window) {
  if (taskbar != nullptr) taskbar->SetProgressState(window, TBPF_NOPROGRESS);
}
