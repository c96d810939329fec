// The work of a run: worker threads take the items in turn, one file each
// at a time, while this thread prints their reports in the order of the
// items and keeps the progress line.
//
// Workers are threads rather than processes: the runtime claims its
// open-file slots and its random generators with atomic exchanges (see
// runtime.h), so engine calls may run side by side without a lock in the
// module's path, and one process keeps a single report, a single key and a
// single set of temporary files to clean up.

#include "cli_run.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_console.h"
#include "cli_current.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_orphans.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_stream.h"

struct run_state {
  const cli_options* o;
  cli_batch* batch;
  const char* key;
  int next;     // the next item a worker takes, claimed with an atomic addition
  int workers;  // the contexts claimed, one per worker, with an atomic addition
  engine_call calls[CLI_MAX_JOBS];
};

// stop_taking is set when the run is to end early (an interrupt, or a
// standard output that was closed): workers take no further item, and the
// engine's calls stop at their next piece (the contexts' cancel flag).
// busy counts the items being worked, so that the run can wait for the
// files they hold open (Windows cannot remove an open file).  in_loop says
// that cli_run is there to finish an interrupt; it and stop_status are read
// and written in one order by both sides, so that one of them always sees
// the other.  worked is the engine's count of bytes, for the progress line;
// running the run whose temporary files an interrupt removes.
static int stop_taking;
static int stop_status;
static int busy;
static int in_loop;
static uint32_t worked;
static run_state* running;

bool cli_run_stop(int status) {
  __atomic_store_n(&stop_status, status, __ATOMIC_SEQ_CST);
  __atomic_store_n(&stop_taking, 1, __ATOMIC_SEQ_CST);
  return __atomic_load_n(&in_loop, __ATOMIC_SEQ_CST) != 0;
}

int cli_run_stopped() { return __atomic_load_n(&stop_status, __ATOMIC_SEQ_CST); }
int cli_run_busy() { return __atomic_load_n(&busy, __ATOMIC_ACQUIRE); }

static bool stopping() { return __atomic_load_n(&stop_taking, __ATOMIC_SEQ_CST) != 0; }

void cli_run_remove_temp_files() {
  run_state* r = __atomic_load_n(&running, __ATOMIC_ACQUIRE);
  if (r == nullptr) return;
  for (engine_call& call : r->calls)
    if (__atomic_load_n(&call.temp_state, __ATOMIC_ACQUIRE) == 1) rt_file_remove(call.temp_path);
}

// A monotonic clock, for timings.
static double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static const char already_encrypted[] =
    "already an encrypted file (give --allow-encrypted to encrypt it again)";

// Why the input of item is not worked: a failure, or, for encrypt, a skip
// for a file too short for the format.  Decrypt and verify fail on an
// empty file, which the module refuses: a build step must not pass with a
// file the application cannot open.  False when it is to be worked.
static bool run_refuse_input(const cli_options& o, cli_item* item, cli_outcome* outcome,
                             char* text, int capacity) {
  if (item->from_stdin) return false;
  int64_t size = rt_size_query(item->path);
  if (o.command == CMD_ENCRYPT && (size == 0 || size == 1)) {
    cli_format(text, capacity, "%s, %s", size == 0 ? "empty" : "1 byte", cli_explain_too_short);
    item->skip_kind = "too short";
    *outcome = OUTCOME_SKIPPED;
    return true;
  }
  if (o.command != CMD_ENCRYPT && size == 0) {
    cli_format(text, capacity, "%s", cli_explain_empty_encrypted);
    *outcome = OUTCOME_FAILED;
    return true;
  }
  const char* reason = cli_explain_input(item->path, text, capacity);
  if (reason == nullptr) return false;
  *outcome = OUTCOME_FAILED;
  return true;
}

