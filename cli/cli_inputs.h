// What a run works on: the FILE arguments turned into items
// (cli_inputs.cpp), each item's output planned, and the checks that keep an
// output from harming a file it should not (cli_plan.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../engine/engine_call.h"
#include "cli_inspect.h"

struct cli_options;

// OK: written (or verified); CURRENT: the output was up to date (--update);
// STOPPED: stopped at a piece by an interrupt or a closed standard output,
// nothing written; DELETED: an output without input removed (--delete).
enum cli_outcome {
  OUTCOME_OK, OUTCOME_SKIPPED, OUTCOME_FAILED, OUTCOME_CURRENT, OUTCOME_STOPPED, OUTCOME_DELETED
};

// Where an item's output goes, decided when it is planned.
enum cli_output_kind {
  OUTPUT_NONE,      // none (verify, info, or no name to give)
  OUTPUT_FILE,      // a file, through the output commit
  OUTPUT_STANDARD,  // standard output ("-")
  OUTPUT_DEVICE,    // a device or pipe named, written through the C library
};

struct cli_item {
  std::string path;    // the file as given or found; for standard input, its spool file
  std::string shown;   // the name in messages: path, or "(standard input)"
  int relative_at = 0; // where in path the part kept under --out-dir begins
  std::string output;  // the planned output; empty for none
  std::string input;   // verify --input-dir: the file it was made from; empty for none
  cli_output_kind output_kind = OUTPUT_NONE;
  bool encrypts = false;  // its input is plain data, which the run encrypts
  // Which file the input is, found when it was planned (has_identity false
  // when it has none).
  bool has_identity = false;
  uint64_t volume = 0, file = 0;
  // An item whose outcome was decided while collecting or planning, before
  // any work: it is not worked, and reason says why.
  bool decided = false;
  cli_outcome decided_outcome = OUTCOME_OK;
  const char* skip_kind = nullptr;  // a skip's reason in a word or two, for the closing summary
  bool from_stdin = false;
  bool orphan = false;  // an output without input (cli_orphans.h), not an input
  int started = 0;      // set by the worker that takes the item
  // The input's header, read once by whoever needs it first
  // (cli_inputs_header): the planning, or the worker that has the item.
  bool header_known = false;
  cli_header_read header = {};
  // Filled in by the worker; done is set last.
  cli_outcome outcome = OUTCOME_OK;
  std::string reason;  // why it failed, was skipped or deleted
  bool failed_check = false;  // failed because the check value did not match under the key
  // An engine call that failed, worded when the item is reported: its
  // result, where it failed, and the temporary file it wrote for a stream.
  const char* result = nullptr;
  engine_failure failure = {};
  std::string written;
  int64_t size = 0, output_size = 0;
  double seconds = 0;
  int done = 0;

  bool has_output() const { return !output.empty(); }
  bool to_stream() const { return output_kind == OUTPUT_STANDARD || output_kind == OUTPUT_DEVICE; }
};

// Which file an input is, whatever its spelling.
struct cli_identity {
  uint64_t volume, file;
  int item;
};

struct cli_batch {
  std::vector<cli_item> items;  // never added to once the workers start
  std::vector<cli_identity> identities;  // of the inputs when the run began, sorted
  // Temporary files of the engine's found where the run reads or writes:
  // sorted, each once, when the run is planned.
  std::vector<std::string> stale;
  bool outputs_walked = false;  // every output folder was walked (and its stale files noted)

  int count() const { return static_cast<int>(items.size()); }
};

// Turns the FILE arguments into items: patterns expanded, folders walked
// under --recursive.  Returns 0, or 2 with the usage error in *usage.
int cli_inputs_collect(const cli_options& o, cli_batch* batch, std::string* usage);
bool cli_inputs_ends_with_suffix(const char* name, const char* suffix);
// Takes the suffix off path when its name ends in it and holds more than
// it (a name that is only the suffix keeps it: it would be left empty);
// false, and path as it was, otherwise.
bool cli_inputs_strip_suffix(std::string* path, const char* suffix);
// Adds an output without input (cli_orphans.h), found at path: failed for
// reason, or, when removed, for the worker that takes it to remove.
void cli_inputs_add_orphan(cli_batch* batch, const std::string& path, const std::string& reason,
                           bool removed);
// The header of item's input, read the first time it is asked for and
// kept with the item for the rest of the run.
const cli_header_read& cli_inputs_header(cli_item* item);
// Where the name of path begins, after its last separator.
int cli_inputs_name_at(const char* path);
// Notes path among the temporary files found.
void cli_inputs_note_stale(cli_batch* batch, const std::string& path);
