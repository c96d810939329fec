// The run: worker threads take the items in turn (cli_item.cpp), one file each
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
#include <new>
#include <string>
#include <thread>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../runtime/random_state.h"
#include "../runtime/runtime.h"
#include "cli_console.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_item.h"
#include "cli_options.h"
#include "cli_print.h"
#include "cli_progress.h"
#include "cli_report.h"
#include "cli_stream.h"

struct run_state {
  const cli_options* o;
  cli_batch* batch;
  const char* key;
  int next;     // the next item a worker takes, claimed with an atomic addition
  int workers;  // the contexts claimed, one per worker, with an atomic addition
  engine_call calls[CLI_MAX_JOBS];
  rt_random_state randoms[CLI_MAX_JOBS];  // each worker's generator, for its calls' draws
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
static bool out_closed;  // a listing line could not be written: standard output was closed
static const cli_run_face* face;  // null: the console

void cli_run_set_face(const cli_run_face* f) { face = f; }

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

// One item, its outcome set whatever happens: memory refused to a text
// fails that item alone (its reason fits without any).
static void run_item(run_state* r, int index, engine_call* call) {
  try {
    cli_item_work(*r->o, r->batch, index, call, r->key);
  } catch (const std::bad_alloc&) {
    cli_item& item = r->batch->items[index];
    item.outcome = OUTCOME_FAILED;
    item.reason = "out of memory";
    __atomic_store_n(&item.done, 1, __ATOMIC_RELEASE);
  }
}

static void run_worker(void* state) {
  auto* r = static_cast<run_state*>(state);
  engine_call* call = &r->calls[__atomic_fetch_add(&r->workers, 1, __ATOMIC_RELAXED)];
  for (;;) {
    __atomic_fetch_add(&busy, 1, __ATOMIC_ACQ_REL);
    int index = __atomic_fetch_add(&r->next, 1, __ATOMIC_RELAXED);
    bool take = index < r->batch->count() && !stopping();
    if (take) run_item(r, index, call);
    __atomic_fetch_sub(&busy, 1, __ATOMIC_ACQ_REL);
    if (!take) return;
  }
}

// info prints each file's fields as it reads them, in this thread, and
// for several files a summary that counts them by the two judgements.
static int run_info(const cli_options& o, cli_batch* batch) {
  int failures = 0, written = 0, readable = 0;
  for (cli_item& item : batch->items) {
    item.outcome = item.decided ? item.decided_outcome : OUTCOME_OK;
    std::string reason = item.decided ? item.reason : cli_explain_input(item.path.c_str());
    if (reason.empty()) {
      const cli_header_read& header = cli_inputs_header(&item);
      const char* result = cli_inspect_info(item.path.c_str(), header, item.shown.c_str(),
                                            o.quiet ? nullptr : cli_out);
      fflush(cli_out);
      if (result != result_ok)
        reason = cli_explain({item.path.c_str(), &header, nullptr, false, false, false, result},
                             engine_failure{});
      else if (cli_inspect_written_by_encrypt(header)) written++;
      else readable++;
    }
    if (!reason.empty()) {
      if (item.outcome == OUTCOME_OK) item.outcome = OUTCOME_FAILED;
      item.reason = reason;
      cli_report_item(o, item);
    }
    failures += item.outcome == OUTCOME_FAILED;
  }
  if (batch->count() > 1) {
    std::string line = "qelv: " + cli_count_text(batch->count(), "file", "files") +
                       cli_format(": %d written by encryption", written);
    if (readable > 0) line += cli_format(", %d readable by decryption only", readable);
    if (failures > 0) line += cli_format(", %d failed", failures);
    cli_print_text(cli_err, line + "\n");
  }
  return failures > 0 ? 1 : 0;
}

// Spools standard input into a temporary file for the item that reads it,
// unless it is encrypted as it is read.
static bool run_spool(const cli_options& o, cli_batch* batch) {
  for (cli_item& item : batch->items) {
    if (!item.from_stdin || cli_traits(o.command).encrypts) continue;
    std::string path, why;
    if (!cli_stream_spool_input(&path, &why)) {
      cli_print(cli_err, "%s: %s\n", item.shown.c_str(), why.c_str());
      return false;
    }
    item.path = path;
  }
  return true;
}

// Each worker holds at most two of the runtime's open files at once (a
// source and a temporary file, or a file it inspects or copies out).
static_assert(2 * int{CLI_MAX_JOBS} <= int{RT_MAX_OPEN_FILES}, "workers would run out of files");

static int run_workers(const cli_options& o, int pending) {
  int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::thread::hardware_concurrency());
  if (jobs > CLI_MAX_JOBS) jobs = CLI_MAX_JOBS;
  if (jobs > pending) jobs = pending;
  return jobs < 1 ? 1 : jobs;
}

// The bytes the run will work, as far as known, each item's size noted;
// *pending: the items to be worked.
static int64_t run_sizes(cli_batch* batch, int* pending) {
  int64_t total = 0;
  *pending = 0;
  for (cli_item& item : batch->items) {
    if (item.decided) continue;
    ++*pending;
    int64_t size = rt_size_query(item.path.c_str());
    item.size = size > 0 ? size : 0;
    total += item.size;
  }
  return total;
}

// Starts the workers, the runtime's worker threads, each given one job: to
// take items until none is left.  Returns how many started; with none this
// thread has done the work.
static int run_start(run_state* r, int jobs, rt_worker** workers) {
  for (int i = 0; i < CLI_MAX_JOBS; i++) {
    engine_call& call = r->calls[i];
    call.cancel = &stop_taking;
    call.worked = &worked;
    call.use_worker = true;  // reading and writing beside the deciphering
    call.random = &r->randoms[i];
  }
  __atomic_store_n(&running, r, __ATOMIC_RELEASE);
  int started = 0;
  while (started < jobs && (workers[started] = rt_worker_start()) != nullptr)
    rt_worker_give(workers[started++], run_worker, r);
  if (started == 0) run_worker(r);  // no thread to be had: this one works
  return started;
}

