// The work of a run: worker threads take the items in turn (cli_item.cpp),
// one file each at a time, while this thread reports them to the face in
// the order of the items, with the progress four times a second.
//
// Workers are threads rather than processes: the runtime claims its
// open-file slots with atomic exchanges (see runtime.h), and each worker's
// engine context carries a generator of its own, so engine calls may run
// side by side without a lock in the module's path, and one process keeps
// a single report, a single key and a single set of temporary files to
// clean up.

#include "cli_work.h"

#include <chrono>
#include <new>
#include <string>
#include <thread>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../runtime/runtime.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_item.h"
#include "cli_print.h"
#include "cli_report.h"
#include "cli_run.h"
#include "cli_stream.h"

static bool stopping(const cli_run* run) {
  return __atomic_load_n(&run->stop_taking, __ATOMIC_SEQ_CST) != 0;
}

// One item, its outcome set whatever happens: memory refused to a text
// fails that item alone (its reason fits without any).
static void run_item(cli_run* run, int index, engine_call* call) {
  try {
    cli_item_work(run, index, call);
  } catch (const std::bad_alloc&) {
    cli_item& item = run->batch.items[index];
    item.outcome = OUTCOME_FAILED;
    item.reason = "out of memory";
    __atomic_store_n(&item.done, 1, __ATOMIC_RELEASE);
  }
}

static void run_worker(void* state) {
  auto* run = static_cast<cli_run*>(state);
  engine_call* call = &run->calls[__atomic_fetch_add(&run->workers, 1, __ATOMIC_RELAXED)];
  for (;;) {
    __atomic_fetch_add(&run->busy, 1, __ATOMIC_ACQ_REL);
    int index = __atomic_fetch_add(&run->next, 1, __ATOMIC_RELAXED);
    bool take = index < run->batch.count() && !stopping(run);
    if (take) run_item(run, index, call);
    __atomic_fetch_sub(&run->busy, 1, __ATOMIC_ACQ_REL);
    if (!take) return;
  }
}

// info shows each file's fields as it reads them, in this thread, and for
// several files a summary that counts them by the two judgements.
static int run_info(cli_run* run) {
  const cli_options& o = *run->o;
  int failures = 0, written = 0, readable = 0;
  for (cli_item& item : run->batch.items) {
    item.outcome = item.decided ? item.decided_outcome : OUTCOME_OK;
    std::string reason = item.decided ? item.reason : cli_explain_input(item.path.c_str());
    if (reason.empty()) {
      const cli_header_read& header = cli_inputs_header(&item);
      std::string fields;
      const char* result = cli_inspect_info(item.path.c_str(), header, item.shown.c_str(), &fields);
      if (!o.quiet && !fields.empty()) {
        fields.pop_back();  // the face adds the line end
        run->face->item(run->face->context, item, fields, true);
      }
      if (result != result_ok)
        reason = cli_explain({item.path.c_str(), &header, nullptr, false, false, false, result},
                             engine_failure{});
      else if (cli_inspect_written_by_encrypt(header)) written++;
      else readable++;
    }
    if (!reason.empty()) {
      if (item.outcome == OUTCOME_OK) item.outcome = OUTCOME_FAILED;
      item.reason = reason;
      bool on_listing = true;
      std::string line = cli_report_item_text(o, item, &on_listing);
      run->face->item(run->face->context, item, line, on_listing);
    }
    failures += item.outcome == OUTCOME_FAILED;
  }
  std::string line = "qelv: " + cli_count_text(run->batch.count(), "file", "files") +
                     cli_format(": %d written by encryption", written);
  if (readable > 0) line += cli_format(", %d readable by decryption only", readable);
  if (failures > 0) line += cli_format(", %d failed", failures);
  run->face->closing(run->face->context, line, false, run->batch.count() > 1);
  return failures > 0 ? 1 : 0;
}

// Spools standard input into a temporary file for the item that reads it,
// unless it is encrypted as it is read.
static bool run_spool(cli_run* run) {
  for (cli_item& item : run->batch.items) {
    if (!item.from_stdin || cli_traits(run->o->command).encrypts) continue;
    std::string path, why;
    if (!cli_stream_spool_input(run, &path, &why)) {
      cli_run_say(run, item.shown + ": " + why);
      return false;
    }
    item.path = path;
  }
  return true;
}

// Each worker holds at most two of the runtime's open files at once (a
// source and a temporary file, or a file it inspects or copies out).
static_assert(2 * int{CLI_MAX_JOBS} <= int{RT_MAX_OPEN_FILES}, "workers would run out of files");

static int run_jobs(const cli_options& o, int pending) {
  int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::thread::hardware_concurrency());
  if (jobs > CLI_MAX_JOBS) jobs = CLI_MAX_JOBS;
  if (jobs > pending) jobs = pending;
  return jobs < 1 ? 1 : jobs;
}

// The bytes the run will work, as far as known from the sizes planned;
// *pending: the items to be worked.
static int64_t run_sizes(const cli_batch* batch, int* pending) {
  int64_t total = 0;
  *pending = 0;
  for (const cli_item& item : batch->items) {
    if (item.decided) continue;
    ++*pending;
    total += item.size > 0 ? item.size : 0;
  }
  return total;
}

// Starts the workers, the runtime's worker threads, each given one job: to
// take items until none is left.  Returns how many started; with none this
// thread has done the work.
static int run_start(cli_run* run, int jobs, rt_worker** workers) {
  for (int i = 0; i < CLI_MAX_JOBS; i++) {
    engine_call& call = run->calls[i];
    call = {};
    call.cancel = &run->stop_taking;
    call.worked = &run->worked;
    call.use_worker = true;  // reading and writing beside the deciphering
    call.random = &run->randoms[i];
  }
  int started = 0;
  while (started < jobs && (workers[started] = rt_worker_start()) != nullptr)
    rt_worker_give(workers[started++], run_worker, run);
  if (started == 0) run_worker(run);  // no thread to be had: this one works
  return started;
}

