// qelvw, the window over the tool's run: one resizable window that gathers
// the folders, the key and the action, and shows the run's files, progress
// and summary.  The run itself is the tool's (window_run.cpp).

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <new>

#include "../runtime/runtime.h"
#include "window_actions.h"
#include "window_folders.h"
#include "window_help.h"
#include "window_ids.h"
#include "window_layout.h"
#include "window_run.h"
#include "window_state.h"
#include "window_taskbar.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// The display's DPI, which the window starts at.
static int screen_dpi() {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

static void on_command(HWND window, int id, int code) {
  if (code != BN_CLICKED && id != IDOK) return;
  switch (id) {
    case IDOK:  // Enter: the default button
    case IDC_ENCRYPT: window_actions_start(window, ACTION_ENCRYPT); break;
    case IDC_VERIFY: window_actions_start(window, ACTION_VERIFY); break;
    case IDC_DECRYPT: window_actions_start(window, ACTION_DECRYPT); break;
    case IDC_CANCEL_RUN: window_actions_cancel(window); break;
    case IDC_SHOW_KEY: window_actions_show_key(window); break;
    case IDC_COPY_REPORT: window_actions_copy_report(window); break;
    case IDC_HELP_BUTTON: window_help_open(window); break;
    case IDC_SOURCE_BROWSE:
      window_folders_browse(window, window_control(window, IDC_SOURCE), L"The source folder");
      break;
    case IDC_OUTPUT_BROWSE:
      window_folders_browse(window, window_control(window, IDC_OUTPUT), L"The encrypted folder");
      break;
    case IDC_DECRYPT_BROWSE:
      window_folders_browse(window, window_control(window, IDC_DECRYPT_DIR),
                            L"The folder to decrypt into");
      break;
    case IDC_KEY_FILE_BROWSE:
      window_folders_browse_file(window, window_control(window, IDC_KEY_FILE));
      break;
  }
}

// A new DPI (the window moved to another display, or the scale changed):
// the suggested rectangle, and everything placed again.
static void on_dpi_changed(HWND window, int dpi, const RECT* suggested) {
  window_state_of(window)->dpi = dpi;
  SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  window_layout_place(window, dpi);
}

// What a dialog's own procedure does with WM_NEXTDLGCTL, which the dialog
// manager sends for Tab and for a label's mnemonic: the focus to the
// control named, or to the next (or previous) one in tab order.
static void next_control(HWND window, WPARAM which, bool named) {
  HWND to = named ? reinterpret_cast<HWND>(which)
                  : GetNextDlgTabItem(window, GetFocus(), which != 0 ? TRUE : FALSE);
  if (to == nullptr) return;
  SetFocus(to);
  if (SendMessageW(to, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(to, EM_SETSEL, 0, -1);
}

// The window's state, made at WM_NCCREATE and hung on the window; false
// when there is no memory for it, which ends the window's creation.
static bool hang_state(HWND window) {
  window_state* s = new (std::nothrow) window_state;
  if (s == nullptr) return false;
  s->dpi = screen_dpi();
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
  return true;
}

// The window's end: its run's thread, the taskbar's interface, the font
// and the state, after the controls are gone.
static void drop_state(HWND window) {
  window_run_end(window);
  window_taskbar_end(window);
  window_layout_end(window);
  delete window_state_of(window);
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                         LPARAM lparam) {
  if (message == WM_NCCREATE && !hang_state(window)) return FALSE;
  window_state* s = window_state_of(window);
  // Before WM_NCCREATE the system asks only the least size, which the size
  // the window is made at is above.
  if (s == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  if (window_actions_event(window, message, wparam, lparam)) return 0;
  if (window_taskbar_event(window, message)) return 0;
  switch (message) {
    case WM_CREATE:
      window_layout_create(window);
      window_folders_recall(window);
      DragAcceptFiles(window, TRUE);
      return 0;
    case WM_SIZE: window_layout_place(window, s->dpi); return 0;
    case WM_GETMINMAXINFO: {
      SIZE least = window_layout_size(s->dpi, true);
      reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {least.cx, least.cy};
      return 0;
    }
    case WM_DPICHANGED:
      on_dpi_changed(window, HIWORD(wparam), reinterpret_cast<RECT*>(lparam));
      return 0;
    case DM_GETDEFID: return MAKELRESULT(IDC_ENCRYPT, DC_HASDEFID);
    case WM_NEXTDLGCTL: next_control(window, wparam, LOWORD(lparam) != 0); return 0;
    case WM_ACTIVATE:
      // The focus goes back to the control that had it when the window was
      // left.
      if (LOWORD(wparam) == WA_INACTIVE) s->last_focus = GetFocus();
      else SetFocus(s->last_focus != nullptr ? s->last_focus : window_control(window, IDC_SOURCE));
      return 0;
    case WM_COMMAND: on_command(window, LOWORD(wparam), HIWORD(wparam)); return 0;
    case WM_TIMER:
      if (wparam == CANCEL_TIMER) window_actions_cancel_timer(window);
      return 0;
    case WM_DROPFILES: window_folders_drop(window, reinterpret_cast<HDROP>(wparam)); return 0;
    case WM_CLOSE:
      if (window_actions_may_close(window)) DestroyWindow(window);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_NCDESTROY: drop_state(window); break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

static HWND make_window(HINSTANCE instance, int show) {
  WNDCLASSEXW c = {};
  c.cbSize = sizeof c;
  c.lpfnWndProc = window_procedure;
  c.hInstance = instance;
  c.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  c.lpszClassName = QELVW_CLASS;
  if (!RegisterClassExW(&c)) return nullptr;
  SIZE size = window_layout_size(screen_dpi(), false);
  HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, QELVW_CLASS, L"Qelv",
                                WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance,
                                nullptr);
  if (window != nullptr) ShowWindow(window, show);
  return window;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls = {
      sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the folder picker and the taskbar
  rt_start();
  HWND window = make_window(instance, show);
  MSG message;
  int got = 0;
  while (window != nullptr && (got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    // F1 wherever the focus is; Tab, the mnemonics, Enter and Esc, as in
    // a dialog.
    if (message.message == WM_KEYDOWN && message.wParam == VK_F1) {
      window_help_open(window);
      continue;
    }
    if (IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // WM_QUIT comes once the window is gone; the loop may also fail, and the
  // window's end then waits for its run all the same.
  if (got < 0) DestroyWindow(window);
  rt_stop();
  CoUninitialize();
  return 0;
}
