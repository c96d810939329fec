// The window's buttons and what a run shows.  The checks here are those
// only the window can make (the key typed twice, the folders filled in,
// Decrypt's folder apart from the others); everything else is the run's.

#include "window_actions.h"

#include <commctrl.h>

#include <cwchar>

#include "../runtime/runtime.h"
#include "window_folders.h"
#include "window_ids.h"
#include "window_layout.h"
#include "window_list.h"
#include "window_state.h"
#include "window_taskbar.h"
#include "window_text.h"

static void set_status(HWND window, const std::wstring& text) {
  SetWindowTextW(window_control(window, IDC_STATUS), text.c_str());
}

// A problem found before any run: said in the status line and the list,
// which no longer show the run before, nor does the progress.
static void refuse(HWND window, int focus, const std::wstring& text) {
  window_list_clear(window);
  SendMessageW(window_control(window, IDC_PROGRESS), PBM_SETPOS, 0, 0);
  SetWindowTextW(window_control(window, IDC_CURRENT), L"");
  window_list_add(window, L"", L"not started", text, text);
  set_status(window, text);
  SetFocus(window_control(window, focus));
}

static void set_running(HWND window, bool running) {
  const int actions[] = {IDC_ENCRYPT, IDC_VERIFY, IDC_DECRYPT};
  for (int id : actions) EnableWindow(window_control(window, id), !running);
  EnableWindow(window_control(window, IDC_CANCEL_RUN), running);
  if (running) SetFocus(window_control(window, IDC_CANCEL_RUN));
}

// The full form of a path, for comparing folders.
static std::wstring full_path(const std::wstring& path) {
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  std::wstring f = n > 0 && n < MAX_PATH * 2 ? std::wstring(full, n) : path;
  while (f.size() > 3 && (f.back() == L'\\' || f.back() == L'/')) f.pop_back();
  return f;
}

// True when folder is other or lies inside it.
static bool inside(const std::wstring& folder, const std::wstring& other) {
  if (other.empty()) return false;
  std::wstring a = full_path(folder), b = full_path(other);
  if (a.size() < b.size() || _wcsnicmp(a.c_str(), b.c_str(), b.size()) != 0) return false;
  return a.size() == b.size() || a[b.size()] == L'\\' || a[b.size()] == L'/' || b.back() == L'\\';
}

static unsigned chosen_codepage(HWND window) {
  std::wstring text = window_text_of(window_control(window, IDC_CODEPAGE));
  return static_cast<unsigned>(wcstoul(text.c_str(), nullptr, 10));
}

// A field's path in the ANSI code page, or a refusal.
static bool ansi_field(HWND window, int id, const wchar_t* what, std::string* out) {
  std::wstring text = window_text_of(window_control(window, id));
  if (window_ansi(text, out)) return true;
  refuse(window, id, std::wstring(what) + L" holds a character this system's code page cannot "
                                          L"spell, so the tool cannot open it: " + text);
  return false;
}

// The key fields into the request: a key file, or the typed key, twice
// for Encrypt.
static bool gather_key(HWND window, window_action action, window_request* r) {
  if (!ansi_field(window, IDC_KEY_FILE, L"The key file's name", &r->key_file)) return false;
  r->codepage = chosen_codepage(window);
  if (r->codepage == 0) {
    refuse(window, IDC_CODEPAGE, L"Give the scripts' code page as a number, such as 1252.");
    return false;
  }
  if (!r->key_file.empty()) return true;
  r->key = window_text_of(window_control(window, IDC_KEY));
  if (r->key.empty()) {
    refuse(window, IDC_KEY, L"Type the key, or give a key file.");
    return false;
  }
  if (action != ACTION_ENCRYPT) return true;
  std::wstring again = window_text_of(window_control(window, IDC_KEY_AGAIN));
  bool same = again == r->key;
  SecureZeroMemory(again.data(), again.size() * sizeof(wchar_t));
  if (!same) {
    SecureZeroMemory(r->key.data(), r->key.size() * sizeof(wchar_t));
    refuse(window, IDC_KEY_AGAIN, L"The two keys differ: type the key again in both fields.");
  }
  return same;
}

// The source field: one folder or file, or the files dropped; each must be
// there when must_exist.
static bool gather_sources(HWND window, window_request* r, bool must_exist) {
  std::wstring rest;
  std::wstring first = window_folders_sources(window, &rest);
  std::wstring all = first + L'\n' + rest;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find(L'\n', at);
    std::wstring one = all.substr(at, end - at);
    at = end + 1;
    if (one.empty()) continue;
    std::string ansi;
    if (!window_ansi(one, &ansi)) {
      refuse(window, IDC_SOURCE, L"The source holds a character this system's code page "
                                 L"cannot spell, so the tool cannot open it: " + one);
      return false;
    }
    if (must_exist && rt_path_kind_of(ansi.c_str()) == RT_PATH_NONE) {
      refuse(window, IDC_SOURCE, (rest.empty() ? L"The source folder does not exist: "
                                                : L"A file dropped is no longer there: ") + one);
      return false;
    }
    r->sources.push_back(ansi);
  }
  return true;
}

