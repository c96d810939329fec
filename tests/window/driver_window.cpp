// The driver's hold on a running qelvw.exe.  The list view keeps its rows
// in the window's process, so they are read through a buffer placed there;
// everything else goes through messages that the system carries between
// processes.

#include "driver_window.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>

#include "../../window/window_ids.h"

struct find_request {
  DWORD process;
  HWND found;
};

static BOOL CALLBACK find_window(HWND window, LPARAM request) {
  auto* r = reinterpret_cast<find_request*>(request);
  wchar_t kind[64];
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == r->process && GetClassNameW(window, kind, 64) && lstrcmpW(kind, QELVW_CLASS) == 0) {
    r->found = window;
    return FALSE;
  }
  return TRUE;
}

bool driver_start(const std::wstring& program, driven_window* w) {
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  std::wstring command = L"\"" + program + L"\"";
  *w = {};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &start, &w->process))
    return false;
  WaitForInputIdle(w->process.hProcess, 60000);
  for (int i = 0; i < 600 && w->window == nullptr; i++) {
    find_request r = {w->process.dwProcessId, nullptr};
    EnumWindows(find_window, reinterpret_cast<LPARAM>(&r));
    w->window = r.found;
    if (w->window == nullptr) Sleep(100);
  }
  return w->window != nullptr;
}

bool driver_close(driven_window* w, DWORD* exit_status) {
  PostMessageW(w->window, WM_CLOSE, 0, 0);
  bool ended = WaitForSingleObject(w->process.hProcess, 60000) == WAIT_OBJECT_0;
  if (ended && exit_status != nullptr) GetExitCodeProcess(w->process.hProcess, exit_status);
  if (!ended) TerminateProcess(w->process.hProcess, 1);
  CloseHandle(w->process.hProcess);
  CloseHandle(w->process.hThread);
  return ended;
}

HWND driver_control(const driven_window& w, int id) { return GetDlgItem(w.window, id); }

void driver_set_text(const driven_window& w, int id, const std::wstring& text) {
  SendMessageW(driver_control(w, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring driver_text(const driven_window& w, int id) {
  wchar_t text[4096] = L"";
  SendMessageW(driver_control(w, id), WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text));
  return text;
}

void driver_click(const driven_window& w, int id) {
  SendMessageW(driver_control(w, id), BM_CLICK, 0, 0);
}

void driver_check(const driven_window& w, int id, bool checked) {
  bool now = SendMessageW(driver_control(w, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (now != checked) driver_click(w, id);
}

static HWND focus_window(const driven_window& w) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(w.process.dwThreadId, &info)) return nullptr;
  return info.hwndFocus;
}

// Waits until the window's thread has handled what was posted before.
static void settle(const driven_window& w) {
  DWORD_PTR result;
  SendMessageTimeoutW(w.window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result);
  Sleep(50);
  SendMessageTimeoutW(w.window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result);
}

void driver_key(const driven_window& w, int key) {
  HWND target = focus_window(w);
  if (target == nullptr) target = w.window;
  UINT scan = MapVirtualKeyW(key, 0);
  PostMessageW(target, WM_KEYDOWN, key, 1 | scan << 16);
  PostMessageW(target, WM_KEYUP, key, 1 | scan << 16 | 3u << 30);
  settle(w);
}

void driver_mnemonic(const driven_window& w, wchar_t letter) {
  HWND target = focus_window(w);
  if (target == nullptr) target = w.window;
  PostMessageW(target, WM_SYSCHAR, letter, 1 | 1 << 29);  // bit 29: Alt is down
  settle(w);
}

int driver_focus(const driven_window& w) {
  HWND f = focus_window(w);
  return f != nullptr ? GetDlgCtrlID(f) : 0;
}

bool driver_wait_idle(const driven_window& w, int seconds) {
  for (int i = 0; i < seconds * 10; i++) {
    if (WaitForSingleObject(w.process.hProcess, 0) == WAIT_OBJECT_0) return false;  // it ended
    settle(w);
    if (IsWindowEnabled(driver_control(w, IDC_ENCRYPT)) &&
        !IsWindowEnabled(driver_control(w, IDC_CANCEL_RUN)))
      return true;
    Sleep(50);
  }
  return false;
}

// One cell, read through a buffer in the window's process.
static std::wstring cell(const driven_window& w, HWND list, int row, int column, char* remote) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.cchTextMax = 2048;
  item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof item);
  SIZE_T moved = 0;
  HANDLE p = w.process.hProcess;
  if (!WriteProcessMemory(p, remote, &item, sizeof item, &moved)) return L"?";
  SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
  wchar_t text[2048] = L"";
  if (!ReadProcessMemory(p, remote + sizeof item, text, sizeof text - sizeof(wchar_t), &moved))
    return L"?";
  text[2047] = L'\0';
  return text;
}

