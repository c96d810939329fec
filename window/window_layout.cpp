// The window's controls and where they lie.  Sizes are in pixels at 96 DPI
// and scaled to the display's; the labels carry the mnemonics, and each
// label comes just before its field, so that Alt and the letter reach the
// field.

#include "window_layout.h"

#include <commctrl.h>

#include <initializer_list>

#include "window_ids.h"
#include "window_list.h"
#include "window_state.h"

struct control_layout {
  int id;
  const wchar_t* kind;
  const wchar_t* text;
  DWORD style;
  DWORD ex_style;
};

static const DWORD child = WS_CHILD | WS_VISIBLE;
static const DWORD edit_style = child | WS_TABSTOP | ES_AUTOHSCROLL;
static const DWORD button_style = child | WS_TABSTOP | BS_PUSHBUTTON;

// In tab order.
static const control_layout layouts[] = {
    {IDC_SOURCE_LABEL, L"STATIC", L"&Source folder:", child, 0},
    {IDC_SOURCE, L"EDIT", L"", edit_style, WS_EX_CLIENTEDGE},
    {IDC_SOURCE_BROWSE, L"BUTTON", L"Browse...", button_style, 0},
    {IDC_OUTPUT_LABEL, L"STATIC", L"&Encrypted folder:", child, 0},
    {IDC_OUTPUT, L"EDIT", L"", edit_style, WS_EX_CLIENTEDGE},
    {IDC_OUTPUT_BROWSE, L"BUTTON", L"Browse...", button_style, 0},
    {IDC_DECRYPT_LABEL, L"STATIC", L"Decrypt &into:", child, 0},
    {IDC_DECRYPT_DIR, L"EDIT", L"", edit_style, WS_EX_CLIENTEDGE},
    {IDC_DECRYPT_BROWSE, L"BUTTON", L"Browse...", button_style, 0},
    {IDC_KEY_LABEL, L"STATIC", L"&Key:", child, 0},
    {IDC_KEY, L"EDIT", L"", edit_style | ES_PASSWORD, WS_EX_CLIENTEDGE},
    {IDC_KEY_AGAIN_LABEL, L"STATIC", L"&Again:", child, 0},
    {IDC_KEY_AGAIN, L"EDIT", L"", edit_style | ES_PASSWORD, WS_EX_CLIENTEDGE},
    {IDC_SHOW_KEY, L"BUTTON", L"S&how", child | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {IDC_KEY_FILE_LABEL, L"STATIC", L"Key &file:", child, 0},
    {IDC_KEY_FILE, L"EDIT", L"", edit_style, WS_EX_CLIENTEDGE},
    {IDC_KEY_FILE_BROWSE, L"BUTTON", L"Browse...", button_style, 0},
    {IDC_CODEPAGE_LABEL, L"STATIC", L"Code &page:", child, 0},
    {IDC_CODEPAGE, L"COMBOBOX", L"", child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN, 0},
    {IDC_DELETE, L"BUTTON", L"De&lete encrypted files whose source is gone",
     child | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {IDC_CODEPAGE_NOTE, L"STATIC",
     L"The code page the project's scripts are saved in: the key is spelt in it.",
     child | SS_NOPREFIX | SS_LEFTNOWORDWRAP, 0},
    {IDC_ENCRYPT, L"BUTTON", L"Encryp&t", child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
    {IDC_VERIFY, L"BUTTON", L"&Verify", button_style, 0},
    {IDC_DECRYPT, L"BUTTON", L"&Decrypt", button_style, 0},
    {IDC_CANCEL_RUN, L"BUTTON", L"Cancel", button_style | WS_DISABLED, 0},
    {IDC_COPY_REPORT, L"BUTTON", L"Copy &report", button_style, 0},
    {IDC_HELP_BUTTON, L"BUTTON", L"Help", button_style, 0},
    {IDC_PROGRESS, PROGRESS_CLASSW, L"", child, 0},
    {IDC_CURRENT, L"STATIC", L"", child | SS_NOPREFIX | SS_ENDELLIPSIS, 0},
    {IDC_LIST, WC_LISTVIEWW, L"",
     child | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, WS_EX_CLIENTEDGE},
    {IDC_STATUS, L"STATIC", L"Ready.", child | SS_NOPREFIX | SS_ENDELLIPSIS, 0},
};

HWND window_control(HWND window, int id) { return GetDlgItem(window, id); }

static const struct {
  unsigned page;
  const wchar_t* name;
} codepages[] = {
    {1252, L"1252 Western European"}, {1250, L"1250 Central European"},
    {1251, L"1251 Cyrillic"},         {1253, L"1253 Greek"},
    {1254, L"1254 Turkish"},          {1255, L"1255 Hebrew"},
    {1256, L"1256 Arabic"},           {1257, L"1257 Baltic"},
    {1258, L"1258 Vietnamese"},       {874, L"874 Thai"},
    {932, L"932 Japanese"},           {936, L"936 Simplified Chinese"},
    {949, L"949 Korean"},             {950, L"950 Traditional Chinese"},
    {65001, L"65001 UTF-8"},
};

void window_layout_create(HWND window) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (const control_layout& s : layouts)
    CreateWindowExW(s.ex_style, s.kind, s.text, s.style, 0, 0, 10, 10, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.id)), instance, nullptr);
  HWND combo = window_control(window, IDC_CODEPAGE);
  for (const auto& c : codepages)
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(c.name));
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
  for (int id : {IDC_KEY, IDC_KEY_AGAIN})  // a black circle, on every system alike
    SendMessageW(window_control(window, id), EM_SETPASSWORDCHAR, 0x25CF, 0);
  HWND list = window_control(window, IDC_LIST);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
  const wchar_t* titles[] = {L"File", L"Outcome", L"Details"};
  for (int i = 0; i < 3; i++) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(titles[i]);
    column.cx = 100;
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  SendMessageW(window_control(window, IDC_PROGRESS), PBM_SETRANGE32, 0, 1000);
}

