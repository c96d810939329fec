// What a run works on: the FILE arguments turned into items
// (cli_inputs.cpp), each item's output planned, and the checks that keep an
// output from harming a file it should not (cli_plan.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli_inspect.h"

struct cli_options;

// OK: written (or verified); CURRENT: the output was up to date (--update);
// STOPPED: stopped at a piece by an interrupt or a closed standard output,
// nothing written; DELETED: an output without input removed (--delete).
enum cli_outcome {
  OUTCOME_OK, OUTCOME_SKIPPED, OUTCOME_FAILED, OUTCOME_CURRENT, OUTCOME_STOPPED, OUTCOME_DELETED
};

struct cli_item {
  char* path;           // the file as given or found; for standard input, its spool file
  const char* shown;    // the name in messages: path, or "(standard input)"
  int relative_at;      // where in path the part kept under --out-dir begins
  char* output;         // the planned output, or null (verify, info, or no name to give)
  // Set while collecting or planning for an item that is not worked: the
  // outcome it has from the start, and the reason it is shown with unless
  // message gives one.
  bool settled;
  cli_outcome settled_outcome;
  const char* settled_reason;
  const char* skip_kind;  // a skip's reason in a word or two, for the closing summary
  bool from_stdin;
  bool orphan;  // an output without input (cli_orphans.h), not an input
  int started;  // set by the worker that takes the item
  // The input's header, read once by whoever needs it first
  // (cli_inputs_header): the planning, or the worker that has the item.
  bool header_known;
  cli_header_read header;
  // Filled in by the worker; done is set last.
  cli_outcome outcome;
  char* message;  // the reason of a failure or a skip
  int64_t size, output_size;
  double seconds;
  int done;
};

// Which file an input is, whatever its spelling.
struct cli_identity {
  uint64_t volume, file;
  int item;
};

struct cli_batch {
  cli_item* items;
  int count, capacity;
  std::vector<cli_identity> identities;  // of the inputs when the run began, sorted
  // Temporary files of the engine's found where the run reads or writes:
  // sorted, each once, when the run is planned.
  std::vector<std::string> stale;
};

// Turns the FILE arguments into items: patterns expanded, folders walked
// under --recursive and noted otherwise.  Returns 0; 2 after a usage
// message; 1 when memory ran out, which it says.
int cli_inputs_collect(const cli_options& o, char** args, int count, cli_batch* batch);
// Plans each item's output, and refuses the later of two items that would
// write one output.
void cli_inputs_plan(const cli_options& o, cli_batch* batch);
// True when the output of item index would harm a file it should not; the
// reason is then in text.  Looks at the disk as it is now.
bool cli_inputs_refuse_output(const cli_options& o, const cli_batch& batch, int index,
                              char* text, int capacity);
// Makes the folders under --out-dir that an output lies in, --out-dir and
// its parents included.
bool cli_inputs_make_folders(const cli_options& o, const char* output, char* text,
                             int capacity);
// Notes in the batch the engine's temporary files (rt_is_temp_name) that
// lie in the folders the planned outputs go to; the folders walked were
// looked at while collecting.
void cli_inputs_find_stale(cli_batch* batch);
bool cli_inputs_ends_with_suffix(const char* name, const char* suffix);
// Adds an output without input (cli_orphans.h), found at path: failed for
// reason, or, when removed, for the worker that takes it to remove.  False
// when memory ran out.
bool cli_inputs_add_orphan(cli_batch* batch, const char* path, const char* reason, bool removed);
// The header of item's input, read the first time it is asked for and
// kept with the item for the rest of the run.
const cli_header_read& cli_inputs_header(cli_item* item);
// Where the name of path begins, after its last separator.
int cli_inputs_name_at(const char* path);
// Notes path among the temporary files found.
void cli_inputs_note_stale(cli_batch* batch, const char* path);
// A copy of text for an item's path or message, freed with the batch;
// null when memory ran out.
char* cli_inputs_copy(const char* text);
void cli_inputs_free(cli_batch* batch);
