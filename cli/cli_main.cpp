// One command line, from its options to the exit status: the options read,
// the key obtained, the files gathered (cli_inputs.cpp) and worked
// (cli_run.cpp), each on its own, so that one failure does not stop the
// others.

#include "cli.h"

#include <cstring>
#include <memory>
#include <new>

#include "cli_inputs.h"
#include "cli_key.h"
#include "cli_options.h"
#include "cli_orphans.h"
#include "cli_print.h"
#include "cli_run.h"
#include "cli_stream.h"

// The key, from its source to the end of the run.
static char key[CLI_KEY_CAPACITY];

// Items that will be worked, that is, all but those planned away.
static int worked_count(const cli_batch& batch) {
  int n = 0;
  for (const cli_item& item : batch.items) n += !item.decided;
  return n;
}

static int run_batch(const cli_options& o) {
  std::unique_ptr<cli_batch> owned(new cli_batch);
  cli_batch* batch = owned.get();
  int status = cli_inputs_collect(o, batch);
  // Counted once the FILEs are listed: one pattern or folder may name more.
  if (status == 0 && o.output != nullptr && worked_count(*batch) > 1)
    status = cli_usage_error("--output takes one file; use --out-dir for more");
  if (status == 0) {
    cli_inputs_plan(o, batch);
    status = cli_orphans_find(o, batch);
  }
  if (status == 0) {
    cli_orphans_find_missing(o, batch);
    cli_inputs_find_stale(batch);
    status = cli_run(o, batch, key);
  }
  // A run stopped early may have left a worker waiting for standard input,
  // which still refers to the batch until the process ends.
  if (cli_run_busy() != 0) owned.release();
  cli_stream_cleanup();
  return status;
}

int cli_main(int argc, char** argv) {
  if (cli_in == nullptr) cli_set_streams(stdin, stdout, stderr);
  cli_print_set_quiet(false);
  cli_options o;
  int status = cli_options_read(argc, argv, &o);
  if (status != 0) return status < 0 ? 0 : status;
  cli_print_set_quiet(o.quiet);
  if (cli_traits(o.command).keyed) status = cli_key_obtain(o, key);
  // The tool's lists and texts are the standard library's, which raise on
  // memory that cannot be had; the engine's calls raise nothing.
  try {
    if (status == 0) status = run_batch(o);
  } catch (const std::bad_alloc&) {
    cli_print(cli_err, "qelv: out of memory\n");
    status = 1;
  }
  memset(key, 0, sizeof key);  // the key lives no longer than the run
  return status;
}