// encrypt or decrypt of one item.
static cli_outcome run_write(const run_state& r, engine_call* call, int index, char* text,
                             int capacity) {
  const cli_options& o = *r.o;
  cli_item* item = &r.batch->items[index];
  cli_outcome outcome = OUTCOME_FAILED;
  if (run_refuse_input(o, item, &outcome, text, capacity)) return outcome;
  if (o.command == CMD_ENCRYPT && !o.allow_encrypted && !item->from_stdin) {
    cli_header_facts facts;
    cli_inspect_header(item->path, &facts);
    if (facts.whole_header && facts.problems == 0) {
      cli_format(text, capacity, "%s", already_encrypted);
      item->skip_kind = "already encrypted";
      return OUTCOME_SKIPPED;
    }
  }
  bool stream = cli_stream_is_stream(item->output);
  bool decrypt_out = stream && o.command == CMD_DECRYPT;  // no file between
  char written[RT_PATH_CAPACITY];
  if (decrypt_out) {
    snprintf(written, sizeof written, "%s", item->output);
  } else if (stream) {
    if (!cli_stream_output_path(written, sizeof written)) {
      cli_format(text, capacity, "no temporary file could be made for the output");
      return OUTCOME_FAILED;
    }
  } else {
    if (o.update && rt_size_query(item->output) >= 0 && cli_current(o, *item, call, r.key))
      return OUTCOME_CURRENT;
    if (cli_inputs_refuse_output(o, *r.batch, index, text, capacity)) return OUTCOME_FAILED;
    if (!cli_inputs_make_folders(o, item->output, text, capacity)) return OUTCOME_FAILED;
    snprintf(written, sizeof written, "%s", item->output);
  }
  // Without --force or --update an existing output is kept, also against
  // another run that makes it meanwhile: the commit's rename refuses it.
  call->keep_existing = !stream && !o.force && !o.update && !o.in_place;
  double start = seconds_now();
  const char* result;
  char stream_text[CLI_TEXT_CAPACITY] = "";
  if (decrypt_out)
    result = cli_stream_decrypt_out(call, item->path, written, r.key, stream_text,
                                    sizeof stream_text);
  else if (o.command == CMD_DECRYPT)
    result = decrypt_file_in(call, item->path, written, r.key);
  else if (item->from_stdin)
    result = cli_stream_encrypt_input(call, written, r.key);
  else
    result = encrypt_file_in(call, item->path, written, r.key);
  item->seconds = seconds_now() - start;
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  if (result == result_write_error && stream_text[0] != '\0') {
    cli_format(text, capacity, "%s", stream_text);
    return OUTCOME_FAILED;
  }
  if (result == result_refused && item->from_stdin) {
    // Nothing to ship is no success: a pipe whose writer failed ends here.
    if (o.command == CMD_ENCRYPT)
      cli_format(text, capacity, "fewer than 2 bytes, %s; nothing was written",
                 cli_explain_too_short);
    else
      cli_format(text, capacity, "%s", cli_explain_empty_encrypted);
    return OUTCOME_FAILED;
  }
  if (result == result_read_error && item->from_stdin) {
    cli_format(text, capacity, "cannot be read");
    return OUTCOME_FAILED;
  }
  if (result != result_ok) {
    cli_explain(o, *item, result, call->failure, stream ? written : item->output, text, capacity);
    return OUTCOME_FAILED;
  }
  // Encrypted as it was read: its size is known only now.
  if (item->from_stdin && o.command == CMD_ENCRYPT)
    item->size = rt_size_query(written) - FILE_HEADER_SIZE;
  if (decrypt_out) {
    cli_header_facts facts;
    cli_inspect_header(item->path, &facts);
    item->output_size = facts.plain_size;
  } else {
    item->output_size = rt_size_query(written);
  }
  if (stream && !decrypt_out && !cli_stream_copy_out(written, item->output, text, capacity))
    return OUTCOME_FAILED;
  return OUTCOME_OK;
}

