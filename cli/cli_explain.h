// Failures in plain words, from the record the engine keeps of where a call
// failed and the system's code there.  cli_explain.cpp holds what is the
// same everywhere, platform/cli_explain_posix.cpp and cli_explain_win32.cpp the
// system's words for its codes.
#pragma once

#include <cstdint>
#include <string>

struct cli_header_read;
struct engine_failure;

// A failed engine call as the words need it.
struct cli_failed_call {
  const char* file;     // the call's File, as it was worked
  const cli_header_read* header;  // file's header, as the run read it
  const char* output;   // the file the call was to write: the item's output, or the
                        // temporary file of one bound for a stream; null for verify, info
  bool to_stream;       // output is that temporary file
  bool encrypting, decrypting;
  const char* result;   // the engine's result text
};

// The text of a failed engine call: what went wrong, from the step that
// failed and the system's code there.
std::string cli_explain(const cli_failed_call& call, const engine_failure& failure);
// Why file is not one to read: "no such file", "a folder", "empty", ...;
// empty when it is a readable file.
std::string cli_explain_input(const char* file);
// What a path is that is neither a file nor a folder: "a named pipe", "a
// device"; null for anything else.
const char* cli_explain_special(const char* path);
// The reason a file that is too short for the format is skipped.
extern const char cli_explain_too_short[];
// The reason an empty file fails decrypt and verify.
extern const char cli_explain_empty_encrypted[];
// The reason a path that cli_explain_too_long finds too long fails.
extern const char cli_explain_long_path[];

// ---- The system's words, from platform/cli_explain_posix.cpp or _win32.cpp.
// The system's reason code (rt_last_error's, or a write's) in plain words.
std::string cli_explain_reason(int code);
// True for the codes that say a file or a folder on its path does not exist.
bool cli_explain_is_missing(int code);
// True for the codes that say a disk or a quota is full.
bool cli_explain_is_full(int code);
// True when the path is longer than the system's file functions take here.
bool cli_explain_too_long(const char* path);
