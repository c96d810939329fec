// The progress line: written over in place on standard error, wiped before
// any other line, and fitted to a Windows console's 80 columns.

#include "cli_progress.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "cli_inputs.h"
#include "cli_print.h"

// A monotonic clock, for timings.
static double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void cli_progress_start(cli_progress* p, bool enabled, const uint32_t* count, int64_t total) {
  *p = {};
  p->enabled = enabled;
  p->count = count;
  p->start = seconds_now();
  p->last_count = __atomic_load_n(count, __ATOMIC_RELAXED);
  p->total = total;
}

void cli_progress_wipe(cli_progress* p) {
  if (p->width > 0) cli_print(cli_err, "\r%*s\r", p->width - 1, "");
  p->width = 0;
}

std::string cli_progress_duration_text(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  if (s < 60) return cli_format("%ld s", s);
  if (s < 3600) return cli_format("%ld min", (s + 30) / 60);
  return cli_format("%ld h %02ld min", s / 3600, s % 3600 / 60);
}

// The line fits 79 columns (a Windows console wraps at 80): a long name
// keeps its end, where the file's own name is.
enum { PROGRESS_COLUMNS = 79 };

uint64_t cli_progress_measure(cli_progress* p) {
  uint32_t count_now = __atomic_load_n(p->count, __ATOMIC_RELAXED);
  p->worked += static_cast<uint32_t>(count_now - p->last_count);  // the count wraps at 2^32
  p->last_count = count_now;
  return p->worked;
}

double cli_progress_seconds_left(const cli_progress* p) {
  double seconds = seconds_now() - p->start;
  double speed = seconds > 0 ? static_cast<double>(p->worked) / seconds : 0.0;
  if (speed <= 0 || p->total <= static_cast<int64_t>(p->worked)) return -1;
  return static_cast<double>(p->total - p->worked) / speed;
}

const char* cli_progress_current(const cli_batch& batch, int done) {
  for (int i = done; i < batch.count(); i++)
    if (__atomic_load_n(&batch.items[i].started, __ATOMIC_ACQUIRE) &&
        !__atomic_load_n(&batch.items[i].done, __ATOMIC_ACQUIRE) && !batch.items[i].decided)
      return batch.items[i].shown.c_str();
  return nullptr;
}

void cli_progress_draw(cli_progress* p, const cli_batch& batch, int done, bool final) {
  double now = seconds_now();
  if (!p->enabled || (!final && (now - p->start < 0.25 || now - p->last_draw < 0.25))) return;
  if (final && !p->shown) return;
  cli_progress_measure(p);
  int percent = 100;
  if (!final && p->total > 0) {
    double share = static_cast<double>(p->worked) / static_cast<double>(p->total);
    percent = share >= 0.99 ? 99 : static_cast<int>(share * 100);
  }
  double seconds = now - p->start;
  double speed = seconds > 0 ? static_cast<double>(p->worked) / seconds : 0.0;
  std::string left;
  double seconds_left = cli_progress_seconds_left(p);
  if (!final && seconds_left >= 0) left = ", " + cli_progress_duration_text(seconds_left) + " left";
  std::string line = cli_format("\r%d of %s, %d%%, %.1f MB/s", done,
                                cli_count_text(batch.count(), "file", "files").c_str(), percent,
                                speed / 1e6) + left;
  const char* name = final ? nullptr : cli_progress_current(batch, done);
  int room = PROGRESS_COLUMNS - (static_cast<int>(line.size()) - 1) - 2;
  if (name != nullptr && room > 8) {
    int length = static_cast<int>(strlen(name));
    if (length <= room) {
      line += cli_format(", %s", name);
    } else {
      const char* end = name + length - (room - 3);
      while ((static_cast<unsigned char>(*end) & 0xC0) == 0x80) end++;  // a whole character
      line += cli_format(", ...%s", end);
    }
  }
  const int n = static_cast<int>(line.size());
  if (n - 1 < p->width)  // a shorter line covers the end of the longer one
    line += std::string(p->width - (n - 1), ' ');
  cli_print_text(cli_err, line);
  fflush(cli_err);
  p->width = n > p->width ? n : p->width;
  p->shown = true;
  p->last_draw = now;
}