static cli_outcome run_verify(const run_state& r, engine_call* call, int index, char* text,
                              int capacity) {
  cli_item* item = &r.batch->items[index];
  cli_outcome outcome = OUTCOME_FAILED;
  if (run_refuse_input(*r.o, item, &outcome, text, capacity)) return outcome;
  double start = seconds_now();
  const char* result = verify_file_in(call, item->path, r.key);
  item->seconds = seconds_now() - start;
  if (result == engine_cancelled) return OUTCOME_STOPPED;
  if (result != result_ok) {
    cli_explain(*r.o, *item, result, call->failure, nullptr, text, capacity);
    return OUTCOME_FAILED;
  }
  // With the folder it was encrypted from: its input must be there, and
  // hold what it holds, as encrypt -u would find it.
  char input[RT_PATH_CAPACITY];
  if (r.o->input_dir == nullptr ||
      !cli_orphans_input_of(*r.o, item->path, item->relative_at, input, sizeof input))
    return OUTCOME_OK;
  int64_t input_size = rt_size_query(input);
  if (input_size < 2) {
    cli_format(text, capacity, "no input (%s %s)", input,
               input_size < 0 ? "is gone" : "is too short to encrypt");
    return OUTCOME_FAILED;
  }
  if (!engine_holds(call, item->path, input, r.key)) {
    cli_format(text, capacity, "stale: %s has changed since it was encrypted", input);
    return OUTCOME_FAILED;
  }
  return OUTCOME_OK;
}

// An output without input under --delete: removed, or failed with why not.
static cli_outcome run_remove_orphan(cli_item* item, char* text, int capacity) {
  if (rt_file_remove(item->path)) return OUTCOME_DELETED;
  char reason[256];
  cli_format(text, capacity, "%s; it cannot be removed: %s", item->message,
             cli_explain_reason(rt_last_error(), reason, sizeof reason));
  return OUTCOME_FAILED;
}

static void run_item(const run_state& r, engine_call* call, int index) {
  cli_item* item = &r.batch->items[index];
  char text[CLI_TEXT_CAPACITY] = "";
  cli_outcome outcome;
  __atomic_store_n(&item->started, 1, __ATOMIC_RELEASE);
  if (item->orphan && item->planned_outcome == OUTCOME_DELETED) {
    outcome = run_remove_orphan(item, text, sizeof text);
  } else if (item->planned != nullptr) {
    outcome = item->planned_outcome;
    if (item->message == nullptr) snprintf(text, sizeof text, "%s", item->planned);
  } else if (r.o->command == CMD_VERIFY) {
    outcome = run_verify(r, call, index, text, sizeof text);
  } else {
    outcome = run_write(r, call, index, text, sizeof text);
  }
  item->outcome = outcome;
  if (text[0] != '\0') {
    item->message = cli_inputs_copy(text);
    if (item->message == nullptr) item->message = cli_inputs_copy("out of memory");
  }
  __atomic_store_n(&item->done, 1, __ATOMIC_RELEASE);  // what the worker wrote is visible now
}

static void run_worker(void* state) {
  auto* r = static_cast<run_state*>(state);
  engine_call* call = &r->calls[__atomic_fetch_add(&r->workers, 1, __ATOMIC_RELAXED)];
  for (;;) {
    __atomic_fetch_add(&busy, 1, __ATOMIC_ACQ_REL);
    int index = __atomic_fetch_add(&r->next, 1, __ATOMIC_RELAXED);
    bool take = index < r->batch->count && !stopping();
    if (take) run_item(*r, call, index);
    __atomic_fetch_sub(&busy, 1, __ATOMIC_ACQ_REL);
    if (!take) return;
  }
}

// The progress line on standard error: written over in place, and wiped
// before any other line is printed.
struct progress_line {
  bool enabled, shown;
  int width;
  double start, last_draw;
  uint32_t last_count;  // the engine's count when last read
  uint64_t worked;      // bytes worked since the run began
  int64_t total;        // bytes the run will work, as far as known
};

static void progress_wipe(progress_line* p) {
  if (p->width > 0) cli_print(cli_err, "\r%*s\r", p->width - 1, "");
  p->width = 0;
}

