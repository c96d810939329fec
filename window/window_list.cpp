// The list of a run's files and the report kept beside it.

#include "window_list.h"

#include <commctrl.h>

#include <cstring>

#include "window_ids.h"
#include "window_state.h"

static HWND list_of(HWND window) { return GetDlgItem(window, IDC_LIST); }

static int text_width(HWND list, const wchar_t* text) {
  return static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0,
                                       reinterpret_cast<LPARAM>(text)));
}

static std::wstring cell_text(HWND list, int row, int column) {
  wchar_t text[2048] = L"";
  LVITEMW cell = {};
  cell.iSubItem = column;
  cell.pszText = text;
  cell.cchTextMax = 2048;
  SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
  return text;
}

// The headers and every row measured again: the font changed.
static void measure_all(HWND list, int widest[3]) {
  const wchar_t* titles[] = {L"File", L"Outcome", L"Details"};
  int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int c = 0; c < 3; c++) {
    widest[c] = text_width(list, titles[c]);
    for (int row = 0; row < rows; row++) {
      int w = text_width(list, cell_text(list, row, c).c_str());
      if (w > widest[c]) widest[c] = w;
    }
  }
}

// Columns as wide as their texts: the outcome whole, the file's name as far
// as it can while the details fit, and the details the rest of the width,
// or wider (the list then scrolls) where they need more.
void window_list_fit(HWND window, bool measure_again) {
  HWND list = list_of(window);
  int* widest = window_state_of(window)->widest;
  if (measure_again || widest[0] == 0) measure_all(list, widest);
  RECT client;
  GetClientRect(list, &client);
  int room = client.right;
  if ((GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) == 0) room -= GetSystemMetrics(SM_CXVSCROLL);
  int pad = text_width(list, L"MM");  // the cells' margins
  int file = widest[0] + pad, outcome = widest[1] + pad, details = widest[2] + pad;
  int file_most = room - outcome - details > room * 2 / 5 ? room - outcome - details : room * 2 / 5;
  if (file > file_most) file = file_most;
  if (details < room - file - outcome) details = room - file - outcome;
  const int widths[3] = {file, outcome, details};
  for (int c = 0; c < 3; c++)
    if (SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0) != widths[c])
      SendMessageW(list, LVM_SETCOLUMNWIDTH, c, widths[c]);
}

void window_list_clear(HWND window) {
  SendMessageW(list_of(window), LVM_DELETEALLITEMS, 0, 0);
  window_state_of(window)->report.clear();
  window_list_fit(window, true);
}

static void set_cell(HWND list, int row, int column, const std::wstring& text) {
  LVITEMW cell = {};
  cell.iSubItem = column;
  cell.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
}

void window_list_add(HWND window, const std::wstring& name, const std::wstring& outcome,
                     const std::wstring& details, const std::wstring& line) {
  HWND list = list_of(window);
  int* widest = window_state_of(window)->widest;
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<wchar_t*>(name.c_str());
  int row =
      static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return;
  set_cell(list, row, LIST_COLUMN_OUTCOME, outcome);
  set_cell(list, row, LIST_COLUMN_DETAILS, details);
  const std::wstring* texts[3] = {&name, &outcome, &details};
  bool wider = false;
  for (int c = 0; c < 3; c++) {
    int w = text_width(list, texts[c]->c_str());
    if (w > widest[c]) widest[c] = w, wider = true;
  }
  if (wider) window_list_fit(window, false);
  SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
  window_list_report(window, line);
}

void window_list_report(HWND window, const std::wstring& line) {
  window_state_of(window)->report += line + L"\r\n";
}

bool window_list_copy_report(HWND window) {
  const std::wstring& report = window_state_of(window)->report;
  if (!OpenClipboard(window)) return false;
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
