// The qelv program: the runtime around one run of the command line.

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "cli.h"
#include "cli_codepage.h"
#include "cli_interrupts.h"
#include "cli_run.h"
#include "cli_stream.h"

#ifdef _WIN32
// The tool expands patterns itself (cli_paths_expand), matching names
// case-blind and never by their short forms, so the C library must not.
int _dowildcard = 0;
#endif

// Every temporary file of the run: the tool's own, and those of the
// engine's calls in progress.
static void remove_temporary_files() {
  cli_run_remove_temp_files();
  cli_stream_cleanup();
}

int main(int argc, char** argv) {
  cli_codepage_start(&argc, &argv);
  rt_start();
  cli_interrupts_guard(remove_temporary_files);
  int status = cli_main(argc, argv);
  if (cli_run_stopped() != 0) {
    // Interrupted: the run has said so and cleaned up.
    remove_temporary_files();
    cli_interrupts_end();
  }
  rt_stop();
  return status;
}