// "12 s", "4 min", "1 h 05 min".
static const char* duration_text(double seconds, char* text, int capacity) {
  long s = static_cast<long>(seconds + 0.5);
  if (s < 60) return cli_format(text, capacity, "%ld s", s);
  if (s < 3600) return cli_format(text, capacity, "%ld min", (s + 30) / 60);
  return cli_format(text, capacity, "%ld h %02ld min", s / 3600, s % 3600 / 60);
}

// The line fits 79 columns (a Windows console wraps at 80): a long name
// keeps its end, where the file's own name is.
enum { PROGRESS_COLUMNS = 79 };

static void progress_draw(progress_line* p, const cli_batch& batch, int done, bool final) {
  double now = seconds_now();
  if (!p->enabled || (!final && (now - p->start < 0.25 || now - p->last_draw < 0.25))) return;
  if (final && !p->shown) return;
  uint32_t count_now = __atomic_load_n(&worked, __ATOMIC_RELAXED);
  p->worked += static_cast<uint32_t>(count_now - p->last_count);  // the count wraps at 2^32
  p->last_count = count_now;
  int percent = 100;
  if (!final && p->total > 0) {
    double share = static_cast<double>(p->worked) / static_cast<double>(p->total);
    percent = share >= 0.99 ? 99 : static_cast<int>(share * 100);
  }
  double seconds = now - p->start;
  double speed = seconds > 0 ? static_cast<double>(p->worked) / seconds : 0.0;
  char files[64], left[64] = "", line[256];
  cli_count_text(batch.count, "file", "files", files, sizeof files);
  if (!final && speed > 0 && p->total > static_cast<int64_t>(p->worked)) {
    char time[48];
    cli_format(left, sizeof left, ", %s left",
               duration_text(static_cast<double>(p->total - p->worked) / speed, time,
                             sizeof time));
  }
  int n = snprintf(line, sizeof line, "\r%d of %s, %d%%, %.1f MB/s%s", done, files, percent,
                   speed / 1e6, left);
  // The file being worked: the first one taken and not done.
  const char* name = nullptr;
  for (int i = done; !final && i < batch.count && name == nullptr; i++)
    if (__atomic_load_n(&batch.items[i].started, __ATOMIC_ACQUIRE) &&
        !__atomic_load_n(&batch.items[i].done, __ATOMIC_ACQUIRE) &&
        batch.items[i].planned == nullptr)
      name = batch.items[i].shown;
  int room = PROGRESS_COLUMNS - (n - 1) - 2;
  if (name != nullptr && room > 8 && n > 0 && n < static_cast<int>(sizeof line)) {
    int length = static_cast<int>(strlen(name));
    if (length <= room) {
      n += snprintf(line + n, sizeof line - n, ", %s", name);
    } else {
      const char* end = name + length - (room - 3);
      while ((static_cast<unsigned char>(*end) & 0xC0) == 0x80) end++;  // a whole character
      n += snprintf(line + n, sizeof line - n, ", ...%s", end);
    }
  }
  if (n > 0 && n - 1 < p->width)  // a shorter line covers the end of the longer one
    snprintf(line + n, sizeof line - n, "%*s", p->width - (n - 1), "");
  cli_print(cli_err, "%s", line);
  fflush(cli_err);
  p->width = n > p->width ? n : p->width;
  p->shown = true;
  p->last_draw = now;
}

// Set when a listing line could not be written: standard output was closed.
static bool out_closed;

