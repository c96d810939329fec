// The work of a run: worker threads take the items in turn, one file each
// at a time, while this thread prints their reports in the order of the
// items and keeps the progress line.
//
// Workers are threads rather than processes: the runtime claims its
// open-file slots and its random generators with atomic exchanges (see
// runtime.h), so engine calls may run side by side without a lock in the
// module's path, and one process keeps a single report, a single key and a
// single set of temporary files to clean up.

#include <cstdlib>
#include <cstring>

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "cli.h"

struct run_state {
  const cli_options* o;
  cli_batch* batch;
  const char* key;
  int next;  // the next item a worker takes, claimed with an atomic addition
};

// Set when the process is being interrupted: workers take no further item.
// busy counts the items being worked, so that the interrupt handling can
// wait for the files they hold open (Windows cannot remove an open file).
static int stop_requested;
static int busy;

void cli_run_stop() { __atomic_store_n(&stop_requested, 1, __ATOMIC_RELAXED); }
int cli_run_busy() { return __atomic_load_n(&busy, __ATOMIC_ACQUIRE); }

static char* run_copy(const char* text) {
  size_t n = strlen(text) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (copy != nullptr) memcpy(copy, text, n);
  return copy;
}

static const char already_encrypted[] =
    "already an encrypted file (give --force to encrypt it again)";

// Why the input of item is not worked: a failure, or a skip for an empty
// file.  False when it is to be worked.
static bool run_refuse_input(cli_item* item, cli_outcome* outcome, char* text, int capacity) {
  const char* reason = cli_explain_input(item->path, text, capacity);
  if (reason == nullptr) return false;
  *outcome = rt_size_query(item->path) == 0 ? OUTCOME_SKIPPED : OUTCOME_FAILED;
  return true;
}

// encrypt or decrypt of one item.
static cli_outcome run_write(const run_state& r, int index, char* text, int capacity) {
  const cli_options& o = *r.o;
  cli_item* item = &r.batch->items[index];
  cli_outcome outcome = OUTCOME_FAILED;
  if (run_refuse_input(item, &outcome, text, capacity)) return outcome;
  if (o.command == CMD_ENCRYPT && !o.force) {
    cli_header_facts facts;
    cli_inspect_header(item->path, &facts);
    if (facts.whole_header && facts.problems == 0) {
      cli_format(text, capacity, "%s", already_encrypted);
      return OUTCOME_SKIPPED;
    }
  }
  bool stream = cli_stream_is_stream(item->output);
  char written[CLI_PATH_CAPACITY];
  if (stream) {
    if (!cli_stream_output_path(written, sizeof written)) {
      cli_format(text, capacity, "no temporary file could be made for the output");
      return OUTCOME_FAILED;
    }
  } else {
    if (cli_inputs_refuse_output(o, *r.batch, index, text, capacity)) return OUTCOME_FAILED;
    if (!cli_inputs_make_folders(o, item->output, text, capacity)) return OUTCOME_FAILED;
    snprintf(written, sizeof written, "%s", item->output);
  }
  double start = cli_seconds();
  const char* result = o.command == CMD_ENCRYPT ? encrypt_file(item->path, written, r.key)
                                                 : decrypt_file(item->path, written, r.key);
  item->seconds = cli_seconds() - start;
  if (result != result_ok) {
    cli_explain(o, *item, result, stream ? written : item->output, text, capacity);
    return OUTCOME_FAILED;
  }
  item->output_size = rt_size_query(written);
  if (stream && !cli_stream_copy_out(written, item->output, text, capacity))
    return OUTCOME_FAILED;
  return OUTCOME_OK;
}

