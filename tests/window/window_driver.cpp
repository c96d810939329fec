// The window's test, run as a person would use it: qelvw.exe started, its
// fields filled, its buttons pressed and its keys typed, the list, the
// status line and the clipboard read, the files on disk checked; and
// screenshots of it at 96 and 144 DPI, idle, running and finished.
//   window_driver.exe QELVW.EXE WORK-FOLDER SHOTS-FOLDER
// WORK-FOLDER is emptied and filled with the cases' files.

#include <windows.h>

#include <cstdio>

#include "../../window/window_ids.h"
#include "driver_cases.h"
#include "driver_checks.h"
#include "driver_files.h"
#include "driver_shots.h"
#include "driver_window.h"
#include "window_habits.h"

std::wstring work, shots;
const wchar_t project_key[] = L"project clé";  // é: the scripts' code page spells it

// The project: five files in two folders, one of three pieces.
static const wchar_t* const project_files[] = {L"a.txt", L"b.lua", L"x\\c.txt", L"x\\d.bin",
                                               L"x\\y\\e.dat.txt"};

static std::string content(int i) {
  std::string bytes = "file " + std::to_string(i) + "\n";
  if (i == 3) bytes.append(3 * 1024 * 1024 + 5, static_cast<char>(0x5A));
  return bytes;
}

void make_project() {
  driver_remove_tree(work);
  driver_make_folder(work);
  driver_make_folder(work + L"\\src");
  driver_make_folder(work + L"\\src\\x");
  driver_make_folder(work + L"\\src\\x\\y");
  for (int i = 0; i < 5; i++)
    check(driver_make_file(work + L"\\src\\" + project_files[i], content(i)), "project file made");
}

static int temp_files(const std::wstring& folder) {
  int n = 0;
  for (const std::wstring& name : driver_list_files(folder))
    n += name.find(L"~qelv-") != std::wstring::npos;
  return n;
}

void fill(const driven_window& w, const std::wstring& key, const std::wstring& again) {
  driver_set_text(w, IDC_SOURCE, work + L"\\src");
  driver_set_text(w, IDC_OUTPUT, work + L"\\enc");
  driver_set_text(w, IDC_DECRYPT_DIR, work + L"\\dec");
  driver_set_text(w, IDC_KEY, key);
  driver_set_text(w, IDC_KEY_AGAIN, again);
  driver_set_text(w, IDC_KEY_FILE, L"");
}

std::vector<std::wstring> run(const driven_window& w, int button) {
  driver_click(w, button);
  check(driver_wait_idle(w, 300), "the run ends within 5 minutes");
  return driver_rows(w);
}

// Tab order, mnemonics, the masked key and its Show toggle, the title.
static void case_keyboard(const driven_window& w) {
  const int order[] = {IDC_SOURCE, IDC_SOURCE_BROWSE, IDC_OUTPUT, IDC_OUTPUT_BROWSE,
                       IDC_DECRYPT_DIR, IDC_DECRYPT_BROWSE, IDC_KEY, IDC_KEY_AGAIN, IDC_SHOW_KEY,
                       IDC_KEY_FILE, IDC_KEY_FILE_BROWSE, IDC_CODEPAGE, IDC_DELETE, IDC_ENCRYPT,
                       IDC_VERIFY, IDC_DECRYPT, IDC_COPY_REPORT, IDC_HELP_BUTTON, IDC_LIST};
  HWND at = driver_control(w, order[0]);
  std::wstring seen;
  bool in_order = true;
  for (size_t i = 1; i < sizeof order / sizeof order[0]; i++) {
    at = GetNextDlgTabItem(w.window, at, FALSE);
    int id = at != nullptr ? GetDlgCtrlID(at) : 0;
    if (id == 1001) id = IDC_CODEPAGE;  // the combo box's own edit field
    seen += std::to_wstring(id) + L" ";
    in_order &= id == order[i];
  }
  check(in_order, "Tab goes through the fields, the buttons and the list in order", seen);
  driver_mnemonic(w, L'k');
  check(driver_focus(w) == IDC_KEY, "Alt+K reaches the key field",
        std::to_wstring(driver_focus(w)));
  driver_mnemonic(w, L'e');
  check(driver_focus(w) == IDC_OUTPUT, "Alt+E reaches the encrypted folder",
        std::to_wstring(driver_focus(w)));
  HWND key = driver_control(w, IDC_KEY);
  check(SendMessageW(key, EM_GETPASSWORDCHAR, 0, 0) != 0, "the key is masked");
  driver_click(w, IDC_SHOW_KEY);
  check(SendMessageW(key, EM_GETPASSWORDCHAR, 0, 0) == 0, "Show shows the key");
  driver_click(w, IDC_SHOW_KEY);
  check(SendMessageW(key, EM_GETPASSWORDCHAR, 0, 0) != 0, "Show again masks it");
  check(!IsWindowEnabled(driver_control(w, IDC_CANCEL_RUN)), "Cancel is off while idle");
}

