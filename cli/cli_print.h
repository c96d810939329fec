// What the tool says: every line goes through one formatter and the
// console's writer, and sizes and counts read as a person would say them.
// Texts are the standard library's strings, made as long as they need to be.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The streams of cli_set_streams (cli.h).
extern FILE* cli_in;
extern FILE* cli_out;
extern FILE* cli_err;

// Formats like printf, whole.
std::string cli_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints like fprintf, through the console's writer, so that names show
// correctly in a Windows console; nothing when stream is null.
void cli_print(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Prints text as it is.
void cli_print_text(FILE* stream, const std::string& text);
// "qelv: MESSAGE" and a pointer to --help on the error stream; returns 2.
int cli_usage_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "qelv: note: MESSAGE" unless quiet.
void cli_note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void cli_print_set_quiet(bool quiet);
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