static cli_outcome run_verify(const run_state& r, int index, char* text, int capacity) {
  cli_item* item = &r.batch->items[index];
  cli_outcome outcome = OUTCOME_FAILED;
  if (run_refuse_input(item, &outcome, text, capacity)) return outcome;
  double start = cli_seconds();
  const char* result = cli_verify_file(item->path, r.key);
  item->seconds = cli_seconds() - start;
  if (result == result_ok) return OUTCOME_OK;
  cli_explain(*r.o, *item, result, nullptr, text, capacity);
  return OUTCOME_FAILED;
}

static void run_item(const run_state& r, int index) {
  cli_item* item = &r.batch->items[index];
  char text[CLI_TEXT_CAPACITY] = "";
  cli_outcome outcome;
  if (item->planned != nullptr) {
    outcome = item->planned_outcome;
    if (item->message == nullptr) snprintf(text, sizeof text, "%s", item->planned);
  } else if (r.o->command == CMD_VERIFY) {
    outcome = run_verify(r, index, text, sizeof text);
  } else {
    outcome = run_write(r, index, text, sizeof text);
  }
  item->outcome = outcome;
  if (text[0] != '\0') {
    item->message = run_copy(text);
    if (item->message == nullptr) item->message = run_copy("out of memory");
  }
  __atomic_store_n(&item->done, 1, __ATOMIC_RELEASE);  // what the worker wrote is visible now
}

static void run_worker(void* state) {
  auto* r = static_cast<run_state*>(state);
  for (;;) {
    __atomic_fetch_add(&busy, 1, __ATOMIC_ACQ_REL);
    int index = __atomic_fetch_add(&r->next, 1, __ATOMIC_RELAXED);
    bool take = index < r->batch->count && !__atomic_load_n(&stop_requested, __ATOMIC_RELAXED);
    if (take) run_item(*r, index);
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

static void progress_draw(progress_line* p, int done, int count, bool final) {
  double now = cli_seconds();
  if (!p->enabled || (!final && (now - p->start < 0.25 || now - p->last_draw < 0.25))) return;
  if (final && !p->shown) return;
  uint32_t count_now = engine_bytes_worked();
  p->worked += static_cast<uint32_t>(count_now - p->last_count);  // the count wraps at 2^32
  p->last_count = count_now;
  int percent = 100;
  if (!final && p->total > 0) {
    double share = static_cast<double>(p->worked) / static_cast<double>(p->total);
    percent = share >= 0.99 ? 99 : static_cast<int>(share * 100);
  }
  double seconds = now - p->start;
  char files[64], line[160];
  cli_count_text(count, "file", "files", files, sizeof files);
  int n = snprintf(line, sizeof line, "\r%d of %s, %d%%, %.1f MB/s", done, files, percent,
                   seconds > 0 ? static_cast<double>(p->worked) / seconds / 1e6 : 0.0);
  if (n > 0 && n - 1 < p->width)  // a shorter line covers the end of the longer one
    snprintf(line + n, sizeof line - n, "%*s", p->width - (n - 1), "");
  cli_print(cli_err, "%s", line);
  fflush(cli_err);
  p->width = n > p->width ? n : p->width;
  p->shown = true;
  p->last_draw = now;
}

static void run_report(const cli_options& o, const cli_item& item) {
  char before[64], after[64];
  // With the data on standard output (or a device, which may be the same),
  // the listing goes to standard error.
  FILE* listing = o.output != nullptr && cli_stream_is_stream(o.output) ? cli_err : cli_out;
  if (item.outcome == OUTCOME_FAILED) {
    cli_print(cli_err, "%s: %s\n", item.shown, item.message != nullptr ? item.message : "");
  } else if (item.outcome == OUTCOME_SKIPPED) {
    if (!o.quiet) cli_print(cli_err, "%s: skipped: %s\n", item.shown, item.message);
  } else if (!o.quiet && o.command == CMD_VERIFY) {
    cli_print(listing, "%s: key and data check out, %s, %.3f s\n", item.shown,
              cli_size_text(item.size, before, sizeof before), item.seconds);
  } else if (!o.quiet) {
    bool to_stream = cli_stream_is_stream(item.output);
    cli_print(listing, "%s -> %s: %s -> %s, %.3f s\n", item.shown,
              to_stream && strcmp(item.output, "-") == 0 ? "(standard output)" : item.output,
              cli_size_text(item.size, before, sizeof before),
              cli_size_text(item.output_size, after, sizeof after), item.seconds);
  }
  fflush(cli_out);
  fflush(cli_err);
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
      const char* result = cli_info_file(item->path, item->shown, o.quiet ? nullptr : cli_out);
      fflush(cli_out);
      if (result != result_ok) {
        cli_explain(o, *item, result, nullptr, text, sizeof text);
        reason = text;
      }
    }
    if (reason != nullptr) {
      if (item->outcome == OUTCOME_OK) item->outcome = OUTCOME_FAILED;
      item->message = run_copy(reason);
      run_report(o, *item);
    }
    failures += item->outcome == OUTCOME_FAILED;
  }
  return failures > 0 ? 1 : 0;
}

