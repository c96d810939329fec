// Failures in plain words, from the record the engine keeps of where a call
// failed and the system's code there.  cli_explain.cpp holds what is the
// same everywhere, cli_explain_posix.cpp and cli_explain_win32.cpp the
// system's words for its codes.
#pragma once

#include <cstdint>

struct cli_item;
struct cli_options;
struct engine_failure;

// The text of a failed engine call on item: what went wrong, from the
// step that failed and the system's code there.  output is the file the
// call was to write (item's output, or the temporary file of an output
// bound for a stream); null for verify and info.
void cli_explain(const cli_options& o, const cli_item& item, const char* engine_result,
                 const engine_failure& failure, const char* output, char* text, int capacity);
// Why file is not one to read: "no such file", "a folder", "empty", ...;
// null when it is a readable file.
const char* cli_explain_input(const char* file, char* text, int capacity);
// The reason a file that is too short for the format is skipped.
extern const char cli_explain_too_short[];
// The reason an empty file fails decrypt and verify.
extern const char cli_explain_empty_encrypted[];
// The reason a path that cli_explain_too_long finds too long fails.
extern const char cli_explain_long_path[];

// ---- The system's words, from cli_explain_posix.cpp or cli_explain_win32.cpp.
// The system's reason code (rt_last_error's, or a write's) in plain words.
const char* cli_explain_reason(int code, char* text, int capacity);
// True for the codes that say a file or a folder on its path does not exist.
bool cli_explain_is_missing(int code);
// True for the codes that say a disk or a quota is full.
bool cli_explain_is_full(int code);
// True when the path is longer than the system's file functions take here.
bool cli_explain_too_long(const char* path);