static void run_report(const cli_options& o, const cli_item& item) {
  char before[64], after[64];
  // Names may hold line ends and other control characters: each line says
  // them escaped, so that it stays one line.
  char shown[CLI_TEXT_CAPACITY], message[CLI_TEXT_CAPACITY], output[CLI_TEXT_CAPACITY];
  cli_escaped(item.shown, shown, sizeof shown);
  cli_escaped(item.message != nullptr ? item.message : "", message, sizeof message);
  // With the data on standard output (or a device, which may be the same),
  // the listing goes to standard error.
  FILE* listing = o.output != nullptr && cli_stream_is_stream(o.output) ? cli_err : cli_out;
  if (item.outcome == OUTCOME_DELETED) {
    if (!o.quiet) cli_print(listing, "%s: deleted: %s\n", shown, message);
  } else if (item.outcome == OUTCOME_FAILED) {
    cli_print(cli_err, "%s: %s\n", shown, message);
  } else if (item.outcome == OUTCOME_SKIPPED) {
    if (!o.quiet) cli_print(cli_err, "%s: skipped: %s\n", shown, message);
  } else if (item.outcome == OUTCOME_CURRENT || item.outcome == OUTCOME_STOPPED) {
    // Counted in the closing lines only.
  } else if (!o.quiet && o.command == CMD_VERIFY) {
    cli_print(listing, "%s: key and data check out, %s, %.3f s\n", shown,
              cli_size_text(item.size, before, sizeof before), item.seconds);
  } else if (!o.quiet) {
    bool to_stdout = cli_stream_is_stream(item.output) && strcmp(item.output, "-") == 0;
    cli_escaped(to_stdout ? "(standard output)" : item.output, output, sizeof output);
    cli_print(listing, "%s -> %s: %s -> %s, %.3f s\n", shown, output,
              cli_size_text(item.size, before, sizeof before),
              cli_size_text(item.output_size, after, sizeof after), item.seconds);
  }
  if (fflush(cli_out) != 0 || ferror(cli_out)) {
    // A reader that went away: the run ends, once, without a line per file.
    if (!out_closed) __atomic_store_n(&stop_taking, 1, __ATOMIC_SEQ_CST);
    out_closed = true;
  }
  fflush(cli_err);
}

// The closing summary of a run of several files, on standard error:
// "qelv: 5 files: 2 written, 1 up to date, 2 skipped (1 too short,
// 1 folder), 1 failed".
static void run_summary(const cli_options& o, const cli_batch& batch) {
  int ok = 0, current = 0, skipped = 0, failed = 0, orphans = 0, deleted = 0;
  const char* kinds[16];
  int kind_counts[16], kind_count = 0;
  for (int i = 0; i < batch.count; i++) {
    const cli_item& item = batch.items[i];
    ok += item.outcome == OUTCOME_OK;
    current += item.outcome == OUTCOME_CURRENT;
    deleted += item.outcome == OUTCOME_DELETED;
    orphans += item.orphan && item.outcome == OUTCOME_FAILED;
    failed += !item.orphan && item.outcome == OUTCOME_FAILED;
    if (item.outcome != OUTCOME_SKIPPED) continue;
    skipped++;
    const char* kind = item.skip_kind != nullptr ? item.skip_kind : "other";
    int k = 0;
    while (k < kind_count && strcmp(kinds[k], kind) != 0) k++;
    if (k == kind_count && kind_count < 16) {
      kinds[kind_count] = kind;
      kind_counts[kind_count++] = 0;
    }
    if (k < kind_count) kind_counts[k]++;
  }
  if (o.quiet ? skipped == 0 : batch.count < 2) return;
  char text[CLI_TEXT_CAPACITY], count[64];
  int n = snprintf(text, sizeof text, "qelv: %s:",
                   cli_count_text(batch.count, "file", "files", count, sizeof count));
  const char* separator = " ";
  auto add = [&](int value, const char* what) {
    if (value == 0 || n < 0 || n >= static_cast<int>(sizeof text)) return;
    n += snprintf(text + n, sizeof text - n, "%s%d %s", separator, value, what);
    separator = ", ";
  };
  add(ok, o.command == CMD_VERIFY ? "checked out" : "written");
  add(current, "up to date");
  add(skipped, "skipped");
  for (int k = 0; k < kind_count && n > 0 && n < static_cast<int>(sizeof text); k++)
    n += snprintf(text + n, sizeof text - n, "%s%d %s%s", k == 0 ? " (" : ", ", kind_counts[k],
                  kinds[k], k == kind_count - 1 ? ")" : "");
  add(orphans, "without input");
  add(deleted, "deleted");
  add(failed, "failed");
  cli_print(cli_err, "%s\n", text);
}

