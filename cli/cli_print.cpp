// What the tool says: every line goes through one formatter and the
// console's writer, and sizes and counts read as a person would say them.

#include "cli_print.h"

#include <cinttypes>
#include <cstdarg>
#include <cstring>

#include "cli.h"
#include "cli_console.h"

FILE* cli_in;
FILE* cli_out;
FILE* cli_err;

void cli_set_streams(FILE* in, FILE* out, FILE* err) {
  cli_in = in;
  cli_out = out;
  cli_err = err;
}

// The text of format and args, whole: measured first, then written.
static std::string format_list(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

std::string cli_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = format_list(format, args);
  va_end(args);
  return text;
}

void cli_print_text(FILE* stream, const std::string& text) {
  if (stream != nullptr) cli_console_write_text(stream, text.c_str());
}

void cli_print(FILE* stream, const char* format, ...) {
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  std::string text = format_list(format, args);
  va_end(args);
  cli_console_write_text(stream, text.c_str());
}

int cli_usage_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = "qelv: " + format_list(format, args) + "\nTry 'qelv --help'.\n";
  va_end(args);
  cli_console_write_text(cli_err, text.c_str());
  fflush(cli_err);
  return 2;
}

static bool quiet_notes;

void cli_note(const char* format, ...) {
  if (quiet_notes) return;
  va_list args;
  va_start(args, format);
  std::string text = "qelv: note: " + format_list(format, args) + "\n";
  va_end(args);
  cli_console_write_text(cli_err, text.c_str());
  fflush(cli_err);
}

// Set by cli_main for the run: notes are dropped under --quiet.
void cli_print_set_quiet(bool quiet) { quiet_notes = quiet; }

std::string cli_size_text(int64_t bytes) {
  if (bytes == 1) return "1 byte";
  if (bytes < 1000) return cli_format("%" PRId64 " bytes", bytes);
  if (bytes < 100000)  // up to five digits, exact: "1,023 bytes"
    return cli_format("%" PRId64 ",%03d bytes", bytes / 1000, static_cast<int>(bytes % 1000));
  static const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes) / 1000;
  int unit = 0;
  while (value >= 999.95 && unit < 5) {
    value /= 1000;
    unit++;
  }
  return cli_format("%.1f %s", value, units[unit]);
}

// Every digit of bytes, in groups of three: "1,499,023 bytes".
static std::string exact_size(int64_t bytes) {
  std::string digits = cli_format("%" PRId64, bytes), grouped;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') grouped += ',';
    grouped += digits[i];
  }
  return grouped + " bytes";
}

void cli_two_sizes(int64_t a, int64_t b, std::string* a_text, std::string* b_text) {
  *a_text = cli_size_text(a);
  *b_text = cli_size_text(b);
  if (a == b || *a_text != *b_text) return;
  *a_text = exact_size(a);
  *b_text = exact_size(b);
}

std::string cli_escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7F) out += cli_format("\\x%02x", c);
    else out += static_cast<char>(c);
  }
  return out;
}

std::string cli_count_text(int64_t count, const char* one, const char* many) {
  return cli_format("%" PRId64 " %s", count, count == 1 ? one : many);
}