// Spools standard input into a temporary file for the item that reads it.
static bool run_spool(cli_batch* batch) {
  for (int i = 0; i < batch->count; i++) {
    cli_item* item = &batch->items[i];
    if (!item->from_stdin) continue;
    char path[CLI_PATH_CAPACITY], text[CLI_TEXT_CAPACITY];
    if (!cli_stream_spool_input(path, sizeof path, text, sizeof text)) {
      cli_print(cli_err, "%s: %s\n", item->shown, text);
      return false;
    }
    char* copy = run_copy(path);
    if (copy == nullptr) return false;
    free(item->path);
    item->path = copy;
  }
  return true;
}

static int run_workers(const cli_options& o, int pending) {
  int jobs = o.jobs > 0 ? o.jobs : cli_processor_count();
  // No more workers than the runtime has random generators (see rt_random);
  // each holds at most two of its sixteen open files, a source and a
  // temporary file, so eight never run out of them either.
  if (jobs > RT_RANDOM_GENERATORS) jobs = RT_RANDOM_GENERATORS;
  if (jobs > pending) jobs = pending;
  return jobs < 1 ? 1 : jobs;
}

int cli_run(const cli_options& o, cli_batch* batch, const char* key) {
  if (!run_spool(batch)) return 1;
  if (o.command == CMD_INFO) return run_info(o, batch);
  progress_line p = {};
  p.enabled = !o.quiet && cli_is_terminal(cli_err);
  p.start = cli_seconds();
  p.last_count = engine_bytes_worked();
  int pending = 0;
  for (int i = 0; i < batch->count; i++) {
    cli_item* item = &batch->items[i];
    if (item->planned != nullptr) continue;
    pending++;
    int64_t size = rt_size_query(item->path);
    item->size = size > 0 ? size : 0;
    p.total += item->size;
  }
  run_state r = {&o, batch, key, 0};
  cli_thread threads[RT_RANDOM_GENERATORS];
  int started = 0, jobs = run_workers(o, pending);
  while (started < jobs && cli_thread_start(&threads[started], run_worker, &r)) started++;
  if (started == 0) run_worker(&r);  // no thread to be had: this one works

  int printed = 0, failures = 0;
  while (printed < batch->count) {
    while (printed < batch->count &&
           __atomic_load_n(&batch->items[printed].done, __ATOMIC_ACQUIRE)) {
      progress_wipe(&p);
      run_report(o, batch->items[printed]);
      failures += batch->items[printed].outcome == OUTCOME_FAILED;
      printed++;
    }
    if (printed == batch->count) break;
    progress_draw(&p, printed, batch->count, false);
    cli_sleep_ms(20);
  }
  for (int i = 0; i < started; i++) cli_thread_join(threads[i]);
  progress_draw(&p, batch->count, batch->count, true);
  if (p.shown) cli_print(cli_err, "\n");
  return failures > 0 ? 1 : 0;
}
