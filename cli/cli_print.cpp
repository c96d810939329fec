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

static void print_list(FILE* stream, const char* format, va_list args) {
  char text[CLI_TEXT_CAPACITY];
  vsnprintf(text, sizeof text, format, args);
  cli_console_write_text(stream, text);
}

void cli_print(FILE* stream, const char* format, ...) {
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  print_list(stream, format, args);
  va_end(args);
}

int cli_usage_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  cli_console_write_text(cli_err, "qelv: ");
  print_list(cli_err, format, args);
  cli_console_write_text(cli_err, "\nTry 'qelv --help'.\n");
  va_end(args);
  fflush(cli_err);
  return 2;
}

static bool quiet_notes;

void cli_note(const char* format, ...) {
  if (quiet_notes) return;
  va_list args;
  va_start(args, format);
  cli_console_write_text(cli_err, "qelv: note: ");
  print_list(cli_err, format, args);
  cli_console_write_text(cli_err, "\n");
  va_end(args);
  fflush(cli_err);
}

// Set by cli_main for the run: notes are dropped under --quiet.
void cli_print_set_quiet(bool quiet) { quiet_notes = quiet; }

const char* cli_format(char* text, int capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(text, capacity, format, args);
  va_end(args);
  return text;
}

const char* cli_size_text(int64_t bytes, char* text, int capacity) {
  if (bytes == 1) return cli_format(text, capacity, "1 byte");
  if (bytes < 1000) return cli_format(text, capacity, "%" PRId64 " bytes", bytes);
  if (bytes < 100000)  // up to five digits, exact: "1,023 bytes"
    return cli_format(text, capacity, "%" PRId64 ",%03d bytes", bytes / 1000,
                      static_cast<int>(bytes % 1000));
  static const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes) / 1000;
  int unit = 0;
  while (value >= 999.95 && unit < 5) {
    value /= 1000;
    unit++;
  }
  return cli_format(text, capacity, "%.1f %s", value, units[unit]);
}

void cli_two_sizes(int64_t a, int64_t b, char* a_text, char* b_text, int capacity) {
  cli_size_text(a, a_text, capacity);
  cli_size_text(b, b_text, capacity);
  if (a == b || strcmp(a_text, b_text) != 0) return;
  // Alike when rounded: every digit, in groups of three.
  int64_t sizes[2] = {a, b};
  char* texts[2] = {a_text, b_text};
  for (int k = 0; k < 2; k++) {
    char digits[32];
    int n = snprintf(digits, sizeof digits, "%lld", static_cast<long long>(sizes[k]));
    char grouped[48];
    int used = 0;
    for (int i = 0; i < n; i++) {
      if (i > 0 && (n - i) % 3 == 0) grouped[used++] = ',';
      grouped[used++] = digits[i];
    }
    grouped[used] = '\0';
    cli_format(texts[k], capacity, "%s bytes", grouped);
  }
}

const char* cli_escaped(const char* text, char* out, int capacity) {
  int n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; p++) {
    char escape[8] = {static_cast<char>(*p), '\0'};
    if (*p == '\n') snprintf(escape, sizeof escape, "\\n");
    else if (*p == '\r') snprintf(escape, sizeof escape, "\\r");
    else if (*p == '\t') snprintf(escape, sizeof escape, "\\t");
    else if (*p < 0x20 || *p == 0x7F) snprintf(escape, sizeof escape, "\\x%02x", *p);
    int length = static_cast<int>(strlen(escape));
    if (n + length >= capacity) break;
    memcpy(out + n, escape, length);
    n += length;
  }
  if (capacity > 0) out[n] = '\0';
  return out;
}

const char* cli_count_text(int64_t count, const char* one, const char* many, char* text,
                           int capacity) {
  return cli_format(text, capacity, "%" PRId64 " %s", count, count == 1 ? one : many);
}