// The progress of the run, measured from the engine's count, which wraps at
// 2^32, and handed to the face at most four times a second.
struct run_clock {
  double start, last;
  uint32_t last_count;
  uint64_t worked;
  int64_t total;
};

static void run_progress(cli_run* run, run_clock* c, int done, bool final) {
  double now = cli_run_clock();
  if (!final && (now - c->start < 0.25 || now - c->last < 0.25)) return;
  c->last = now;
  uint32_t count_now = __atomic_load_n(&run->worked, __ATOMIC_RELAXED);
  c->worked += static_cast<uint32_t>(count_now - c->last_count);
  c->last_count = count_now;
  cli_progress_view view = {done, run->batch.count(), c->worked, c->total, now - c->start, -1,
                            nullptr, final};
  double speed = view.seconds > 0 ? static_cast<double>(c->worked) / view.seconds : 0.0;
  if (!final && speed > 0 && c->total > static_cast<int64_t>(c->worked))
    view.seconds_left = static_cast<double>(c->total - c->worked) / speed;
  // The file being worked: the first one taken and not done.
  for (int i = done; !final && i < run->batch.count() && view.current == nullptr; i++) {
    const cli_item& item = run->batch.items[i];
    if (__atomic_load_n(&item.started, __ATOMIC_ACQUIRE) &&
        !__atomic_load_n(&item.done, __ATOMIC_ACQUIRE) && !item.decided)
      view.current = item.shown.c_str();
  }
  run->face->progress(run->face->context, view);
}

// Reports the items in their order as they are done, with the progress
// meanwhile.  When the run is stopped, the files being worked stop at their
// next piece; a worker that does not come back within seconds (one waiting
// for standard input) is left behind.  Returns how many were reported;
// *finished counts those not stopped.
static int run_reports(cli_run* run, run_clock* clock, int* finished) {
  cli_batch& batch = run->batch;
  int reported = 0;
  double stopped_at = 0;
  while (reported < batch.count()) {
    while (reported < batch.count() && __atomic_load_n(&batch.items[reported].done, __ATOMIC_ACQUIRE)) {
      cli_item& item = batch.items[reported++];
      if (item.outcome == OUTCOME_STOPPED) continue;
      cli_report_word(&item);
      bool on_listing = true;
      std::string line = cli_report_item_text(*run->o, item, &on_listing);
      // A reader that went away ends the run, once, without a line per file.
      if (!run->face->item(run->face->context, item, line, on_listing) && !run->out_closed) {
        run->out_closed = true;
        __atomic_store_n(&run->stop_taking, 1, __ATOMIC_SEQ_CST);
      }
      ++*finished;
    }
    if (reported == batch.count()) break;
    if (stopping(run)) {
      if (stopped_at == 0) stopped_at = cli_run_clock();
      if (__atomic_load_n(&run->busy, __ATOMIC_ACQUIRE) == 0 || cli_run_clock() - stopped_at > 2)
        break;
    }
    run_progress(run, clock, reported, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return reported;
}

// The end of a run that was stopped or lost its standard output: what the
// engine's calls still hold goes, and one line says what was done.
static int run_cut_short(cli_run* run, int finished, int stopped) {
  cli_run_remove_temp_files(run);
  const cli_batch& batch = run->batch;
  const char* why = stopped == 0 ? "standard output was closed" : run->face->stopped_word;
  const std::string count = cli_count_text(batch.count(), "file", "files");
  std::string line =
      finished < batch.count()
          ? cli_format("qelv: %s: %d of %s finished; the rest were not %s", why, finished,
                       count.c_str(), cli_traits(run->o->command).done_files)
          : cli_format("qelv: %s: all %s finished", why, count.c_str());
  run->face->closing(run->face->context, line, true, true);
  return stopped != 0 ? stopped : 1;
}

int cli_work(cli_run* run) {
  if (!run_spool(run)) return 1;
  if (cli_traits(run->o->command).headers_only) return run_info(run);
  int pending = 0;
  run_clock clock = {cli_run_clock(), 0, 0, 0, run_sizes(&run->batch, &pending)};
  rt_worker* workers[CLI_MAX_JOBS];
  __atomic_store_n(&run->in_loop, 1, __ATOMIC_SEQ_CST);
  int started = run_start(run, run_jobs(*run->o, pending), workers);
  int finished = 0;
  int reported = run_reports(run, &clock, &finished);
  bool joined = __atomic_load_n(&run->busy, __ATOMIC_ACQUIRE) == 0 || !stopping(run);
  for (int i = 0; joined && i < started; i++) {
    rt_worker_wait(workers[i]);
    rt_worker_stop(workers[i]);
  }
  __atomic_store_n(&run->in_loop, 0, __ATOMIC_SEQ_CST);
  int stopped = cli_run_stopped(run);
  if (reported == run->batch.count() && !stopping(run)) run_progress(run, &clock, reported, true);
  if (stopped != 0 || run->out_closed) return run_cut_short(run, finished, stopped);
  std::string stale = cli_report_stale(run->batch);
  if (!stale.empty()) cli_run_note(run, "%s", stale.c_str());
  bool several = false;
  std::string line = cli_report_summary_text(*run->o, run->batch, &several);
  run->face->closing(run->face->context, line, false, several);
  for (const cli_item& item : run->batch.items)
    if (item.outcome == OUTCOME_FAILED) return 1;
  return 0;
}
