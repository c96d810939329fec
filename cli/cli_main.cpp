// A run from its request to its exit status: the options checked, the key
// obtained, the files gathered (cli_inputs.cpp) and planned (cli_plan.cpp),
// the outputs without inputs found (cli_orphans.cpp) and the items worked
// (cli_run.cpp), each on its own, so that one failure does not stop the
// others; and the console's run of a command line.

#include "cli.h"

#include <cstring>
#include <new>

#include "cli_console.h"
#include "cli_console_face.h"
#include "cli_inputs.h"
#include "cli_plan.h"
#include "cli_key.h"
#include "cli_options.h"
#include "cli_orphans.h"
#include "cli_run.h"
#include "cli_work.h"

// Items that will be worked, that is, all but those decided while planning.
static int worked_count(const cli_batch& batch) {
  int n = 0;
  for (const cli_item& item : batch.items) n += !item.decided;
  return n;
}

static int run_batch(cli_run* run) {
  const cli_options& o = *run->o;
  std::string why;
  int status = cli_inputs_collect(o, &run->batch, &why);
  if (status != 0) return cli_run_usage(run, "%s", why.c_str());
  // Counted once the FILEs are listed: one pattern or folder may name more.
  if (status == 0 && o.output != nullptr && worked_count(run->batch) > 1)
    status = cli_run_usage(run, "--output takes one file; use --out-dir for more");
  if (status == 0) {
    cli_plan(o, &run->batch);
    why = cli_orphans_find(o, &run->batch);
    if (!why.empty()) cli_run_say(run, "qelv: --delete refused, nothing was done: " + why);
    status = why.empty() ? 0 : 1;
  }
  if (status != 0) return status;
  cli_orphans_find_missing(o, &run->batch);
  cli_plan_find_stale(&run->batch);
  return cli_work(run);
}

int cli_run_request(cli_run* run, const cli_request& request, const cli_face& face) {
  run->batch = {};
  run->stop_taking = run->stop_status = run->busy = run->in_loop = 0;
  run->out_closed = false;
  run->next = run->workers = 0;
  run->request = &request;
  run->o = &request.options;
  run->face = &face;
  const cli_options& o = request.options;
  std::string why = cli_options_check(o, request.out);
  int status = why.empty() ? 0 : cli_run_usage(run, "%s", why.c_str());
  if (status == 0 && cli_traits(o.command).keyed) status = cli_key_obtain(run);
  // The tool's lists and texts are the standard library's, which raise on
  // memory that cannot be had; the engine's calls raise nothing.
  try {
    if (status == 0) status = run_batch(run);
  } catch (const std::bad_alloc&) {
    cli_run_say(run, "qelv: out of memory");
    status = 1;
  }
  memset(run->key, 0, sizeof run->key);  // the key lives no longer than the run
  cli_run_remove_own_files(run);
  return status;
}

int cli_main(cli_run* run, int argc, char** argv, FILE* in, FILE* out, FILE* err) {
  cli_request request = {};
  std::string text;
  int status = cli_options_read(argc, argv, &request.options, &text);
  if (status < 0) {
    cli_console_write_text(out, text.c_str());
    return 0;
  }
  if (status != 0) {
    cli_console_write_text(err, ("qelv: " + text + "\nTry 'qelv --help'.\n").c_str());
    fflush(err);
    return status;
  }
  cli_options& o = request.options;
  // With no FILE, encrypt and decrypt take standard input when it comes
  // from a file or a pipe, as other tools of their kind do; on a terminal
  // that would wait for typing, so it stays a usage error.
  if (o.files.empty() && cli_traits(o.command).writes && !cli_console_is_terminal(in))
    o.files.push_back("-");
  request.in = in;
  request.out = out;
  cli_console_face console = {in, out, err, false, {}};
  cli_face face = cli_console_face_for(&console, o);
  return cli_run_request(run, request, face);
}
