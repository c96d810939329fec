// The window's cases of what a Windows user expects of it.

#include "window_habits.h"

#include <windows.h>

#include <commctrl.h>

#include "../../window/window_ids.h"
#include "driver_cases.h"
#include "driver_checks.h"
#include "driver_files.h"
#include "driver_shots.h"

static bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// One press refused before any run: a single row, the same words in the
// status line, no progress (nor the last run's), and none of the folders
// made.
static void check_refused(const driven_window& w, int button, const std::wstring& said,
                          const char* what) {
  const int folders[] = {IDC_SOURCE, IDC_OUTPUT, IDC_DECRYPT_DIR};
  std::wstring absent;  // the folders named that are not there
  for (int id : folders)
    if (!exists(driver_text(w, id))) absent += driver_text(w, id) + L"\n";
  std::vector<std::wstring> rows = run(w, button);
  check(rows.size() == 1 && rows[0] == L" | not started | " + said, what, joined(rows));
  check(driver_text(w, IDC_STATUS) == said, "and said in the status line",
        driver_text(w, IDC_STATUS));
  check(driver_progress(w) == 0 && driver_text(w, IDC_CURRENT).empty(), "and no progress shown",
        driver_text(w, IDC_CURRENT));
  std::wstring made;
  for (size_t at = 0, end; (end = absent.find(L'\n', at)) != std::wstring::npos; at = end + 1)
    if (exists(absent.substr(at, end - at))) made += absent.substr(at, end - at) + L" ";
  check(made.empty(), "and no folder made", made);
}

// A source or encrypted folder that is not there is named as such before
// any run, rather than given to the tool as a file that fails.  After a
// run, whose progress the refusal clears.
void case_missing_folders(const driven_window& w) {
  const std::wstring gone = work + L"\\gone";
  fill(w, project_key, project_key);
  run(w, IDC_ENCRYPT);
  check(driver_progress(w) == 1000, "a run's progress before the refusals",
        std::to_wstring(driver_progress(w)));
  driver_set_text(w, IDC_SOURCE, gone);
  driver_set_text(w, IDC_OUTPUT, work + L"\\enc-new");
  check_refused(w, IDC_ENCRYPT, L"The source folder does not exist: " + gone,
                "Encrypt from a missing source folder is refused by name");
  check(driver_focus(w) == IDC_SOURCE, "the source field has the focus",
        std::to_wstring(driver_focus(w)));
  screenshot(w, L"missing-folder-96dpi");
  driver_set_text(w, IDC_OUTPUT, work + L"\\enc");
  check_refused(w, IDC_VERIFY, L"The source folder does not exist: " + gone,
                "Verify against a missing source folder is refused by name");
  fill(w, project_key, project_key);
  driver_set_text(w, IDC_OUTPUT, gone);
  check_refused(w, IDC_VERIFY, L"The encrypted folder does not exist: " + gone,
                "Verify of a missing encrypted folder is refused by name");
  check_refused(w, IDC_DECRYPT, L"The encrypted folder does not exist: " + gone,
                "Decrypt of a missing encrypted folder is refused by name");
  check(driver_focus(w) == IDC_OUTPUT, "the encrypted folder's field has the focus",
        std::to_wstring(driver_focus(w)));
  driver_set_text(w, IDC_OUTPUT, work + L"\\src\\a.txt");
  check_refused(w, IDC_ENCRYPT, L"The encrypted folder is a file: " + work + L"\\src\\a.txt",
                "an encrypted folder that is a file is refused");
}

