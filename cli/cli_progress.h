// The progress line on standard error while a run goes on: files done, the
// share of the bytes, the speed, the time left and the file being worked,
// written over in place.
#pragma once

#include <cstdint>
#include <string>

struct cli_batch;

struct cli_progress {
  bool enabled, shown;
  int width;
  double start, last_draw;
  const uint32_t* count;  // the engine's count of bytes worked, modulo 2^32
  uint32_t last_count;    // the count when last read
  uint64_t worked;        // bytes worked since the run began
  int64_t total;          // bytes the run will work, as far as known
};

// Starts the line, shown only when enabled, over the engine's count.
void cli_progress_start(cli_progress* p, bool enabled, const uint32_t* count, int64_t total);
// Draws it at most four times a second, or finally (100%) when final.
void cli_progress_draw(cli_progress* p, const cli_batch& batch, int done, bool final);
// Reads the engine's count: the bytes worked since the run began.
uint64_t cli_progress_measure(cli_progress* p);
// The time left at the pace so far, as last measured; -1 when not known.
double cli_progress_seconds_left(const cli_progress* p);
// The file being worked: the first one taken and not done, of those from
// done on; null when none is.
const char* cli_progress_current(const cli_batch& batch, int done);
// "12 s", "4 min", "1 h 05 min".
std::string cli_progress_duration_text(double seconds);
// Wipes it before another line is printed.
void cli_progress_wipe(cli_progress* p);