// The two keys typed differently: no run, a word in the list and the status.
static void case_keys_differ(const driven_window& w) {
  fill(w, project_key, L"project cle");
  std::vector<std::wstring> rows = run(w, IDC_ENCRYPT);
  check(rows.size() == 1 && count_containing(rows, L"keys differ") == 1,
        "keys that differ are said in the list", joined(rows));
  check(driver_text(w, IDC_STATUS).find(L"keys differ") != std::wstring::npos,
        "and in the status line", driver_text(w, IDC_STATUS));
  check(driver_list_files(work + L"\\enc").empty(), "and nothing is written");
  check(driver_focus(w) == IDC_KEY_AGAIN, "the second key field has the focus");
}

// A fresh project encrypted (by Enter, the default button), then again.
static void case_encrypt_twice(const driven_window& w) {
  fill(w, project_key, project_key);
  driver_mnemonic(w, L'k');
  driver_key(w, VK_RETURN);
  check(driver_wait_idle(w, 300), "the run Enter started ends");
  std::vector<std::wstring> rows = driver_rows(w);
  check(rows.size() == 5 && count_containing(rows, L" | written | ") == 5,
        "a fresh project: five files written", joined(rows));
  check(count_containing(rows, L"x\\d.bin | written | 3.1 MB -> 3.1 MB, ") == 1 &&
            count_containing(rows, L"a.txt | written | 7 bytes -> 31 bytes, ") == 1,
        "the details of a file written: its sizes", joined(rows));
  check_list_fits(w, L"a fresh project encrypted");
  screenshot(w, L"encrypted-96dpi");
  std::vector<std::wstring> outputs = driver_list_files(work + L"\\enc");
  check(outputs.size() == 5 && outputs[2] == L"x\\c.txt.dat", "five outputs in the tree",
        joined(outputs));
  std::wstring status = driver_text(w, IDC_STATUS);
  check(status == L"5 files: 5 written", "the summary line", status);
  rows = run(w, IDC_ENCRYPT);
  check(rows.size() == 5 && count_containing(rows, L" | up to date | ") == 5,
        "run again: all up to date", joined(rows));
  status = driver_text(w, IDC_STATUS);
  check(status == L"5 files: 5 up to date", "its summary line", status);
}

// One file changed: only it is written again.
static void case_changed(const driven_window& w) {
  bool found = false;
  std::string before = driver_read_file(work + L"\\enc\\x\\c.txt.dat", &found);
  driver_make_file(work + L"\\src\\x\\c.txt", "changed\n");
  std::vector<std::wstring> rows = run(w, IDC_ENCRYPT);
  check(count_containing(rows, L" | written | ") == 1 &&
            count_containing(rows, L"c.txt | written") == 1 &&
            count_containing(rows, L" | up to date | ") == 4,
        "a changed file is written again, the others up to date", joined(rows));
  std::string after = driver_read_file(work + L"\\enc\\x\\c.txt.dat", &found);
  check(found && after != before && after.size() == 23 + 8, "its output is new");
}

// Verify under a wrong key lists each failure.
static void case_verify_wrong_key(const driven_window& w) {
  fill(w, L"wrong key", L"");
  std::vector<std::wstring> rows = run(w, IDC_VERIFY);
  check(rows.size() == 5 && count_containing(rows, L" | failed | ") == 5,
        "Verify with a wrong key: each file failed", joined(rows));
  std::wstring status = driver_text(w, IDC_STATUS);
  check(status == L"5 files: 5 failed; every file failed the check under this key: the key is "
                  L"the likely cause",
        "its summary line names the key, once", status);
  fill(w, project_key, L"");
  rows = run(w, IDC_VERIFY);
  check(rows.size() == 5 && count_containing(rows, L" | checks out | ") == 5,
        "Verify with the key: each file checks out", joined(rows));
}