// A run that fails before its summary (its key file is not there) says
// why and leaves no progress of its own or of the run before.
void case_failed_run(const driven_window& w) {
  fill(w, project_key, L"");
  run(w, IDC_VERIFY);
  check(driver_progress(w) == 1000 && driver_text(w, IDC_CURRENT) == L"5 of 5 files",
        "a run that went through keeps its last progress",
        std::to_wstring(driver_progress(w)) + L" " + driver_text(w, IDC_CURRENT));
  driver_set_text(w, IDC_KEY_FILE, work + L"\\no-key.txt");
  std::vector<std::wstring> rows = run(w, IDC_VERIFY);
  driver_set_text(w, IDC_KEY_FILE, L"");
  std::wstring status = driver_text(w, IDC_STATUS);
  check(status.find(L"no-key.txt") != std::wstring::npos, "a failed run says why",
        status + L" / " + joined(rows));
  check(driver_progress(w) == 0 && driver_text(w, IDC_CURRENT).empty(),
        "and shows no progress", driver_text(w, IDC_CURRENT));
  check(IsWindowEnabled(driver_control(w, IDC_ENCRYPT)) &&
            !IsWindowEnabled(driver_control(w, IDC_CANCEL_RUN)),
        "and the buttons are back");
}

// Every row's texts fit their columns, and the sizes of each file written
// are in sight without scrolling the list sideways.
void check_list_fits(const driven_window& w, const std::wstring& when) {
  const int margins = 12;  // the list's own space around a cell's text
  int room = driver_list_client_width(w);
  int columns[3];
  for (int c = 0; c < 3; c++) columns[c] = driver_list_column_width(w, c);
  std::wstring cut, hidden;
  int sizes_seen = 0;
  for (const std::wstring& row : driver_rows(w)) {
    size_t a = row.find(L" | "), b = row.find(L" | ", a + 3);
    std::wstring texts[3] = {row.substr(0, a), row.substr(a + 3, b - a - 3), row.substr(b + 3)};
    for (int c = 0; c < 3; c++)
      if (driver_list_text_width(w, texts[c]) + margins > columns[c]) cut += texts[c] + L"; ";
    if (texts[1] != L"written" || texts[2].find(L" -> ") == std::wstring::npos) continue;
    sizes_seen++;
    int sizes_end = columns[0] + columns[1] + driver_list_text_width(w, texts[2]);
    if (sizes_end + margins > room) hidden += texts[2] + L"; ";
  }
  check(cut.empty(), "every text of the list fits its column", when + L": " + cut);
  check(sizes_seen > 0 && hidden.empty(), "the sizes of each file written are in sight",
        when + L": " + std::to_wstring(sizes_seen) + L" " + hidden);
}

// A file whose name is long beside the short ones: the name column takes
// its width, as far as the sizes stay in sight.
void case_long_name(const driven_window& w) {
  std::wstring wide = work + L"\\wide";
  driver_remove_tree(wide);
  driver_make_folder(wide);
  driver_make_folder(wide + L"\\src");
  std::wstring folder = wide + L"\\src\\a folder of some length";
  driver_make_folder(folder);
  check(driver_make_file(wide + L"\\src\\a.txt", "short\n") &&
            driver_make_file(folder + L"\\and a file in it, named at length.txt", "long\n"),
        "the files with a long name made");
  fill(w, project_key, project_key);
  driver_set_text(w, IDC_SOURCE, wide + L"\\src");
  driver_set_text(w, IDC_OUTPUT, wide + L"\\enc");
  std::vector<std::wstring> rows = run(w, IDC_ENCRYPT);
  check(rows.size() == 2 && count_containing(rows, L" | written | ") == 2,
        "the files with a long name written", joined(rows));
  check_list_fits(w, L"a long name");
  screenshot(w, L"long-name-96dpi");
  driver_remove_tree(wide);
}

void check_cancelled(const driven_window& w, const std::wstring& folder, const std::wstring& dpi) {
  int written = 0;
  for (const std::wstring& name : driver_list_files(folder))
    written += name.size() > 4 && name.compare(name.size() - 4, 4, L".dat") == 0;
  std::wstring status = driver_text(w, IDC_STATUS);
  check(status == L"Cancelled: " + std::to_wstring(written) + L" of 3 files written." &&
            written < 3,
        "a cancelled run says how many files of how many it wrote",
        status + L" / " + std::to_wstring(written));
  check(driver_progress(w) == 0, "and its bar is cleared", std::to_wstring(driver_progress(w)));
  check(driver_text(w, IDC_CURRENT).empty(), "and its progress line too",
        driver_text(w, IDC_CURRENT));
  screenshot(w, L"cancelled-" + dpi);
}

