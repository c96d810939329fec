// The tool's words: texts formatted whole, and sizes, counts and durations
// as a person would say them.

#include "cli_print.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

// Measured first, then written.
std::string cli_format_list(const char* format, va_list args) {
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
  std::string text = cli_format_list(format, args);
  va_end(args);
  return text;
}

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

std::string cli_duration_text(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  if (s < 60) return cli_format("%ld s", s);
  if (s < 3600) return cli_format("%ld min", (s + 30) / 60);
  return cli_format("%ld h %02ld min", s / 3600, s % 3600 / 60);
}
