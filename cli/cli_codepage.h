// Text in code pages: the command line as the file functions take it, and
// the key's characters, from the encoding they arrive in to the code page
// the scripts spell their key in.
#pragma once

#include <cstdint>
#include <string>

// Before anything else in the program: on Windows the arguments made from
// the wide command line in the ANSI code page (kept as they were when that
// cannot be had); elsewhere the locale's encoding taken up for typed text.
void cli_codepage_start(int* argc, char*** argv);

enum cli_codepage_source {
  TEXT_SYSTEM,   // the system's encoding for text: the locale's; on Windows the ANSI code page
  TEXT_CONSOLE,  // typed at the terminal: on Windows the console's input code page
  TEXT_UTF8,
};
// The characters of bytes as Unicode code points.  Returns the count of
// points, or -1 when the bytes are not text in that encoding (*bad_at: the
// offset of the first byte that is not).
int cli_codepage_decode(const char* bytes, cli_codepage_source from, uint32_t* points,
                        int capacity, int* bad_at);
// The system's own copy of the argument arg (the very string of argv), or
// of the environment variable name, when it keeps one that no conversion
// has touched (Windows: the wide command line and environment); -2 when it
// has none (then the bytes are used), -1 for an unset variable.
int cli_codepage_argument_points(const char* arg, uint32_t* points, int capacity);
int cli_codepage_environment_points(const char* name, uint32_t* points, int capacity);
// The points in code page, zero-terminated.  Returns the byte count; -1 when
// the code page lacks point bad_at; -2 when the code page is not known here.
int cli_codepage_encode(const uint32_t* points, int count, unsigned codepage, char* out,
                        int capacity, int* bad_at);
// The name of TEXT_SYSTEM's encoding, for messages.
std::string cli_codepage_local_name();
// True when the argument arg (the very string of argv) could not be given
// whole in the ANSI code page (Windows, whose file functions here take that
// code page).
bool cli_codepage_argument_lossy(const char* arg);

#ifdef _WIN32
// ANSI text (length bytes, -1: up to its zero) as wide text, zero-ended
// within capacity; the count of wide characters.  For the other Windows
// files of the tool.
int cli_codepage_wide(const char* text, int length, wchar_t* wide, int capacity);
#endif
