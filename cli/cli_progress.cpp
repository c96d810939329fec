// The progress line: written over in place on standard error, wiped before
// any other line, and fitted to a Windows console's 80 columns.

#include "cli_progress.h"

#include <cstring>
#include <string>

#include "cli.h"
#include "cli_console.h"
#include "cli_print.h"

// The line fits 79 columns (a Windows console wraps at 80): a long name
// keeps its end, where the file's own name is.
enum { PROGRESS_COLUMNS = 79 };

void cli_progress_wipe(cli_progress_line* p) {
  if (p->stream != nullptr && p->width > 0)
    cli_console_write_text(p->stream, ("\r" + std::string(p->width - 1, ' ') + "\r").c_str());
  p->width = 0;
}

void cli_progress_end(cli_progress_line* p) {
  if (p->stream != nullptr && p->shown && p->whole) cli_console_write_text(p->stream, "\n");
  else cli_progress_wipe(p);
  p->width = 0;
  p->shown = p->whole = false;
}

// The name at the end of the line, within room columns: its end kept.
static std::string fitted_name(const char* name, int room) {
  int length = static_cast<int>(strlen(name));
  if (length <= room) return cli_format(", %s", name);
  const char* end = name + length - (room - 3);
  while ((static_cast<unsigned char>(*end) & 0xC0) == 0x80) end++;  // a whole character
  return cli_format(", ...%s", end);
}

void cli_progress_draw(cli_progress_line* p, const cli_progress_view& view) {
  if (p->stream == nullptr || (view.final && !p->shown)) return;
  int percent = 100;
  if (!view.final && view.total > 0) {
    double share = static_cast<double>(view.worked) / static_cast<double>(view.total);
    percent = share >= 0.99 ? 99 : static_cast<int>(share * 100);
  }
  double speed = view.seconds > 0 ? static_cast<double>(view.worked) / view.seconds : 0.0;
  std::string line = cli_format("\r%d of %s, %d%%, %.1f MB/s", view.done,
                                cli_count_text(view.count, "file", "files").c_str(), percent,
                                speed / 1e6);
  if (!view.final && view.seconds_left >= 0)
    line += ", " + cli_duration_text(view.seconds_left) + " left";
  int room = PROGRESS_COLUMNS - (static_cast<int>(line.size()) - 1) - 2;
  if (view.current != nullptr && room > 8) line += fitted_name(view.current, room);
  const int n = static_cast<int>(line.size());
  if (n - 1 < p->width)  // a shorter line covers the end of the longer one
    line += std::string(p->width - (n - 1), ' ');
  cli_console_write_text(p->stream, line.c_str());
  fflush(p->stream);
  p->width = n > p->width ? n : p->width;
  p->shown = true;
  p->whole = view.final;
}
