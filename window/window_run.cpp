// A run of the window: the tool's own run (cli_run_request), asked for by
// a request built from the window's fields and worked on a thread of its
// own so that the window keeps answering.  The run's face posts each item,
// the progress, what the tool says and the closing line to the window as
// messages.  The typed key reaches the run as characters, in this process
// only, and every copy is wiped once the run has ended.

#include "window_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "../cli/cli.h"
#include "../cli/cli_inputs.h"
#include "../cli/cli_key.h"
#include "../cli/cli_print.h"
#include "../cli/cli_run.h"
#include "window_state.h"
#include "window_text.h"

// The run and what it works on, kept for its length (the request's
// options point into these strings), in the window's state.
struct run_state {
  std::thread worker;
  volatile LONG going;
  HWND target;
  window_action action;
  cli_run run;
  std::vector<std::string> files;
  std::string out_dir, input_dir, key_file;
  std::vector<uint32_t> key_points;
  cli_request request;
  cli_face face;  // its context is this state
};

// The typed key's characters for the run; every copy the window held is
// wiped.  False when it is longer than a key can be.
static bool key_points_of(std::wstring* key, std::vector<uint32_t>* points) {
  points->assign(CLI_KEY_CAPACITY, 0);
  size_t count = 0;
  bool fits = true;
  for (size_t i = 0; i < key->size(); i++) {
    uint32_t c = (*key)[i];
    // A pair of surrogates is one character.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < key->size() && (*key)[i + 1] >= 0xDC00 &&
        (*key)[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + ((*key)[++i] - 0xDC00);
    if (count == CLI_KEY_CAPACITY) fits = false;
    else (*points)[count++] = c;
  }
  points->resize(count);  // within the capacity: the characters stay where they were put
  SecureZeroMemory(key->data(), key->size() * sizeof(wchar_t));
  key->clear();
  return fits;
}

static void key_points_wipe(std::vector<uint32_t>* points) {
  if (!points->empty()) SecureZeroMemory(points->data(), points->size() * sizeof(uint32_t));
  points->clear();
}

// An event to the window, which deletes it; when the window is gone, so
// is its reader.
template <class event_type>
static void post(void* context, UINT message, event_type* event) {
  HWND target = static_cast<run_state*>(context)->target;
  if (!PostMessageW(target, message, 0, reinterpret_cast<LPARAM>(event))) delete event;
}

static run_item_kind kind_of(const cli_item& item) {
  switch (item.outcome) {
    case OUTCOME_CURRENT: return ITEM_CURRENT;
    case OUTCOME_SKIPPED: return ITEM_SKIPPED;
    case OUTCOME_FAILED: return ITEM_FAILED;
    case OUTCOME_DELETED: return ITEM_DELETED;
    default: return ITEM_WRITTEN;
  }
}

static const wchar_t* outcome_word(run_item_kind kind, bool verify) {
  switch (kind) {
    case ITEM_CURRENT: return L"up to date";
    case ITEM_SKIPPED: return L"skipped";
    case ITEM_FAILED: return L"failed";
    case ITEM_DELETED: return L"deleted";
    default: return verify ? L"checks out" : L"written";
  }
}

// The details: the reason of a skip or a failure; for a file written, its
// sizes and time (its output is its name in the folder written into, and
// the report has it whole); else the console's line after the file's name.
static std::wstring details_of(const cli_item& item, const std::string& line_text) {
  const char* line = line_text.c_str();
  if (!item.reason.empty() && item.outcome != OUTCOME_OK) return window_wide(item.reason.c_str());
  if (item.outcome == OUTCOME_OK && item.has_output()) {
    std::string text = cli_size_text(item.size) + " -> " + cli_size_text(item.output_size) +
                       cli_format(", %.3f s", item.seconds);
    return window_wide(text.c_str());
  }
  size_t shown = item.shown.size();
  const char* rest = strncmp(line, item.shown.c_str(), shown) == 0 ? line + shown : line;
  while (*rest == ':' || *rest == ' ') rest++;
  return window_wide(rest);
}

static bool face_item(void* context, const cli_item& item, const std::string& line, bool) {
  auto* e = new run_item_event;
  e->kind = kind_of(item);
  const char* name = item.shown.c_str();
  if (item.relative_at > 0 && item.relative_at < static_cast<int>(item.path.size()))
    name = item.path.c_str() + item.relative_at;
  e->name = window_wide(name);
  bool verify = static_cast<run_state*>(context)->action == ACTION_VERIFY;
  e->outcome = outcome_word(e->kind, verify);
  e->details = details_of(item, line);
  e->line = window_wide(line.c_str());
  if (e->line.empty()) e->line = e->name + L": " + e->outcome;
  post(context, WM_RUN_ITEM, e);
  return true;
}

static void face_progress(void* context, const cli_progress_view& v) {
  auto* e = new run_progress_event{v.done, v.count, v.worked, v.total, v.seconds_left, L""};
  if (v.current != nullptr) e->current = window_wide(v.current);
  post(context, WM_RUN_PROGRESS, e);
}

// Lines of the tool lose their "qelv: " prefix; the window has its name.
static std::wstring without_prefix(const std::string& line) {
  const char* text = line.c_str();
  if (strncmp(text, "qelv: ", 6) == 0) text += 6;
  return window_wide(text);
}

static void face_closing(void* context, const std::string& line, bool stopped, bool) {
  post(context, WM_RUN_CLOSING, new run_text_event{without_prefix(line), stopped});
}

// What the tool says beside the items: usage errors and notes.
static void face_say(void* context, cli_said, const std::string& text) {
  post(context, WM_RUN_NOTE, new run_text_event{without_prefix(text), false});
}

// The request of the window's fields, as the tool's options would give
// it: encrypt -u -r -d OUTPUT SOURCES (with --delete as asked), verify -r
// OUTPUT (--input-dir SOURCE), or decrypt -u -r -d DECRYPT-FOLDER OUTPUT,
// with the key file or the typed key's characters and the scripts' code
// page.
static void request_of(const window_request& r, run_state* s) {
  const cli_command command = r.action == ACTION_ENCRYPT   ? CMD_ENCRYPT
                              : r.action == ACTION_VERIFY ? CMD_VERIFY
                                                          : CMD_DECRYPT;
  cli_options o = cli_options_for(command);
  o.recursive = true;
  o.update = r.action != ACTION_VERIFY;
  o.delete_orphans = r.action == ACTION_ENCRYPT && r.delete_orphans;
  o.key_codepage = r.codepage;
  s->files = r.action == ACTION_ENCRYPT ? r.sources : std::vector<std::string>{r.output};
  s->out_dir = r.action == ACTION_ENCRYPT ? r.output : r.decrypt_dir;
  s->input_dir = r.input_dir;
  s->key_file = r.key_file;
  if (r.action != ACTION_VERIFY) o.out_dir = s->out_dir.c_str();
  if (!s->input_dir.empty()) o.input_dir = s->input_dir.c_str();
  if (!s->key_file.empty()) {
    o.key_file = s->key_file.c_str();
    o.key_sources = 1;
  }
  for (const std::string& file : s->files) o.files.push_back(file.c_str());
  s->request = {o, s->key_file.empty() ? s->key_points.data() : nullptr,
                static_cast<int>(s->key_points.size()), nullptr, nullptr};
}

bool window_run_start(HWND window, window_request* request) {
  window_state* w = window_state_of(window);
  if (w->run == nullptr) w->run = new run_state();
  run_state* s = w->run;
  if (InterlockedCompareExchange(&s->going, 1, 0) != 0) return false;
  if (s->worker.joinable()) s->worker.join();
  s->target = window;
  s->action = request->action;
  s->face = {s, "cancelled", face_item, face_progress, face_say, face_closing, nullptr};
  key_points_wipe(&s->key_points);
  if (request->key_file.empty() && !key_points_of(&request->key, &s->key_points)) {
    key_points_wipe(&s->key_points);
    InterlockedExchange(&s->going, 0);
    return false;
  }
  request_of(*request, s);
  s->worker = std::thread([s]() {
    int status = cli_run_request(&s->run, s->request, s->face);
    key_points_wipe(&s->key_points);
    InterlockedExchange(&s->going, 0);
    PostMessageW(s->target, WM_RUN_DONE, static_cast<WPARAM>(status), 0);
  });
  return true;
}

bool window_run_cancel(HWND window) {
  if (!window_run_going(window)) return true;
  return cli_run_stop(&window_state_of(window)->run->run, 130);
}

bool window_run_going(HWND window) {
  run_state* s = window_state_of(window)->run;
  return s != nullptr && InterlockedCompareExchange(&s->going, 0, 0) != 0;
}

void window_run_end(HWND window) {
  window_state* w = window_state_of(window);
  if (w->run == nullptr) return;
  if (w->run->worker.joinable()) w->run->worker.join();
  delete w->run;
  w->run = nullptr;
}
