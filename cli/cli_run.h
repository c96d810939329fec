// The work of a run: the workers, the progress line and the report.
#pragma once

struct cli_batch;
struct cli_options;

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
