// The qelv program: the runtime around one run of the command line.

#include <clocale>

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "cli.h"

#ifdef _WIN32
// The tool expands patterns itself (cli_expand_pattern), matching names
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
#ifdef _WIN32
  // From the wide command line, which no best guess has touched (see
  // cli_platform_win32.cpp).
  char** wide_made = cli_platform_arguments(&argc);
  if (wide_made != nullptr) argv = wide_made;
#else
  setlocale(LC_CTYPE, "");  // a key typed here is text in the locale's encoding
#endif
  // Reading and writing beside the deciphering, on another processor.
  engine_allow_worker(true);
  rt_start();
  cli_guard_interrupts(remove_temporary_files);
  int status = cli_main(argc, argv);
  if (cli_run_stopped() != 0) {
    // Interrupted: the run has said so and cleaned up.
    remove_temporary_files();
    cli_interrupt_end();
  }
  rt_stop();
  return status;
}