// Decrypt into a folder of its own reproduces the sources; into the
// sources it is refused.
static void case_decrypt(const driven_window& w) {
  fill(w, project_key, L"");
  driver_set_text(w, IDC_DECRYPT_DIR, work + L"\\src\\x");
  std::vector<std::wstring> rows = run(w, IDC_DECRYPT);
  check(rows.size() == 1 && count_containing(rows, L"folder of its own") == 1,
        "Decrypt into the sources is refused", joined(rows));
  driver_set_text(w, IDC_DECRYPT_DIR, work + L"\\dec");
  rows = run(w, IDC_DECRYPT);
  check(rows.size() == 5 && count_containing(rows, L" | written | ") == 5,
        "Decrypt writes five files", joined(rows));
  std::vector<std::wstring> names = driver_list_files(work + L"\\dec");
  check(names == driver_list_files(work + L"\\src"), "the same names as the sources",
        joined(names));
  for (const std::wstring& name : names) {
    bool a = false, b = false;
    bool same = driver_read_file(work + L"\\dec\\" + name, &a) ==
                driver_read_file(work + L"\\src\\" + name, &b);
    check(a && b && same, "decrypted byte for byte", name);
  }
  // Decrypt needs no sources: a source folder that is gone does not stop it.
  driver_set_text(w, IDC_SOURCE, work + L"\\gone");
  driver_set_text(w, IDC_DECRYPT_DIR, work + L"\\dec2");
  rows = run(w, IDC_DECRYPT);
  check(rows.size() == 5 && count_containing(rows, L" | written | ") == 5,
        "Decrypt runs with the source folder gone", joined(rows));
  driver_remove_tree(work + L"\\dec2");
}

// Copy report: the console's lines; the remembered folders, and no key.
static void case_report_and_memory(const driven_window& w) {
  driver_click(w, IDC_COPY_REPORT);
  std::wstring report = driver_clipboard();
  check(report.find(L"5 files: 5 written") != std::wstring::npos &&
            report.find(L"c.txt -> ") != std::wstring::npos,
        "the report holds each file's line and the summary", report);
  check(report.find(L"clé") == std::wstring::npos, "and not the key");
  wchar_t title[256] = L"";
  GetWindowTextW(w.window, title, 256);
  check(std::wstring(title).find(L"clé") == std::wstring::npos, "the title holds no key", title);
  HKEY key;
  bool opened = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Qelv\\Window", 0, KEY_READ, &key) ==
                ERROR_SUCCESS;
  check(opened, "the folders are remembered");
  if (!opened) return;
  DWORD values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  wchar_t source[1024] = L"";
  DWORD size = sizeof source - sizeof(wchar_t);
  RegQueryValueExW(key, L"Source", nullptr, nullptr, reinterpret_cast<BYTE*>(source), &size);
  RegCloseKey(key);
  check(values == 2, "two values remembered, the two folders", std::to_wstring(values));
  check(work + L"\\src" == source, "the source folder among them", source);
}

// A key file in UTF-8 stands for the typed key; a code page that cannot
// spell the key stops the run with a word in the list and the status.
static void case_key_file_and_codepage(const driven_window& w) {
  fill(w, L"", L"");
  driver_make_file(work + L"\\key.txt", "project cl\xC3\xA9\r\n");  // UTF-8, a Windows line end
  driver_set_text(w, IDC_KEY_FILE, work + L"\\key.txt");
  std::vector<std::wstring> rows = run(w, IDC_VERIFY);
  check(rows.size() == 5 && count_containing(rows, L" | checks out | ") == 5,
        "Verify with the key in a key file", joined(rows));
  driver_set_text(w, IDC_KEY_FILE, L"");
  fill(w, project_key, L"");
  driver_set_text(w, IDC_CODEPAGE, L"1251");
  rows = run(w, IDC_VERIFY);
  check(rows.size() == 1 && count_containing(rows, L"not in code page 1251") == 1,
        "a key the code page cannot spell: said in the list", joined(rows));
  check(driver_text(w, IDC_STATUS).find(L"code page 1251") != std::wstring::npos,
        "and in the status line", driver_text(w, IDC_STATUS));
  driver_set_text(w, IDC_CODEPAGE, L"1252 Western European");
}

// An encrypted file whose source is gone fails the step, and with Delete
// ticked it is removed.
static void case_delete(const driven_window& w) {
  fill(w, project_key, project_key);
  DeleteFileW((work + L"\\src\\b.lua").c_str());
  std::vector<std::wstring> rows = run(w, IDC_ENCRYPT);
  check(count_containing(rows, L"b.lua.dat | failed | no input") == 1,
        "an output without its source fails", joined(rows));
  driver_check(w, IDC_DELETE, true);
  rows = run(w, IDC_ENCRYPT);
  driver_check(w, IDC_DELETE, false);
  check(count_containing(rows, L"b.lua.dat | deleted | ") == 1, "with Delete it is removed",
        joined(rows));
  bool found = true;
  driver_read_file(work + L"\\enc\\b.lua.dat", &found);
  check(!found, "and is gone from the disk");
  driver_make_file(work + L"\\src\\b.lua", content(1));
}

