// The work of a run: the workers, the progress line and the report.
#pragma once

#include <cstdint>

struct cli_batch;
struct cli_item;
struct cli_options;

// Another face for the run than the console's (a window's): called on the
// thread that runs cli_run, in place of the item lines, the progress line
// and the closing lines that the console gets.  Notes and usage messages
// still go to the error stream.
struct cli_run_face {
  void* context;
  // The word for a run stopped by cli_run_stop, where the console says
  // "interrupted".
  const char* stopped_word;
  // Each item as it is reported, in the order of the items, with its line
  // as the console shows it (without the line end; empty for an up-to-date
  // file).  Stopped items are not reported.
  void (*item)(void* context, const cli_item& item, const char* line);
  // About four times a second, and once at the end: items reported of
  // count, bytes worked of total, seconds left (-1 when not known) and the
  // file being worked (null when none).
  void (*progress)(void* context, int done, int count, uint64_t worked, int64_t total,
                   double seconds_left, const char* current);
  // The last line: the summary, or, stopped, what was finished.
  void (*closing)(void* context, const char* line, bool stopped);
};
// The face of the runs from now on; null: the console.
void cli_run_set_face(const cli_run_face* face);

// Works the batch's items and reports them; returns cli_main's status.
int cli_run(const cli_options& o, cli_batch* batch, const char* key);
// For the interrupt handling, from any thread: no further item is taken,
// the engine's calls stop at their next piece, and cli_run returns status
// once the running files have stopped and their temporary files are gone.
// True when a run is there to do so; false when none is going on.
bool cli_run_stop(int status);
// The status cli_run_stop was given, or 0.
int cli_run_stopped();
// The workers still inside an item.
int cli_run_busy();
// Removes the temporary files of the engine's calls in progress.
void cli_run_remove_temp_files();
