// The list of a run's files and the report kept beside it.

#include "window_list.h"

#include <commctrl.h>

#include <cstring>

#include "window_ids.h"

static std::wstring report;

void window_list_clear(HWND list) {
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  report.clear();
}

static void set_cell(HWND list, int row, int column, const std::wstring& text) {
  LVITEMW cell = {};
  cell.iSubItem = column;
  cell.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
}

void window_list_add(HWND list, const std::wstring& name, const std::wstring& outcome,
                     const std::wstring& details, const std::wstring& line) {
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<wchar_t*>(name.c_str());
  int row =
      static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return;
  set_cell(list, row, LIST_COLUMN_OUTCOME, outcome);
  set_cell(list, row, LIST_COLUMN_DETAILS, details);
  SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
  window_list_report(line);
}

void window_list_report(const std::wstring& line) { report += line + L"\r\n"; }

bool window_list_copy_report(HWND owner) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  size_t bytes = (report.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool done = false;
  if (memory != nullptr) {
    void* place = GlobalLock(memory);
    if (place != nullptr) {
      memcpy(place, report.c_str(), bytes);
      GlobalUnlock(memory);
      done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!done) GlobalFree(memory);
  }
  CloseClipboard();
  return done;
}