// An item's report, to the face or the console; false when standard
// output was closed.
static bool run_report(const cli_options& o, const cli_item& item) {
  if (face == nullptr) return cli_report_item(o, item);
  bool on_listing = true;
  std::string line = cli_report_item_text(o, item, &on_listing);
  face->item(face->context, item, line.c_str());
  return true;
}

// The progress, to the face at most four times a second (and finally), or
// as the console's line.
static void run_progress(cli_progress* p, const cli_batch& batch, int done, bool final) {
  if (face == nullptr) return cli_progress_draw(p, batch, done, final);
  double now = seconds_now();
  if (!final && now - p->last_draw < 0.25) return;
  p->last_draw = now;
  uint64_t worked_now = cli_progress_measure(p);
  face->progress(face->context, done, batch.count(), worked_now, p->total,
                 final ? -1 : cli_progress_seconds_left(p),
                 final ? nullptr : cli_progress_current(batch, done));
}

// Reports the items in their order as they are done, drawing the progress
// meanwhile.  When the run is stopped, the files being worked stop at their
// next piece; a worker that does not come back within seconds (one waiting
// for standard input) is left behind.  Returns how many were printed;
// *finished counts those not stopped.
static int run_reports(const cli_options& o, cli_batch* batch, cli_progress* p, int* finished) {
  int printed = 0;
  double stopped_at = 0;
  while (printed < batch->count()) {
    while (printed < batch->count() &&
           __atomic_load_n(&batch->items[printed].done, __ATOMIC_ACQUIRE)) {
      cli_item& item = batch->items[printed++];
      cli_progress_wipe(p);
      if (item.outcome == OUTCOME_STOPPED) continue;
      // A reader that went away ends the run, once, without a line per file.
      if (!run_report(o, item) && !out_closed) {
        out_closed = true;
        __atomic_store_n(&stop_taking, 1, __ATOMIC_SEQ_CST);
      }
      ++*finished;
    }
    if (printed == batch->count()) break;
    if (stopping()) {
      if (stopped_at == 0) stopped_at = seconds_now();
      if (__atomic_load_n(&busy, __ATOMIC_ACQUIRE) == 0 || seconds_now() - stopped_at > 2) break;
    }
    run_progress(p, *batch, printed, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return printed;
}

// The end of a run that was interrupted or lost its standard output: what
// the engine's calls still hold goes, and one line says what was done.
static int run_cut_short(const cli_options& o, const cli_batch& batch, int finished,
                         int interrupted) {
  cli_run_remove_temp_files();
  const char* why = interrupted == 0               ? "standard output was closed"
                    : face != nullptr ? face->stopped_word
                                      : "interrupted";
  const std::string count = cli_count_text(batch.count(), "file", "files");
  std::string line =
      finished < batch.count()
          ? cli_format("qelv: %s: %d of %s finished; the rest were not %s", why, finished,
                       count.c_str(), cli_traits(o.command).done_files)
          : cli_format("qelv: %s: all %s finished", why, count.c_str());
  if (face != nullptr) face->closing(face->context, line.c_str(), true);
  else cli_print_text(cli_err, line + "\n");
  fflush(cli_err);
  return interrupted != 0 ? interrupted : 1;
}

int cli_run(const cli_options& o, cli_batch* batch, const char* key) {
  if (!run_spool(o, batch)) return 1;
  if (cli_traits(o.command).headers_only) return run_info(o, batch);
  __atomic_store_n(&stop_status, 0, __ATOMIC_SEQ_CST);
  __atomic_store_n(&stop_taking, 0, __ATOMIC_SEQ_CST);
  out_closed = false;
  __atomic_store_n(&in_loop, 1, __ATOMIC_SEQ_CST);
  int pending = 0;
  int64_t total = run_sizes(batch, &pending);
  cli_progress p;
  cli_progress_start(&p, !o.quiet && cli_console_is_terminal(cli_err), &worked, total);
  static run_state r;
  r = {&o, batch, key, 0, 0, {}, {}};
  rt_worker* workers[CLI_MAX_JOBS];
  int started = run_start(&r, run_workers(o, pending), workers);
  int finished = 0;
  int printed = run_reports(o, batch, &p, &finished);
  bool joined = __atomic_load_n(&busy, __ATOMIC_ACQUIRE) == 0 || !stopping();
  for (int i = 0; joined && i < started; i++) {
    rt_worker_wait(workers[i]);
    rt_worker_stop(workers[i]);
  }
  __atomic_store_n(&in_loop, 0, __ATOMIC_SEQ_CST);
  int interrupted = cli_run_stopped();
  bool whole = printed == batch->count() && !stopping();
  if (whole) run_progress(&p, *batch, batch->count(), true);
  if (p.shown && whole) cli_print(cli_err, "\n");
  else cli_progress_wipe(&p);
  if (interrupted != 0 || out_closed) return run_cut_short(o, *batch, finished, interrupted);
  cli_report_stale(*batch);
  if (face != nullptr) {
    bool shown = false;
    std::string line = cli_report_summary_text(o, *batch, &shown);
    face->closing(face->context, line.c_str(), false);
  } else {
    cli_report_summary(o, *batch);
  }
  fflush(cli_err);
  for (const cli_item& item : batch->items)
    if (item.outcome == OUTCOME_FAILED) return 1;
  return 0;
}