// The system's message font at dpi; null when it cannot be made.
static HFONT font_at(int dpi) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HDC screen = GetDC(nullptr);
  int system_dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  LOGFONTW f = metrics.lfMessageFont;
  f.lfHeight = MulDiv(f.lfHeight, dpi, system_dpi > 0 ? system_dpi : 96);
  return CreateFontIndirectW(&f);
}

// The controls' font made for dpi and given to them, when theirs is made
// for another (the first time, and after a change of DPI); the one they
// had is deleted then, as no control uses it any more.  True when they
// have a new font.
static bool give_font(HWND window, int dpi) {
  window_state* s = window_state_of(window);
  if (s->font != nullptr && s->font_dpi == dpi) return false;
  HFONT made = font_at(dpi);
  if (made == nullptr) return false;
  for (const control_layout& c : layouts)
    SendMessageW(window_control(window, c.id), WM_SETFONT, reinterpret_cast<WPARAM>(made), FALSE);
  if (s->font != nullptr) DeleteObject(s->font);
  s->font = made;
  s->font_dpi = dpi;
  return true;
}

void window_layout_end(HWND window) {
  window_state* s = window_state_of(window);
  if (s->font != nullptr) DeleteObject(s->font);
  s->font = nullptr;
}

SIZE window_layout_size(int dpi, bool least) {
  SIZE s = {MulDiv(least ? 640 : 720, dpi, 96), MulDiv(least ? 480 : 580, dpi, 96)};
  return s;
}

// Where things go, at 96 DPI.
enum {
  MARGIN = 10, GAP = 6, ROW = 24, FIELD = 23, LABEL = 118, BUTTON = 84, BUTTON_HEIGHT = 26,
  LINE = 20, BAR = 16, HELP = 64
};

struct placer {
  HWND window;
  int dpi;
  HDWP batch;
  void operator()(int id, int x, int y, int w, int h) {
    HWND c = window_control(window, id);
    if (c == nullptr) return;
    batch = DeferWindowPos(batch, c, nullptr, MulDiv(x, dpi, 96), MulDiv(y, dpi, 96),
                           MulDiv(w, dpi, 96), MulDiv(h, dpi, 96), SWP_NOZORDER | SWP_NOACTIVATE);
  }
};

// A label, a field and its Browse button on one row.
static void place_row(placer& place, int label, int field, int browse, int y, int width) {
  int field_width = width - MARGIN - LABEL - GAP - BUTTON - MARGIN;
  place(label, MARGIN, y + 4, LABEL, LINE - 4);
  place(field, MARGIN + LABEL, y, field_width, FIELD);
  place(browse, width - MARGIN - BUTTON, y - 1, BUTTON, FIELD + 2);
}