static BOOL CALLBACK first_edit(HWND child, LPARAM out) {
  wchar_t kind[32] = L"";
  GetClassNameW(child, kind, 32);
  if (lstrcmpiW(kind, L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
  *reinterpret_cast<HWND*>(out) = child;
  return FALSE;
}

// The visible edit field of a dialog that holds a name, or null.
static HWND name_field(HWND dialog) {
  HWND found = nullptr;
  EnumChildWindows(dialog, first_edit, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Opens the source folder's picker; null when none came.
static HWND open_picker(const driven_window& w) {
  driver_press(w, IDC_SOURCE_BROWSE);
  return driver_wait_dialog(w, 60);
}

// Browse opens the system's folder picker, titled for its field, at the
// field's folder (or the nearest one above it that is there); the folder
// chosen goes into the field, and Cancel leaves the field as it was.
void case_folder_picker(const driven_window& w, const std::wstring& dpi) {
  driver_set_text(w, IDC_SOURCE, work + L"\\src\\gone\\deeper");
  HWND picker = open_picker(w);
  if (!check(picker != nullptr, "Browse opens a dialog")) return;
  wchar_t title[128] = L"";
  GetWindowTextW(picker, title, 128);
  check(lstrcmpW(title, L"The source folder") == 0, "the picker is titled for its field", title);
  std::wstring classes;
  bool view = false;  // the shell's view of a folder, which the folder tree has not
  for (const std::wstring& kind : driver_child_classes(picker)) {
    classes += kind + L" ";
    view |= kind == L"SHELLDLL_DefView";
  }
  HWND name = name_field(picker);
  check(view && name != nullptr, "it is the file dialog (a folder's view, a name field), not the "
        "folder tree", classes);
  shot s = driver_capture(picker);
  check(driver_colours(s) >= 8, "the picker is drawn", std::to_wstring(driver_colours(s)));
  check(driver_write_png(s, shots + L"\\folder-picker-" + dpi + L".png"), "its picture is written");
  // A name typed is taken in the folder the picker shows: the field's, or
  // here the nearest above it.
  if (name != nullptr) SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"x"));
  PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
  check(driver_wait_gone(picker, 30), "the picker closes on OK");
  check(driver_text(w, IDC_SOURCE) == work + L"\\src\\x",
        "the folder chosen goes into the field, from the folder nearest to the field's",
        driver_text(w, IDC_SOURCE));
  picker = open_picker(w);
  if (!check(picker != nullptr, "Browse opens the picker again")) return;
  PostMessageW(GetDlgItem(picker, IDCANCEL), BM_CLICK, 0, 0);
  check(driver_wait_gone(picker, 30), "the picker closes on Cancel");
  check(driver_text(w, IDC_SOURCE) == work + L"\\src\\x", "Cancel leaves the field as it was",
        driver_text(w, IDC_SOURCE));
}

// The page the shell was last given, by the driver started in place of a
// browser: one line a page, appended.
int habits_note_opened(const std::wstring& record, const std::wstring& page) {
  HANDLE f = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  std::wstring line = page + L"\n";
  DWORD written = 0;
  bool ok = WriteFile(f, line.c_str(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
                      nullptr);
  return CloseHandle(f) && ok ? 0 : 1;
}

// The shell's word for web pages: what .html is, kept as it was.
struct page_association {
  bool had;
  std::wstring kind;
};

static bool set_default_value(HKEY root, const std::wstring& key_name, const std::wstring& value) {
  HKEY key;
  if (RegCreateKeyExW(root, key_name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  bool set = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) ==
             ERROR_SUCCESS;
  RegCloseKey(key);
  return set;
}

static page_association pages_as_now() {
  page_association a = {false, L""};
  wchar_t kind[256] = L"";
  LONG size = sizeof kind;
  a.had = RegQueryValueW(HKEY_CLASSES_ROOT, L".html", kind, &size) == ERROR_SUCCESS;
  a.kind = kind;
  return a;
}

// Web pages opened as kind: "QelvDriver.Page" is this driver, started
// with --opened RECORD PAGE, which notes the page; a kind without a
// program leaves web pages with none.  False when the registry would not
// take it.
static bool pages_opened_as(const std::wstring& kind, const std::wstring& record) {
  wchar_t self[MAX_PATH * 2] = L"";
  GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --opened \"" + record + L"\" \"%1\"";
  return set_default_value(HKEY_CLASSES_ROOT, L"QelvDriver.Page\\shell\\open\\command",
                           command) &&
         set_default_value(HKEY_CLASSES_ROOT, L".html", kind);
}

static void pages_as_before(const page_association& before) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QelvDriver.Page");
  if (before.had) set_default_value(HKEY_CLASSES_ROOT, L".html", before.kind);
  else RegDeleteTreeW(HKEY_CLASSES_ROOT, L".html");
}

// The lines of the record once it has count of them; what it has after
// seconds otherwise.
static std::vector<std::wstring> pages_recorded(const std::wstring& record, size_t count,
                                                int seconds) {
  std::vector<std::wstring> lines;
  for (int i = 0; i <= seconds * 10; i++) {
    bool found = false;
    std::string bytes = driver_read_file(record, &found);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    lines.clear();
    for (size_t at = 0, end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1)
      lines.push_back(text.substr(at, end - at));
    if (lines.size() >= count) break;
    Sleep(100);
  }
  return lines;
}

static bool same_path(const std::wstring& a, const std::wstring& b) {
  wchar_t fa[MAX_PATH * 2] = L"", fb[MAX_PATH * 2] = L"";
  GetFullPathNameW(a.c_str(), MAX_PATH * 2, fa, nullptr);
  GetFullPathNameW(b.c_str(), MAX_PATH * 2, fb, nullptr);
  return lstrcmpiW(fa, fb) == 0;
}

// F1 (wherever the focus is) and the Help button hand the page beside the
// program to the shell, which opens it as the user has chosen for web
// pages (here: this driver, which notes it).  Without the page, the status
// line says where it belongs and nothing is opened.
void case_help(const driven_window& w, const std::wstring& program) {
  std::wstring page = program.substr(0, program.find_last_of(L"\\/") + 1) + L"Qelv.html";
  std::wstring record = work + L"\\pages-opened.txt";
  DeleteFileW(record.c_str());
  page_association before = pages_as_now();
  if (!check(pages_opened_as(L"QelvDriver.NoProgram", record), "web pages set to no program")) {
    pages_as_before(before);
    return;
  }
  driver_key(w, VK_F1);
  std::wstring status = driver_text(w, IDC_STATUS);
  const std::wstring no_program = L"No program is set to open web pages; the help page is ";
  check(status.compare(0, no_program.size(), no_program) == 0 &&
            same_path(status.substr(no_program.size()), page),
        "with nothing to open web pages, the status line says where the help page is", status);
  pages_opened_as(L"QelvDriver.Page", record);
  driver_mnemonic(w, L'k');
  driver_key(w, VK_F1);
  std::vector<std::wstring> pages = pages_recorded(record, 1, 60);
  check(pages.size() == 1 && same_path(pages[0], page), "F1 opens Qelv.html beside the program",
        joined(pages));
  driver_click(w, IDC_HELP_BUTTON);
  pages = pages_recorded(record, 2, 60);
  check(pages.size() == 2 && same_path(pages[1], page), "so does the Help button", joined(pages));
  std::wstring away = page + L".away";
  if (check(MoveFileW(page.c_str(), away.c_str()) != 0, "the help page moved away")) {
    driver_key(w, VK_F1);
    status = driver_text(w, IDC_STATUS);
    check(status.find(L"help page is missing") != std::wstring::npos &&
              status.find(L"Qelv.html") != std::wstring::npos,
          "without the page, the status line says where it belongs", status);
    check(pages_recorded(record, 3, 3).size() == 2, "and nothing is opened");
    MoveFileW(away.c_str(), page.c_str());
  }
  pages_as_before(before);
}

// The labels, check boxes and buttons whose text does not fit them, by
// identifier; texts are measured in the list's font, which is theirs.  The
// progress and status lines, which end in an ellipsis where they are cut,
// are left out.
static std::wstring texts_cut(const driven_window& w) {
  std::wstring cut;
  for (int id = IDC_CANCEL_RUN; id < IDC_LAST; id++) {
    HWND c = driver_control(w, id);
    wchar_t kind[32] = L"";
    if (c == nullptr || id == IDC_CURRENT || id == IDC_STATUS || !GetClassNameW(c, kind, 32))
      continue;
    bool label = lstrcmpiW(kind, L"Static") == 0, button = lstrcmpiW(kind, L"Button") == 0;
    if (!label && !button) continue;
    std::wstring text;
    for (wchar_t ch : driver_text(w, id))
      if (ch != L'&') text += ch;
    RECT r;
    GetClientRect(c, &r);
    LONG style = GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK;
    int room = r.right;
    if (button) room -= style == BS_AUTOCHECKBOX || style == BS_CHECKBOX ? r.bottom : 8;
    if (driver_list_text_width(w, text) > room) cut += std::to_wstring(id) + L" ";
  }
  return cut;
}

// Placed at size (the window keeps its least size), then drawn by itself:
// what the screen shows, with no repaint asked for.
static void check_resized(const driven_window& w, int width, int height, const std::wstring& name) {
  SetWindowPos(w.window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
  for (int i = 0; i < 4; i++) {
    driver_text(w, IDC_STATUS);  // the window's thread has taken the size
    Sleep(250);
  }
  shot s = driver_capture(w.window);
  driver_write_png(s, shots + L"\\" + name + L".png");
  std::wstring blank;
  for (int id : driver_unpainted_controls(s, w.window, IDC_SOURCE_LABEL, IDC_LAST))
    blank += std::to_wstring(id) + L" ";
  check(blank.empty(), "after a resize every control is drawn", name + L": " + blank);
  std::wstring outside;
  for (int id : driver_controls_outside(w.window, IDC_SOURCE_LABEL, IDC_LAST))
    outside += std::to_wstring(id) + L" ";
  check(outside.empty(), "and lies inside the window", name + L": " + outside);
  std::wstring cut = texts_cut(w);
  check(cut.empty(), "and every label, check box and button shows its text whole (the code "
        "page's note too)", name + L": " + cut);
}

static SIZE window_size(const driven_window& w) {
  RECT r;
  GetWindowRect(w.window, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// Smaller than the window can be, then larger (as far as the screen lets
// it), then as it was.
void case_resize(const driven_window& w, const std::wstring& dpi) {
  std::wstring note = driver_text(w, IDC_CODEPAGE_NOTE);
  check(note.find(L"code page") != std::wstring::npos &&
            note.find(L"scripts") != std::wstring::npos,
        "a line says what the code page is", note);
  SIZE before = window_size(w);
  check_resized(w, 100, 100, L"resized-least-" + dpi);
  SIZE least = window_size(w);
  check(least.cx > 100 && least.cy > 100 && least.cx < before.cx && least.cy < before.cy,
        "the window shrinks to its least size, no less",
        std::to_wstring(least.cx) + L" x " + std::to_wstring(least.cy));
  check_resized(w, before.cx * 3 / 2, before.cy * 5 / 4, L"resized-large-" + dpi);
  SIZE large = window_size(w);
  check(large.cx > least.cx && large.cy > least.cy, "and grows again",
        std::to_wstring(large.cx) + L" x " + std::to_wstring(large.cy));
  check_resized(w, before.cx, before.cy, L"resized-back-" + dpi);
}