// Files dropped on the window: the source field lists them, and Encrypt
// takes those alone.
static void case_drop(const driven_window& w) {
  fill(w, project_key, project_key);
  driver_set_text(w, IDC_OUTPUT, work + L"\\dropped");
  std::vector<std::wstring> files = {work + L"\\src\\a.txt", work + L"\\src\\x\\c.txt"};
  check(driver_drop(w, IDC_SOURCE, files), "files dropped on the source field");
  std::wstring shown = driver_text(w, IDC_SOURCE);
  check(shown == files[0] + L"; " + files[1], "the source field lists them", shown);
  std::vector<std::wstring> rows = run(w, IDC_ENCRYPT);
  std::vector<std::wstring> outputs = driver_list_files(work + L"\\dropped");
  check(rows.size() == 2 && outputs.size() == 2 && outputs[0] == L"a.txt.dat" &&
            outputs[1] == L"c.txt.dat",
        "Encrypt takes the dropped files alone", joined(rows) + L"/ " + joined(outputs));
  check(driver_drop(w, IDC_OUTPUT, {work + L"\\enc"}) &&
            driver_text(w, IDC_OUTPUT) == work + L"\\enc",
        "a folder dropped on the encrypted folder's field goes there", driver_text(w, IDC_OUTPUT));
}

void screenshot(const driven_window& w, const std::wstring& name) {
  driver_repaint(w);
  shot s = driver_capture(w.window);
  int colours = driver_colours(s);
  check(colours >= 8, "the screenshot is not blank", name + L": " + std::to_wstring(colours));
  check(driver_write_png(s, shots + L"\\" + name + L".png"), "the screenshot is written", name);
  std::vector<int> unpainted = driver_unpainted_controls(s, w.window, IDC_SOURCE_LABEL, IDC_LAST);
  std::wstring blank;
  for (int id : unpainted) blank += std::to_wstring(id) + L" ";
  check(unpainted.empty(), "every control shows in the screenshot", name + L": " + blank);
  std::vector<int> outside = driver_controls_outside(w.window, IDC_SOURCE_LABEL, IDC_LAST);
  std::wstring ids;
  for (int id : outside) ids += std::to_wstring(id) + L" ";
  check(outside.empty(), "every control lies inside the window", name + L": " + ids);
}

// Two small files and one of 1 GiB (c.bin) in big\\src, and Encrypt pressed
// for them; returns big once the run is in the middle of c.bin.
static std::wstring start_big_run(const driven_window& w) {
  std::wstring big = work + L"\\big";
  driver_remove_tree(big);
  driver_make_folder(big);
  driver_make_folder(big + L"\\src");
  check(driver_make_file(big + L"\\src\\a.txt", "small one\n") &&
            driver_make_file(big + L"\\src\\b.txt", "small two\n") &&
            driver_make_large_file(big + L"\\src\\c.bin", int64_t{1} << 30),
        "the large project made");
  driver_set_text(w, IDC_SOURCE, big + L"\\src");
  driver_set_text(w, IDC_OUTPUT, big + L"\\enc");
  driver_set_text(w, IDC_KEY, project_key);
  driver_set_text(w, IDC_KEY_AGAIN, project_key);
  driver_click(w, IDC_ENCRYPT);
  int position = 0;
  for (int i = 0; i < 600 && (position = driver_progress(w)) < 20; i++) Sleep(50);
  check(position >= 20 && position < 1000, "the run is under way",
        std::to_wstring(position) + L" " + driver_text(w, IDC_CURRENT));
  check(driver_text(w, IDC_CURRENT).find(L"c.bin") != std::wstring::npos,
        "the current file is shown", driver_text(w, IDC_CURRENT));
  return big;
}

// Cancel in the middle of a 1 GiB file: no temporary file left, and the
// count said is the count written.
static void case_cancel(const driven_window& w, const std::wstring& dpi) {
  std::wstring big = start_big_run(w);
  screenshot(w, L"running-" + dpi);
  driver_key(w, VK_ESCAPE);
  check(driver_wait_idle(w, 120), "Esc stops the run");
  check(temp_files(big) == 0, "no temporary file is left", joined(driver_list_files(big)));
  check_cancelled(w, big + L"\\enc", dpi);
  DeleteFileW((big + L"\\src\\c.bin").c_str());
}