// The fields: folders, the key and its options.  Returns the y below them.
static int place_fields(placer& place, int width) {
  int y = MARGIN;
  place_row(place, IDC_SOURCE_LABEL, IDC_SOURCE, IDC_SOURCE_BROWSE, y, width);
  place_row(place, IDC_OUTPUT_LABEL, IDC_OUTPUT, IDC_OUTPUT_BROWSE, y += ROW + GAP, width);
  place_row(place, IDC_DECRYPT_LABEL, IDC_DECRYPT_DIR, IDC_DECRYPT_BROWSE, y += ROW + GAP,
            width);
  y += ROW + GAP + GAP;
  int key_room = width - MARGIN - LABEL - GAP - BUTTON - MARGIN;
  int again_label = 52;
  int key_width = (key_room - again_label - 2 * GAP) / 2;
  place(IDC_KEY_LABEL, MARGIN, y + 4, LABEL, LINE - 4);
  place(IDC_KEY, MARGIN + LABEL, y, key_width, FIELD);
  place(IDC_KEY_AGAIN_LABEL, MARGIN + LABEL + key_width + GAP, y + 4, again_label, LINE - 4);
  place(IDC_KEY_AGAIN, MARGIN + LABEL + key_width + 2 * GAP + again_label, y,
        key_room - key_width - again_label - 2 * GAP, FIELD);
  place(IDC_SHOW_KEY, width - MARGIN - BUTTON, y + 2, BUTTON, LINE);
  place_row(place, IDC_KEY_FILE_LABEL, IDC_KEY_FILE, IDC_KEY_FILE_BROWSE, y += ROW + GAP, width);
  y += ROW + GAP;
  place(IDC_CODEPAGE_LABEL, MARGIN, y + 4, LABEL, LINE - 4);
  place(IDC_CODEPAGE, MARGIN + LABEL, y, 200, 200);
  place(IDC_DELETE, MARGIN + LABEL + 200 + 2 * GAP, y + 2,
        width - MARGIN - LABEL - 200 - 2 * GAP - MARGIN, LINE);
  place(IDC_CODEPAGE_NOTE, MARGIN + LABEL + 2, y += ROW + 2, width - MARGIN - LABEL - 2 - MARGIN,
        LINE - 4);
  return y + LINE - 4 + GAP + GAP;
}

void window_layout_place(HWND window, int dpi) {
  RECT client;
  GetClientRect(window, &client);
  int width = MulDiv(client.right, 96, dpi), height = MulDiv(client.bottom, 96, dpi);
  bool new_font = give_font(window, dpi);
  placer place = {window, dpi, BeginDeferWindowPos(IDC_LAST - IDC_SOURCE_LABEL)};
  int y = place_fields(place, width);
  const int buttons[] = {IDC_ENCRYPT, IDC_VERIFY, IDC_DECRYPT, IDC_CANCEL_RUN};
  for (int i = 0; i < 4; i++)
    place(buttons[i], MARGIN + i * (BUTTON + GAP), y, BUTTON, BUTTON_HEIGHT);
  place(IDC_HELP_BUTTON, width - MARGIN - HELP, y, HELP, BUTTON_HEIGHT);
  place(IDC_COPY_REPORT, width - MARGIN - HELP - GAP - BUTTON - 16, y, BUTTON + 16, BUTTON_HEIGHT);
  y += BUTTON_HEIGHT + GAP + GAP;
  place(IDC_PROGRESS, MARGIN, y, width - 2 * MARGIN, BAR);
  place(IDC_CURRENT, MARGIN, y += BAR + GAP, width - 2 * MARGIN, LINE);
  y += LINE + GAP;
  int list_height = height - y - GAP - LINE - MARGIN;
  place(IDC_LIST, MARGIN, y, width - 2 * MARGIN, list_height > 40 ? list_height : 40);
  place(IDC_STATUS, MARGIN, height - MARGIN - LINE + 4, width - 2 * MARGIN, LINE - 4);
  EndDeferWindowPos(place.batch);
  window_list_fit(window, new_font);
  // Every control is drawn again, not only those that moved: where the
  // display does not keep a window's pixels across a resize, the others
  // would stay blank until something made them paint.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}