// The stale temporary files found, said once with the command that
// removes them: the tool never removes one itself, for the process writing
// it may still be running.
static void run_note_stale(const cli_batch& batch) {
  if (batch.stale_count == 0) return;
  char count[64], command[CLI_TEXT_CAPACITY];
  int n = 0;
  for (int i = 0; i < batch.stale_count && n >= 0 && n < static_cast<int>(sizeof command); i++) {
    const char* path = batch.stale[i];
    bool spaced = strchr(path, ' ') != nullptr;
    n += snprintf(command + n, sizeof command - n, " %s%s%s", spaced ? "\"" : "", path,
                  spaced ? "\"" : "");
  }
  bool one = batch.stale_count == 1;
  cli_note("%s left by a qelv that was stopped (or in use by one still running) %s where "
           "this run reads or writes; once no qelv is running, remove %s with: %s%s",
           cli_count_text(batch.stale_count, "temporary file", "temporary files", count,
                          sizeof count),
           one ? "lies" : "lie", one ? "it" : "them", cli_paths_remove_command, command);
}

// info prints each file's fields as it reads them, in this thread.
static int run_info(const cli_options& o, cli_batch* batch) {
  int failures = 0;
  char text[CLI_TEXT_CAPACITY];
  for (int i = 0; i < batch->count; i++) {
    cli_item* item = &batch->items[i];
    item->outcome = item->planned != nullptr ? item->planned_outcome : OUTCOME_OK;
    const char* reason = item->planned;  // info plans no outputs: no message is made there
    if (reason == nullptr) reason = cli_explain_input(item->path, text, sizeof text);
    if (reason == nullptr) {
      const char* result = cli_inspect_info(item->path, item->shown, o.quiet ? nullptr : cli_out);
      fflush(cli_out);
      if (result != result_ok) {
        cli_explain(o, *item, result, engine_failure{}, nullptr, text, sizeof text);
        reason = text;
      }
    }
    if (reason != nullptr) {
      if (item->outcome == OUTCOME_OK) item->outcome = OUTCOME_FAILED;
      item->message = cli_inputs_copy(reason);
      run_report(o, *item);
    }
    failures += item->outcome == OUTCOME_FAILED;
  }
  return failures > 0 ? 1 : 0;
}

// Spools standard input into a temporary file for the item that reads it,
// unless it is encrypted as it is read.
static bool run_spool(const cli_options& o, cli_batch* batch) {
  for (int i = 0; i < batch->count; i++) {
    cli_item* item = &batch->items[i];
    if (!item->from_stdin || o.command == CMD_ENCRYPT) continue;
    char path[RT_PATH_CAPACITY], text[CLI_TEXT_CAPACITY];
    if (!cli_stream_spool_input(path, sizeof path, text, sizeof text)) {
      cli_print(cli_err, "%s: %s\n", item->shown, text);
      return false;
    }
    char* copy = cli_inputs_copy(path);
    if (copy == nullptr) return false;
    free(item->path);
    item->path = copy;
  }
  return true;
}

// Each worker holds at most two of the runtime's open files at once (a
// source and a temporary file, or a file it inspects or copies out), and
// draws from a random generator of its own (see rt_random).
static_assert(2 * int{CLI_MAX_JOBS} <= int{RT_MAX_OPEN_FILES}, "workers would run out of files");
static_assert(int{CLI_MAX_JOBS} <= int{RT_RANDOM_GENERATORS}, "workers would wait for a generator");

static int run_workers(const cli_options& o, int pending) {
  int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::thread::hardware_concurrency());
  if (jobs > CLI_MAX_JOBS) jobs = CLI_MAX_JOBS;
  if (jobs > pending) jobs = pending;
  return jobs < 1 ? 1 : jobs;
}