// The window closed in the middle of a run: the run stops, the window goes
// once it has, and the program ends of itself with no temporary file
// left and no part of the large file's output.
static void case_close_running(driven_window* w) {
  std::wstring big = start_big_run(*w);
  DWORD status = 1;
  check(driver_close(w, &status) && status == 0,
        "the window closed during a run ends the program once the run has stopped",
        std::to_wstring(status));
  check(temp_files(big) == 0, "no temporary file is left", joined(driver_list_files(big)));
  std::vector<std::wstring> outputs = driver_list_files(big + L"\\enc");
  bool large_written = false;
  for (const std::wstring& name : outputs) large_written |= name.find(L"c.bin") == 0;
  check(!large_written, "and the large file was not written", joined(outputs));
  DeleteFileW((big + L"\\src\\c.bin").c_str());
}

// The window at a DPI, running (then cancelled) and finished.
static void pictures(const driven_window& w, const std::wstring& dpi) {
  case_cancel(w, dpi);
  fill(w, project_key, project_key);
  std::vector<std::wstring> rows = run(w, IDC_VERIFY);
  check(rows.size() == 5, "a finished run for the picture", joined(rows));
  screenshot(w, L"finished-" + dpi);
}

// The display's DPI for the programs started from now on, as the system
// keeps it for the user; the value before, or 0 for none.
static DWORD set_dpi(DWORD dpi) {
  HKEY key;
  DWORD before = 0, size = sizeof before;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                      KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return 0;
  if (RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&before),
                       &size) != ERROR_SUCCESS)
    before = 0;
  if (dpi == 0) RegDeleteValueW(key, L"LogPixels");
  else RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dpi), sizeof dpi);
  RegCloseKey(key);
  return before;
}

static int window_width(const driven_window& w) {
  RECT r;
  GetWindowRect(w.window, &r);
  return r.right - r.left;
}

// The cases at 96 DPI; returns the window's width there.
static int at_96(const std::wstring& program) {
  driven_window w;
  if (!check(driver_start(program, &w), "qelvw.exe starts and shows its window")) return 0;
  make_project();
  fill(w, project_key, project_key);
  screenshot(w, L"idle-96dpi");
  case_keyboard(w);
  case_keys_differ(w);
  case_encrypt_twice(w);
  case_changed(w);
  case_missing_folders(w);
  case_verify_wrong_key(w);
  case_failed_run(w);
  case_decrypt(w);
  case_key_file_and_codepage(w);
  case_delete(w);
  case_drop(w);
  case_long_name(w);
  fill(w, project_key, project_key);
  driver_remove_tree(work + L"\\enc");
  run(w, IDC_ENCRYPT);  // a whole run again, for the report
  case_report_and_memory(w);
  pictures(w, L"96dpi");
  case_folder_picker(w, L"96dpi");
  case_help(w, program);
  case_resize(w, L"96dpi");
  int width = window_width(w);
  check(driver_close(&w), "the window closes");
  return width;
}

int wmain(int argc, wchar_t** argv) {
  // Started by the shell for a web page (case_help).
  if (argc == 4 && lstrcmpW(argv[1], L"--opened") == 0) return habits_note_opened(argv[2], argv[3]);
  if (argc != 4) {
    printf("usage: window_driver QELVW.EXE WORK-FOLDER SHOTS-FOLDER\n");
    return 2;
  }
  work = argv[2];
  shots = argv[3];
  for (std::wstring* path : {&work, &shots})
    for (wchar_t& c : *path)
      if (c == L'/') c = L'\\';
  driver_make_folder(shots);
  DWORD before = set_dpi(96);
  int width_96 = at_96(argv[1]);
  set_dpi(144);
  driven_window w;
  if (check(driver_start(argv[1], &w), "qelvw.exe starts at 144 DPI")) {
    int width_144 = window_width(w);
    check(width_144 * 4 > width_96 * 5, "at 144 DPI the window is larger",
          std::to_wstring(width_96) + L" -> " + std::to_wstring(width_144));
    make_project();
    fill(w, project_key, project_key);
    screenshot(w, L"idle-144dpi");
    run(w, IDC_ENCRYPT);
    check_list_fits(w, L"at 144 DPI");
    screenshot(w, L"encrypted-144dpi");
    pictures(w, L"144dpi");
    case_resize(w, L"144dpi");
    case_close_running(&w);
  }
  set_dpi(before);
  driver_remove_tree(work);
  printf("%d checks, %d failed\n", check_count(), check_failures());
  return check_failures() == 0 ? 0 : 1;
}