std::vector<std::wstring> driver_rows(const driven_window& w) {
  std::vector<std::wstring> rows;
  HWND list = driver_control(w, IDC_LIST);
  int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  char* remote = static_cast<char*>(VirtualAllocEx(w.process.hProcess, nullptr, 8192,
                                                   MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (remote == nullptr) return rows;
  for (int row = 0; row < count; row++)
    rows.push_back(cell(w, list, row, LIST_COLUMN_FILE, remote) + L" | " +
                   cell(w, list, row, LIST_COLUMN_OUTCOME, remote) + L" | " +
                   cell(w, list, row, LIST_COLUMN_DETAILS, remote));
  VirtualFreeEx(w.process.hProcess, remote, 0, MEM_RELEASE);
  return rows;
}

int driver_progress(const driven_window& w) {
  return static_cast<int>(SendMessageW(driver_control(w, IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

// The drop's memory lies in the window's process, as the shell's would:
// its header, then the names, each ended by a zero, and a zero after the
// last.  The window releases it with DragFinish.
bool driver_drop(const driven_window& w, int id, const std::vector<std::wstring>& files) {
  std::wstring names;
  for (const std::wstring& f : files) names += f + L'\0';
  names += L'\0';
  RECT r;
  GetWindowRect(driver_control(w, id), &r);
  POINT middle = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ScreenToClient(w.window, &middle);
  DROPFILES header = {sizeof(DROPFILES), middle, FALSE, TRUE};
  std::vector<char> bytes(sizeof header + names.size() * sizeof(wchar_t));
  memcpy(bytes.data(), &header, sizeof header);
  memcpy(bytes.data() + sizeof header, names.data(), names.size() * sizeof(wchar_t));
  void* remote = VirtualAllocEx(w.process.hProcess, nullptr, bytes.size(), MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
  SIZE_T moved = 0;
  if (remote == nullptr ||
      !WriteProcessMemory(w.process.hProcess, remote, bytes.data(), bytes.size(), &moved))
    return false;
  PostMessageW(w.window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
  settle(w);
  return true;
}

void driver_repaint(const driven_window& w) {
  settle(w);
  RedrawWindow(w.window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  settle(w);
  Sleep(200);  // the display server draws what it was sent
}

std::wstring driver_clipboard() {
  std::wstring text;
  for (int i = 0; i < 50 && !OpenClipboard(nullptr); i++) Sleep(100);
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const wchar_t* place = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (place != nullptr) {
    text = place;
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

void driver_press(const driven_window& w, int id) {
  PostMessageW(driver_control(w, id), BM_CLICK, 0, 0);
}

struct dialog_request {
  DWORD process;
  HWND main, found;
};

static BOOL CALLBACK find_dialog(HWND window, LPARAM request) {
  auto* r = reinterpret_cast<dialog_request*>(request);
  wchar_t kind[64];
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == r->process && window != r->main && IsWindowVisible(window) &&
      IsWindowEnabled(window) && GetClassNameW(window, kind, 64) &&
      lstrcmpW(kind, L"#32770") == 0) {
    r->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND driver_wait_dialog(const driven_window& w, int seconds) {
  for (int i = 0; i < seconds * 10; i++) {
    dialog_request r = {w.process.dwProcessId, w.window, nullptr};
    EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&r));
    if (r.found != nullptr) {
      Sleep(300);  // its contents come just after it
      return r.found;
    }
    Sleep(100);
  }
  return nullptr;
}

bool driver_wait_gone(HWND window, int seconds) {
  for (int i = 0; i < seconds * 10 && IsWindow(window); i++) Sleep(100);
  return !IsWindow(window);
}

static BOOL CALLBACK note_class(HWND child, LPARAM classes) {
  auto* seen = reinterpret_cast<std::vector<std::wstring>*>(classes);
  wchar_t kind[64] = L"";
  GetClassNameW(child, kind, 64);
  for (const std::wstring& k : *seen)
    if (k == kind) return TRUE;
  seen->push_back(kind);
  return TRUE;
}

std::vector<std::wstring> driver_child_classes(HWND window) {
  std::vector<std::wstring> classes;
  EnumChildWindows(window, note_class, reinterpret_cast<LPARAM>(&classes));
  return classes;
}

// The text is copied into the window's process, where the list measures it.
int driver_list_text_width(const driven_window& w, const std::wstring& text) {
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HANDLE p = w.process.hProcess;
  void* remote = VirtualAllocEx(p, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote == nullptr) return -1;
  SIZE_T moved = 0;
  int width = -1;
  if (WriteProcessMemory(p, remote, text.c_str(), bytes, &moved))
    width = static_cast<int>(SendMessageW(driver_control(w, IDC_LIST), LVM_GETSTRINGWIDTHW, 0,
                                          reinterpret_cast<LPARAM>(remote)));
  VirtualFreeEx(p, remote, 0, MEM_RELEASE);
  return width;
}

int driver_list_column_width(const driven_window& w, int column) {
  return static_cast<int>(SendMessageW(driver_control(w, IDC_LIST), LVM_GETCOLUMNWIDTH, column, 0));
}

int driver_list_client_width(const driven_window& w) {
  RECT r = {};
  GetClientRect(driver_control(w, IDC_LIST), &r);
  return r.right;
}
