// qelv, the command-line tool: encrypt, decrypt, verify and inspect files in
// the encrypted file format, many at a time.  This header is the tool's
// entry: a run is asked for with a request (cli_request), reports through
// a face (cli_face: the console's, or a window's), and keeps its state in
// one object that its caller holds (cli_run, cli_run.h).  Each module has a
// header of its own; the functions of a module carry its file's name
// (cli_inputs.cpp: cli_inputs_...).  A module that differs by platform is
// one header and a file per platform (cli_console.h:
// platform/cli_console_posix.cpp, platform/cli_console_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli_options.h"

struct cli_item;
struct cli_run;

// The longest key, in bytes as spelt and in characters as typed.
enum { CLI_KEY_CAPACITY = 1024 };

// What one run is asked to do.
struct cli_request {
  cli_options options;
  // A key typed into the program around the tool (the window), as
  // characters, taken when options names no key source; the run spells it
  // in the scripts' code page and wipes its copies.  Null: none.
  const uint32_t* key_points;
  int key_count;
  // Standard input and output, for FILE - and -o -; null where a caller
  // has none.
  FILE* in;
  FILE* out;
};

// How a run asks what it says.
enum cli_said {
  SAID_USAGE,  // a usage error: the run ends with status 2
  SAID_NOTE,   // a note beside the items
  SAID_LINE,   // a line of its own ("(standard input): ...", "qelv: --delete refused ...")
};

// Where a run is at, about four times a second and once at its end.
struct cli_progress_view {
  int done, count;        // items reported, of all
  uint64_t worked;        // bytes worked so far
  int64_t total;          // bytes the run will work, as far as known
  double seconds;         // since the work began
  double seconds_left;    // -1 when not known
  const char* current;    // the file being worked, or null
  bool final;             // the run is whole: the last view
};

// Where a run reports, called on the thread that runs it.  context is the
// caller's.
struct cli_face {
  void* context;
  // The word for a run stopped by cli_run_stop: "interrupted", "cancelled".
  const char* stopped_word;
  // Each item as it is reported, in the order of the items, with its line
  // as the console shows it, without its line end (empty: no line; info's
  // fields are several lines); on_listing: it goes with the written and
  // checked files, not with the skips and failures.  False when the
  // listing could not be written (standard output closed): the run ends.
  bool (*item)(void* context, const cli_item& item, const std::string& line, bool on_listing);
  void (*progress)(void* context, const cli_progress_view& view);
  // A text of the tool's, without "qelv: " and without its line end.
  void (*say)(void* context, cli_said kind, const std::string& text);
  // The last line: the summary, or, stopped, what was finished.  several:
  // the run had several files (or skips under --quiet), for which the
  // console shows its summary.
  void (*closing)(void* context, const std::string& line, bool stopped, bool several);
  // Asks for a line without echo (the key), prompt first: 1 typed, 0
  // nothing was typed, -1 nothing can be asked (no terminal).  Null:
  // nothing can be asked.
  int (*ask)(void* context, const char* prompt, std::string* typed);
};

// Runs the request to its end on run (whose state it resets), reporting to
// face.  Returns the exit status: 0 every file was written, up to date or
// skipped; 1 a file failed, standard output was closed, or --delete was
// refused; 2 a usage error or no usable key; or the status cli_run_stop
// was given.  The caller has started the runtime.
int cli_run_request(cli_run* run, const cli_request& request, const cli_face& face);

// The console's run of a command line: argv read into a request and run
// with the console's face on in, out and err.  The exit status as above.
int cli_main(cli_run* run, int argc, char** argv, FILE* in, FILE* out, FILE* err);
