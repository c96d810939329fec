// The tool's words: texts formatted whole, and sizes, counts and durations
// as a person would say them.  Texts are the standard library's strings,
// made as long as they need to be.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

// Formats like printf, whole.
std::string cli_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string cli_format_list(const char* format, va_list args);
// A size for people: "1 byte", "32 bytes", "1,023 bytes", "4.2 MB", "1.9 GB"
// (powers of ten, like the speeds).
std::string cli_size_text(int64_t bytes);
// "header claims 1,500,023 bytes, file holds 1,499,023 bytes": two sizes
// in words, exact where the rounded forms would read alike.
void cli_two_sizes(int64_t a, int64_t b, std::string* a_text, std::string* b_text);
// text with its control characters escaped ("\n", "\t", "\x1b"), so that
// a name that holds a line end stays on its line.
std::string cli_escaped(const std::string& text);
// "1 file", "2 files": count and the singular or plural.
std::string cli_count_text(int64_t count, const char* one, const char* many);
// "12 s", "4 min", "1 h 05 min".
std::string cli_duration_text(double seconds);