// The folders each action needs, and Decrypt's kept apart from the sources
// and the encrypted files.
static bool gather_folders(HWND window, window_action action, window_request* r) {
  if (!gather_sources(window, r, action != ACTION_DECRYPT)) return false;
  if (action == ACTION_ENCRYPT && r->sources.empty()) {
    refuse(window, IDC_SOURCE, L"Give the source folder, or drop its files here.");
    return false;
  }
  if (!ansi_field(window, IDC_OUTPUT, L"The encrypted folder", &r->output)) return false;
  if (r->output.empty()) {
    refuse(window, IDC_OUTPUT, L"Give the encrypted folder.");
    return false;
  }
  // Encrypt makes the encrypted folder; the others read it.  Anything
  // there but a folder is "a file".
  std::wstring output = window_text_of(window_control(window, IDC_OUTPUT));
  rt_path_kind output_kind = rt_path_kind_of(r->output.c_str());
  bool is_file = output_kind != RT_PATH_NONE && output_kind != RT_PATH_FOLDER;
  if (is_file || (action != ACTION_ENCRYPT && output_kind == RT_PATH_NONE)) {
    refuse(window, IDC_OUTPUT, (is_file ? L"The encrypted folder is a file: "
                                        : L"The encrypted folder does not exist: ") +
                                   output);
    return false;
  }
  if (action == ACTION_VERIFY && r->sources.size() == 1 &&
      rt_path_kind_of(r->sources[0].c_str()) == RT_PATH_FOLDER)
    r->input_dir = r->sources[0];
  if (action != ACTION_DECRYPT) return true;
  if (!ansi_field(window, IDC_DECRYPT_DIR, L"The folder to decrypt into", &r->decrypt_dir))
    return false;
  std::wstring into = window_text_of(window_control(window, IDC_DECRYPT_DIR));
  bool over_sources = false;
  for (const std::string& s : r->sources) over_sources |= inside(into, window_wide(s));
  if (into.empty() || over_sources || inside(into, output) || inside(output, into)) {
    refuse(window, IDC_DECRYPT_DIR,
           into.empty() ? L"Give the folder to decrypt into."
                        : L"Decrypt into a folder of its own: not the source folder, nor the "
                          L"encrypted folder, nor a folder inside or around them.");
    return false;
  }
  return true;
}

static const wchar_t* doing_word(window_action action) {
  return action == ACTION_ENCRYPT ? L"Encrypting..."
         : action == ACTION_VERIFY ? L"Verifying..."
                                   : L"Decrypting...";
}

void window_actions_start(HWND window, window_action action) {
  if (window_run_going(window)) return;
  window_request r = {};
  r.action = action;
  r.delete_orphans = SendMessageW(window_control(window, IDC_DELETE), BM_GETCHECK, 0, 0) ==
                     BST_CHECKED;
  if (!gather_folders(window, action, &r) || !gather_key(window, action, &r)) return;
  if (r.sources.size() == 1 && rt_path_kind_of(r.sources[0].c_str()) == RT_PATH_FOLDER)
    window_folders_remember(window_text_of(window_control(window, IDC_SOURCE)),
                            window_text_of(window_control(window, IDC_OUTPUT)));
  window_list_clear(window);
  SendMessageW(window_control(window, IDC_PROGRESS), PBM_SETPOS, 0, 0);
  SetWindowTextW(window_control(window, IDC_CURRENT), L"");
  set_status(window, doing_word(action));
  run_tally& tally = window_state_of(window)->tally;
  tally = {};
  tally.action = action;
  set_running(window, true);
  if (!window_run_start(window, &r)) {
    set_running(window, false);
    set_status(window, L"Not started: the key is longer than 1024 characters.");
  }
  SecureZeroMemory(r.key.data(), r.key.size() * sizeof(wchar_t));
}

void window_actions_cancel(HWND window) {
  if (!window_run_going(window)) return;
  set_status(window, L"Cancelling: the files being worked stop at their next piece...");
  window_state_of(window)->tally.cancel_asked = true;
  EnableWindow(window_control(window, IDC_CANCEL_RUN), FALSE);
  if (!window_run_cancel(window)) SetTimer(window, CANCEL_TIMER, 100, nullptr);
}

void window_actions_cancel_timer(HWND window) {
  if (window_run_cancel(window)) KillTimer(window, CANCEL_TIMER);
}

bool window_actions_may_close(HWND window) {
  if (!window_run_going(window)) return true;
  window_state_of(window)->close_wanted = true;
  window_actions_cancel(window);
  return false;
}

void window_actions_show_key(HWND window) {
  bool shown = SendMessageW(window_control(window, IDC_SHOW_KEY), BM_GETCHECK, 0, 0) == BST_CHECKED;
  const int fields[] = {IDC_KEY, IDC_KEY_AGAIN};
  for (int id : fields) {
    HWND f = window_control(window, id);
    SendMessageW(f, EM_SETPASSWORDCHAR, shown ? 0 : 0x25CF, 0);  // a black circle
    InvalidateRect(f, nullptr, TRUE);
  }
}

