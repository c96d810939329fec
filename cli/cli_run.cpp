// A run's state and what every part of the tool asks of it: saying
// something through its face, stopping it from any thread, removing its
// temporary files, and the clock.

#include "cli_run.h"

#include <chrono>
#include <cstring>
#include <string>

#include "../engine/engine_call.h"
#include "../runtime/runtime.h"
#include "cli_paths.h"
#include "cli_print.h"

int cli_run_usage(cli_run* run, const char* format, ...) {
  va_list args;
  va_start(args, format);
  run->face->say(run->face->context, SAID_USAGE, cli_format_list(format, args));
  va_end(args);
  return 2;
}

void cli_run_note(cli_run* run, const char* format, ...) {
  if (run->o->quiet) return;
  va_list args;
  va_start(args, format);
  run->face->say(run->face->context, SAID_NOTE, cli_format_list(format, args));
  va_end(args);
}

void cli_run_say(cli_run* run, const std::string& line) {
  run->face->say(run->face->context, SAID_LINE, line);
}

bool cli_run_stop(cli_run* run, int status) {
  __atomic_store_n(&run->stop_status, status, __ATOMIC_SEQ_CST);
  __atomic_store_n(&run->stop_taking, 1, __ATOMIC_SEQ_CST);
  return __atomic_load_n(&run->in_loop, __ATOMIC_SEQ_CST) != 0;
}

int cli_run_stopped(const cli_run* run) { return __atomic_load_n(&run->stop_status, __ATOMIC_SEQ_CST); }

static void remove_entry(const char* name, cli_paths_kind kind, void* context) {
  std::string path = cli_paths_join(static_cast<const char*>(context), name);
  if (kind == PATHS_FOLDER) rt_folder_remove(path.c_str());
  else rt_file_remove(path.c_str());
}

void cli_run_remove_own_files(cli_run* run) {
  if (run->spool_path[0] != '\0') rt_file_remove(run->spool_path);
  run->spool_path[0] = '\0';
  if (run->output_folder[0] != '\0') {
    // The output, or the engine's own temporary file when the run was cut
    // short in the middle of a call.
    cli_paths_list(run->output_folder, remove_entry, run->output_folder);
    rt_folder_remove(run->output_folder);
  }
  run->output_folder[0] = '\0';
}

void cli_run_remove_temp_files(cli_run* run) {
  for (engine_call& call : run->calls)
    if (__atomic_load_n(&call.temp_state, __ATOMIC_ACQUIRE) == 1) rt_file_remove(call.temp_path);
  cli_run_remove_own_files(run);
}

double cli_run_clock() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

