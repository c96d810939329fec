// A run of the tool: its state, in one object that the caller holds (the
// program's main, a test, the window), and what every part of the tool asks
// of it (cli_run.cpp); the work of its items is cli_work.cpp's.
#pragma once

#include <cstdint>
#include <string>

#include "../engine/engine_call.h"
#include "../runtime/random_state.h"
#include "cli.h"
#include "cli_inputs.h"
#include "cli_options.h"

struct cli_run {
  // The request and the face, for the length of cli_run_request.
  const cli_request* request = nullptr;
  const cli_options* o = nullptr;
  const cli_face* face = nullptr;
  cli_batch batch;
  char key[CLI_KEY_CAPACITY] = {};  // wiped when the run ends
  // Stopping, from any thread (an interrupt, a window's Cancel), read and
  // written with atomic operations.  stop_taking: workers take no further
  // item, and the engine's calls stop at their next piece (the contexts'
  // cancel flag).  busy counts the items being worked, so that the run can
  // wait for the files they hold open (Windows cannot remove an open file).
  // in_loop says that the run is there to finish a stop; it and
  // stop_status are read and written in one order by both sides, so that
  // one of them always sees the other.
  int stop_taking = 0, stop_status = 0, busy = 0, in_loop = 0;
  bool out_closed = false;  // a listing line could not be written
  // The workers' share: the next item to take and the contexts claimed,
  // each with an atomic addition; the engine's count of bytes worked.
  int next = 0, workers = 0;
  uint32_t worked = 0;
  engine_call calls[CLI_MAX_JOBS] = {};
  rt_random_state randoms[CLI_MAX_JOBS] = {};  // each worker's generator
  // The tool's own temporary files (cli_stream.cpp): standard input
  // spooled, and the folder of an output bound for a stream; empty when
  // there is none.  Fixed arrays, for an interrupt's thread reads them.
  char spool_path[RT_PATH_CAPACITY] = {};
  char output_folder[RT_PATH_CAPACITY] = {};
};

// A monotonic clock, in seconds, for timings.
double cli_run_clock();

// What a run says, through its face.  cli_run_usage returns 2.
int cli_run_usage(cli_run* run, const char* format, ...) __attribute__((format(printf, 2, 3)));
void cli_run_note(cli_run* run, const char* format, ...) __attribute__((format(printf, 2, 3)));
void cli_run_say(cli_run* run, const std::string& line);

// From any thread: no further item is taken, the engine's calls stop at
// their next piece, and the run returns status once the running files have
// stopped and their temporary files are gone.  True when a run is there to
// do so; false when none is going on.
bool cli_run_stop(cli_run* run, int status);
// The status cli_run_stop was given, or 0.
int cli_run_stopped(const cli_run* run);
// Removes the temporary files of the engine's calls in progress and the
// run's own, from any thread.
void cli_run_remove_temp_files(cli_run* run);
// Removes the run's own temporary files: standard input spooled, and the
// folder of an output bound for a stream.
void cli_run_remove_own_files(cli_run* run);
