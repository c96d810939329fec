// The command line, read once into the options of one run.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli_exclude.h"

enum cli_command { CMD_ENCRYPT, CMD_DECRYPT, CMD_VERIFY, CMD_INFO };

// What sets one command apart from the others, in one place: the rest of
// the tool asks these, not which command it runs.
struct cli_command_traits {
  const char* name;        // as typed
  bool encrypts;        // its FILEs hold plain data (encrypt), not encrypted files
  bool writes;             // it writes an output for each FILE
  bool keyed;              // it needs the key
  bool headers_only;       // it reads only the files' headers (info)
  bool by_suffix;          // in a folder it takes only the names with the suffix
  const char* done;        // an item that went well, in the summary: "written"
  const char* done_files;  // the files that went well, in a line on an interrupt
};
// The traits of the command o runs.
const cli_command_traits& cli_traits(cli_command command);

// Files worked at once at the most.
enum { CLI_MAX_JOBS = 8 };

struct cli_options {
  cli_command command;
  const char* output;   // --output; "-" is standard output
  const char* out_dir;  // --out-dir
  const char* suffix;
  bool force;            // overwrite existing outputs
  bool update;           // skip inputs whose output is up to date, replace the others
  bool allow_encrypted;  // encrypt inputs that already are encrypted files
  bool delete_orphans;   // remove outputs without inputs under --out-dir
  long max_delete;       // --max-delete: the most --delete may remove; -1 not given
  bool dry_run;          // say what would be done, and do nothing
  cli_excludes excludes; // inputs left out of the run
  const char* input_dir; // verify: the folder the files were encrypted from
  bool to_terminal;      // binary output may go to a terminal
  bool in_place, recursive, quiet, help, version, key_bytes;
  const char* key_file;
  const char* key_env;
  const char* key_text;  // argv's own string, whose wide form cli_codepage_argument_points finds
  int key_sources;
  unsigned key_codepage;  // the scripts' code page the key is converted to
  int jobs;               // workers, up to CLI_MAX_JOBS; 0: one per processor
  // The FILEs, argv's own strings (whose wide forms the code-page layer
  // finds by them); "-" is standard input, also when encrypt or decrypt
  // is given no FILE and standard input is no terminal.
  std::vector<const char*> files;
};

// Reads argv[1] (the command) and the options and FILEs after it into o.
// Returns 0 to run; -1 when the help or the version was asked for (text:
// what to print); 2 for a usage error (text: what is wrong).  The options
// that need the disk are checked by cli_options_check.
int cli_options_read(int argc, char** argv, cli_options* o, std::string* text);
// Why the options do not go together, looking at the disk and at out (the
// run's standard output, null for none); empty when they do.
std::string cli_options_check(const cli_options& o, FILE* out);
// The options of command as none were given.
cli_options cli_options_for(cli_command command);
