// The console's progress line on standard error while a run goes on: files
// done, the share of the bytes, the speed, the time left and the file being
// worked, written over in place and wiped before any other line.
#pragma once

#include <cstdio>

struct cli_progress_view;

struct cli_progress_line {
  FILE* stream;  // the terminal it is drawn on; null: none is drawn
  bool shown;    // drawn at least once
  bool whole;    // last drawn as the run's final view
  int width;     // of the widest line drawn, which a shorter one covers
};

// Draws the view; a final one only when a line was shown before.
void cli_progress_draw(cli_progress_line* p, const cli_progress_view& view);
// Wipes it before another line is printed.
void cli_progress_wipe(cli_progress_line* p);
// Ends it: a line left whole (100%) keeps its place, any other goes.
void cli_progress_end(cli_progress_line* p);
