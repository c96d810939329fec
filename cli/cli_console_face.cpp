// The console's face: what a run says, written as lines to the standard
// streams through the console's writer, so that names show correctly in a
// Windows console.

#include "cli_console_face.h"

#include <string>

#include "cli_console.h"
#include "cli_key.h"
#include "cli_paths.h"

static bool console_item(void* context, const cli_item&, const std::string& line,
                         bool on_listing) {
  auto* c = static_cast<cli_console_face*>(context);
  cli_progress_wipe(&c->progress);
  FILE* listing = c->listing_to_err ? c->err : c->out;
  if (!line.empty()) cli_console_write_text(on_listing ? listing : c->err, (line + "\n").c_str());
  bool written = fflush(c->out) == 0 && !ferror(c->out);
  fflush(c->err);
  return written;
}

static void console_progress(void* context, const cli_progress_view& view) {
  cli_progress_draw(&static_cast<cli_console_face*>(context)->progress, view);
}

static void console_say(void* context, cli_said kind, const std::string& text) {
  auto* c = static_cast<cli_console_face*>(context);
  cli_progress_wipe(&c->progress);
  std::string line = kind == SAID_USAGE  ? "qelv: " + text + "\nTry 'qelv --help'.\n"
                     : kind == SAID_NOTE ? "qelv: note: " + text + "\n"
                                         : text + "\n";
  cli_console_write_text(c->err, line.c_str());
  fflush(c->err);
}

static void console_closing(void* context, const std::string& line, bool stopped, bool several) {
  auto* c = static_cast<cli_console_face*>(context);
  cli_progress_end(&c->progress);
  if (stopped || several) cli_console_write_text(c->err, (line + "\n").c_str());
  fflush(c->err);
}

static int console_ask(void* context, const char* prompt, std::string* typed) {
  auto* c = static_cast<cli_console_face*>(context);
  if (!cli_console_is_terminal(c->in)) return -1;
  cli_console_write_text(c->err, prompt);
  fflush(c->err);
  bool hidden = cli_console_echo_off(c->in);
  bool got = cli_key_read_line(c->in, typed);
  if (hidden) cli_console_echo_on();
  cli_console_write_text(c->err, "\n");  // the Enter key was not echoed
  return got ? 1 : 0;
}

cli_face cli_console_face_for(cli_console_face* console, const cli_options& o) {
  console->listing_to_err = o.output != nullptr && cli_paths_is_stream(o.output);
  console->progress = {};
  if (!o.quiet && cli_console_is_terminal(console->err)) console->progress.stream = console->err;
  return {console, "interrupted", console_item, console_progress, console_say, console_closing,
          console_ask};
}
