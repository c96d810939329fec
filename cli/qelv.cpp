// The qelv program: the runtime around one run of the command line, and
// the interrupts that stop it.

#include <cstdio>
#include <memory>

#include "../runtime/runtime.h"
#include "cli.h"
#include "cli_codepage.h"
#include "cli_interrupts.h"
#include "cli_run.h"

#ifdef _WIN32
// The tool expands patterns itself (cli_paths_expand), matching names
// case-blind and never by their short forms, so the C library must not.
int _dowildcard = 0;
#endif

// The run an interrupt stops: the interrupt's thread (or the system's
// console handler on Windows) must reach it, and nothing else could hand
// it over.  Set once, before the interrupts are taken.
static cli_run* interrupted_run;

static bool stop_run(int status) { return cli_run_stop(interrupted_run, status); }
static void remove_temporary_files() { cli_run_remove_temp_files(interrupted_run); }

int main(int argc, char** argv) {
  cli_codepage_start(&argc, &argv);
  rt_start();
  std::unique_ptr<cli_run> run(new cli_run);
  interrupted_run = run.get();
  cli_interrupts_guard(stop_run, remove_temporary_files);
  int status = cli_main(run.get(), argc, argv, stdin, stdout, stderr);
  if (cli_run_stopped(run.get()) != 0) {
    // Interrupted: the run has said so and cleaned up.
    remove_temporary_files();
    cli_interrupts_end();
  }
  rt_stop();
  return status;
}
