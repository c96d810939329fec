// Failures in plain words, with the system's reason where one can be found
// by looking again.  cli_explain.cpp holds what is the same everywhere,
// cli_explain_posix.cpp and cli_explain_win32.cpp the system's words.
#pragma once

#include <cstdint>

struct cli_item;
struct cli_options;

// The text of a failed engine call on item: what went wrong, with the
// system's reason where one can be found by looking again.  output is the
// file the call was to write (item's output, or the temporary file of an
// output bound for a stream); null for verify and info.
void cli_explain(const cli_options& o, const cli_item& item, const char* engine_result,
                 const char* output, char* text, int capacity);
// Why file is not one to read: "no such file", "a folder", "empty", ...;
// null when it is a readable file.
const char* cli_explain_input(const char* file, char* text, int capacity);
// The reason a file that is too short for the format is skipped.
extern const char cli_explain_too_short[];
// The reason a path that cli_explain_too_long finds too long fails.
extern const char cli_explain_long_path[];

// ---- The system's words, from cli_explain_posix.cpp or cli_explain_win32.cpp.
// The system's reason code (rt_last_error's, or a write's) in plain words.
const char* cli_explain_reason(int code, char* text, int capacity);
// True for the codes that say a file or a folder on its path does not exist.
bool cli_explain_is_missing(int code);
// True when the path is longer than the system's file functions take here.
bool cli_explain_too_long(const char* path);
// Why output cannot be written, from what the system says of it and its
// folder, changing nothing; null when nothing is found, and then
// *available holds the bytes free in its folder (-1: not known).
const char* cli_explain_output(const char* output, int64_t* available, char* text, int capacity);