int cli_run(const cli_options& o, cli_batch* batch, const char* key) {
  if (!run_spool(o, batch)) return 1;
  if (o.command == CMD_INFO) return run_info(o, batch);
  __atomic_store_n(&stop_status, 0, __ATOMIC_SEQ_CST);
  __atomic_store_n(&stop_taking, 0, __ATOMIC_SEQ_CST);
  out_closed = false;
  __atomic_store_n(&in_loop, 1, __ATOMIC_SEQ_CST);
  progress_line p = {};
  p.enabled = !o.quiet && cli_console_is_terminal(cli_err);
  p.start = seconds_now();
  p.last_count = __atomic_load_n(&worked, __ATOMIC_RELAXED);
  int pending = 0;
  for (int i = 0; i < batch->count; i++) {
    cli_item* item = &batch->items[i];
    if (item->planned != nullptr) continue;
    pending++;
    int64_t size = rt_size_query(item->path);
    item->size = size > 0 ? size : 0;
    p.total += item->size;
  }
  static run_state r;
  r = {&o, batch, key, 0, 0, {}};
  for (engine_call& call : r.calls) {
    call.cancel = &stop_taking;
    call.worked = &worked;
    call.use_worker = true;  // reading and writing beside the deciphering
  }
  __atomic_store_n(&running, &r, __ATOMIC_RELEASE);
  // The workers are the runtime's worker threads, each given one job: to
  // take items until none is left.
  rt_worker* workers[CLI_MAX_JOBS];
  int started = 0, jobs = run_workers(o, pending);
  while (started < jobs && (workers[started] = rt_worker_start()) != nullptr)
    rt_worker_give(workers[started++], run_worker, &r);
  if (started == 0) run_worker(&r);  // no thread to be had: this one works

  // Reports in the order of the items.  When the run is stopped, the files
  // being worked stop at their next piece; a worker that does not come
  // back within seconds (one waiting for standard input) is left behind.
  int printed = 0, finished = 0;
  double stopped_at = 0;
  while (printed < batch->count) {
    while (printed < batch->count &&
           __atomic_load_n(&batch->items[printed].done, __ATOMIC_ACQUIRE)) {
      cli_item& item = batch->items[printed];
      progress_wipe(&p);
      if (item.outcome != OUTCOME_STOPPED) {
        run_report(o, item);
        finished++;
      }
      printed++;
    }
    if (printed == batch->count) break;
    if (stopping()) {
      if (stopped_at == 0) stopped_at = seconds_now();
      if (__atomic_load_n(&busy, __ATOMIC_ACQUIRE) == 0 || seconds_now() - stopped_at > 2) break;
    }
    progress_draw(&p, *batch, printed, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  bool joined = __atomic_load_n(&busy, __ATOMIC_ACQUIRE) == 0 || !stopping();
  for (int i = 0; joined && i < started; i++) {
    rt_worker_wait(workers[i]);
    rt_worker_stop(workers[i]);
  }
  __atomic_store_n(&in_loop, 0, __ATOMIC_SEQ_CST);
  int interrupted = cli_run_stopped();
  bool whole = printed == batch->count && !stopping();
  if (whole) progress_draw(&p, *batch, batch->count, true);
  if (p.shown && whole) cli_print(cli_err, "\n");
  else progress_wipe(&p);
  if (interrupted != 0 || out_closed) {
    // Whatever the engine's calls still hold is theirs no more.
    cli_run_remove_temp_files();
    char count[64];
    const char* why = interrupted != 0 ? "interrupted" : "standard output was closed";
    cli_count_text(batch->count, "file", "files", count, sizeof count);
    if (finished < batch->count)
      cli_print(cli_err, "qelv: %s: %d of %s finished; the rest were not %s\n", why, finished,
                count, o.command == CMD_VERIFY ? "verified" : "written");
    else
      cli_print(cli_err, "qelv: %s: all %s finished\n", why, count);
    fflush(cli_err);
    return interrupted != 0 ? interrupted : 1;
  }
  run_note_stale(*batch);
  run_summary(o, *batch);
  fflush(cli_err);
  for (int i = 0; i < batch->count; i++)
    if (batch->items[i].outcome == OUTCOME_FAILED) return 1;
  return 0;
}
