// A run of the window: the tool's own command line, run by cli_main on a
// thread of its own so that the window keeps answering.  The run's face
// (cli_run_face) posts each item, the progress and the closing line to the
// window; what the tool writes to its error stream (usage messages, notes)
// comes through a pipe, line by line, as notes.  The typed key reaches the
// tool through an environment variable of this process only, read as wide
// text so that no character is lost on the way, and removed as soon as the
// run has begun.

#include "window_run.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "../cli/cli.h"
#include "../cli/cli_inputs.h"
#include "../cli/cli_key.h"
#include "../cli/cli_print.h"
#include "../cli/cli_print.h"
#include "../cli/cli_run.h"
#include "window_text.h"

static std::thread worker;
static volatile LONG going;
static HWND target;

// Hands the typed key's characters to the tool's run in this process, so
// that it passes through no environment, file or command line, and wipes
// every copy the window held.  False when it is longer than a key can be.
static bool key_hand_over(std::wstring* key) {
  static uint32_t points[CLI_KEY_CAPACITY];
  int count = 0;
  bool fits = true;
  for (size_t i = 0; i < key->size(); i++) {
    uint32_t c = (*key)[i];
    // A pair of surrogates is one character.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < key->size() && (*key)[i + 1] >= 0xDC00 &&
        (*key)[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + ((*key)[++i] - 0xDC00);
    if (count == CLI_KEY_CAPACITY) fits = false;
    else points[count++] = c;
  }
  fits = fits && cli_key_hand_over(points, count);
  SecureZeroMemory(points, sizeof points);
  SecureZeroMemory(key->data(), key->size() * sizeof(wchar_t));
  key->clear();
  return fits;
}

// An event to the window, which deletes it; when the window is gone, so
// is its reader.
template <class event_type>
static void post(UINT message, event_type* event) {
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

static window_action running_action;
// The details: the reason of a skip or a failure; for a file written, its
// sizes and time (its output is its name in the folder written into, and
// the report has it whole); else the console's line after the file's name.
static std::wstring details_of(const cli_item& item, const char* line) {
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

static void face_item(void*, const cli_item& item, const char* line) {
  auto* e = new run_item_event;
  e->kind = kind_of(item);
  const char* name = item.shown.c_str();
  if (item.relative_at > 0 && item.relative_at < static_cast<int>(item.path.size()))
    name = item.path.c_str() + item.relative_at;
  e->name = window_wide(name);
  e->outcome = outcome_word(e->kind, running_action == ACTION_VERIFY);
  e->details = details_of(item, line);
  e->line = window_wide(line[0] != '\0' ? line : "");
  if (e->line.empty()) e->line = e->name + L": " + e->outcome;
  post(WM_RUN_ITEM, e);
}

static void face_progress(void*, int done, int count, uint64_t worked, int64_t total,
                          double seconds_left, const char* current) {
  auto* e = new run_progress_event{done, count, worked, total, seconds_left, L""};
  if (current != nullptr) e->current = window_wide(current);
  post(WM_RUN_PROGRESS, e);
}

// Lines of the tool lose their "qelv: " prefix; the window has its name.
static std::wstring without_prefix(const std::string& line) {
  const char* text = line.c_str();
  if (strncmp(text, "qelv: ", 6) == 0) text += 6;
  return window_wide(text);
}

static void face_closing(void*, const char* line, bool stopped) {
  post(WM_RUN_CLOSING, new run_text_event{without_prefix(line), stopped});
}

static const cli_run_face face = {nullptr, "cancelled", face_item, face_progress, face_closing};

// The tool's error stream, line by line, until the run closes it.
static void drain(int fd) {
  std::string line;
  char buffer[4096];
  int n;
  while ((n = _read(fd, buffer, sizeof buffer)) > 0) {
    for (int i = 0; i < n; i++) {
      if (buffer[i] == '\r') continue;
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      if (!line.empty() && line != "Try 'qelv --help'.")
        post(WM_RUN_NOTE, new run_text_event{without_prefix(line), false});
      line.clear();
    }
  }
  if (!line.empty()) post(WM_RUN_NOTE, new run_text_event{without_prefix(line), false});
  _close(fd);
}

// The command line of the request, as qelv would be given it.
static std::vector<std::string> command_line(const window_request& r) {
  std::vector<std::string> a = {"qelv"};
  if (r.action == ACTION_ENCRYPT) {
    a.insert(a.end(), {"encrypt", "-u", "-r", "-d", r.output});
    if (r.delete_orphans) a.push_back("--delete");
  } else if (r.action == ACTION_VERIFY) {
    a.insert(a.end(), {"verify", "-r"});
    if (!r.input_dir.empty()) a.insert(a.end(), {"--input-dir", r.input_dir});
  } else {
    a.insert(a.end(), {"decrypt", "-u", "-r", "-d", r.decrypt_dir});
  }
  if (!r.key_file.empty()) a.insert(a.end(), {"--key-file", r.key_file});
  a.insert(a.end(), {"--key-codepage", std::to_string(r.codepage)});
  if (r.action == ACTION_ENCRYPT) a.insert(a.end(), r.sources.begin(), r.sources.end());
  else a.push_back(r.output);
  return a;
}

static int run_command(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int fds[2];
  if (_pipe(fds, 64 * 1024, _O_BINARY) != 0) return 1;
  FILE* in = fopen("NUL", "rb");
  FILE* out = fopen("NUL", "wb");
  FILE* err = _fdopen(fds[1], "wb");
  if (in == nullptr || out == nullptr || err == nullptr) return 1;
  std::thread reader(drain, fds[0]);
  cli_set_streams(in, out, err);
  cli_run_set_face(&face);
  int status = cli_main(static_cast<int>(argv.size()) - 1, argv.data());
  cli_run_set_face(nullptr);
  cli_key_hand_over(nullptr, -1);  // a run that ended before it took the key
  fclose(err);  // the reader sees the end
  reader.join();
  fclose(in);
  fclose(out);
  return status;
}

bool window_run_start(HWND window, window_request* request) {
  if (InterlockedCompareExchange(&going, 1, 0) != 0) return false;
  if (worker.joinable()) worker.join();
  target = window;
  running_action = request->action;
  if (request->key_file.empty() && !key_hand_over(&request->key)) {
    InterlockedExchange(&going, 0);
    return false;
  }
  std::vector<std::string> args = command_line(*request);
  worker = std::thread([args]() {
    int status = run_command(args);
    InterlockedExchange(&going, 0);
    PostMessageW(target, WM_RUN_DONE, static_cast<WPARAM>(status), 0);
  });
  return true;
}

bool window_run_cancel() {
  if (!window_run_going()) return true;
  return cli_run_stop(130);
}

bool window_run_going() { return InterlockedCompareExchange(&going, 0, 0) != 0; }

void window_run_join() {
  if (worker.joinable()) worker.join();
}