// "3 of 10 files, 12 s left: data\sound\intro.ogg".
static void show_progress(HWND window, const run_progress_event& e) {
  int position = e.total > 0 ? static_cast<int>(e.worked * 1000 / static_cast<uint64_t>(e.total))
                             : (e.count > 0 ? e.done * 1000 / e.count : 0);
  SendMessageW(window_control(window, IDC_PROGRESS), PBM_SETPOS, position > 1000 ? 1000 : position,
               0);
  window_taskbar_progress(window, e.worked, e.total > 0 ? static_cast<uint64_t>(e.total) : 0);
  wchar_t text[256];
  _snwprintf(text, 255, L"%d of %d file%ls", e.done, e.count, e.count == 1 ? L"" : L"s");
  text[255] = L'\0';
  std::wstring line = text;
  if (e.seconds_left >= 0) {
    long s = static_cast<long>(e.seconds_left + 0.5);
    _snwprintf(text, 255, s < 60 ? L", %ld s left" : L", %ld min left", s < 60 ? s : (s + 30) / 60);
    line += text;
  }
  if (!e.current.empty()) line += L": " + e.current;
  SetWindowTextW(window_control(window, IDC_CURRENT), line.c_str());
}

// "Cancelled: 3 of 5 files written, 1 up to date."
static std::wstring cancelled_text(const run_tally& tally) {
  const wchar_t* done = tally.action == ACTION_VERIFY ? L"checked" : L"written";
  int seen = tally.written + tally.current + tally.failed;
  int count = tally.count > seen ? tally.count : seen;
  wchar_t text[256];
  _snwprintf(text, 255, L"Cancelled: %d of %d file%ls %ls", tally.written, count,
             count == 1 ? L"" : L"s", done);
  text[255] = L'\0';
  std::wstring line = text;
  if (tally.current > 0) line += L", " + std::to_wstring(tally.current) + L" up to date";
  if (tally.failed > 0) line += L", " + std::to_wstring(tally.failed) + L" failed";
  return line + L".";
}

// The end of a run.  One that ran through leaves its last progress and its
// summary; one cancelled, or stopped by a problem before its summary, has
// its progress cleared and says what happened.
static void run_done(HWND window, int status) {
  const run_tally& tally = window_state_of(window)->tally;
  KillTimer(window, CANCEL_TIMER);
  set_running(window, false);
  window_taskbar_clear(window);
  bool through = tally.closing_shown && !tally.stopped;
  if (!through) {
    SendMessageW(window_control(window, IDC_PROGRESS), PBM_SETPOS, 0, 0);
    SetWindowTextW(window_control(window, IDC_CURRENT), L"");
  }
  if (tally.stopped || (tally.cancel_asked && !through)) set_status(window, cancelled_text(tally));
  else if (!tally.closing_shown && status == 0) set_status(window, L"Done: no files to work.");
  else if (!tally.closing_shown && !tally.note_shown)
    set_status(window, L"The run stopped with status " + std::to_wstring(status) + L".");
  SetFocus(window_control(window, IDC_LIST));
  if (window_state_of(window)->close_wanted) DestroyWindow(window);
}

bool window_actions_event(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message < WM_RUN_ITEM || message > WM_RUN_DONE) return false;
  run_tally& tally = window_state_of(window)->tally;
  if (message == WM_RUN_ITEM) {
    auto* e = reinterpret_cast<run_item_event*>(lparam);
    window_list_add(window, e->name, e->outcome, e->details, e->line);
    tally.written += e->kind == ITEM_WRITTEN;
    tally.current += e->kind == ITEM_CURRENT;
    tally.failed += e->kind == ITEM_FAILED;
    if (e->kind == ITEM_FAILED && !tally.closing_shown)
      set_status(window, e->name + L": " + e->details);
    delete e;
  } else if (message == WM_RUN_PROGRESS) {
    auto* e = reinterpret_cast<run_progress_event*>(lparam);
    tally.count = e->count;
    show_progress(window, *e);
    delete e;
  } else if (message == WM_RUN_CLOSING || message == WM_RUN_NOTE) {
    auto* e = reinterpret_cast<run_text_event*>(lparam);
    if (message == WM_RUN_NOTE) window_list_add(window, L"", L"note", e->text, e->text);
    else window_list_report(window, e->text);
    if (!tally.closing_shown) set_status(window, e->text);
    tally.note_shown |= message == WM_RUN_NOTE;
    tally.closing_shown |= message == WM_RUN_CLOSING;
    tally.stopped |= message == WM_RUN_CLOSING && e->stopped;
    delete e;
  } else {
    run_done(window, static_cast<int>(wparam));
  }
  return true;
}

void window_actions_copy_report(HWND window) {
  if (window_list_copy_report(window)) {
    if (!window_run_going(window)) set_status(window, L"The report is on the clipboard.");
  } else {
    set_status(window, L"The report could not be put on the clipboard.");
  }
}
