// The console's face of a run (cli_face): the item lines on standard
// output (the skips and failures, and the listing when standard output
// carries the data, on standard error), the progress line on a terminal,
// the tool's notes and usage errors and the closing summary on standard
// error, and the key asked for on the terminal without echo.
#pragma once

#include <cstdio>

#include "cli.h"
#include "cli_progress.h"

struct cli_console_face {
  FILE* in;
  FILE* out;
  FILE* err;
  bool listing_to_err;  // standard output carries the data
  cli_progress_line progress;
};

// The face over console, whose streams are set, for a run of o.
cli_face cli_console_face_for(cli_console_face* console, const cli_options& o);
