// qelv, the command-line tool: encrypt, decrypt, verify and inspect files in
// the encrypted file format, many at a time.  This header is the tool's
// entry, for its program (qelv.cpp) and for the tests, which run it
// in-process.  Each module has a header of its own.  The functions of
// cli_print.cpp, the tool's voice, carry the bare prefix cli_; those of any
// other module its file's name (cli_inputs.cpp: cli_inputs_...).  A module
// that differs by platform is one header and a file per platform
// (cli_console.h: platform/cli_console_posix.cpp, platform/cli_console_win32.cpp).
#pragma once

#include <cstdio>

// Runs one command line; returns the exit status: 0 every file was
// written, up to date or skipped; 1 a file failed, standard output was
// closed, or memory or a temporary file could not be had; 2 a usage error
// or no usable key; or the status cli_run_stop was given.  The caller has
// started the runtime.
int cli_main(int argc, char** argv);

// The streams cli_main reads the key prompt and standard input from and
// writes to; stdin, stdout and stderr unless a test sets others.
void cli_set_streams(FILE* in, FILE* out, FILE* err);
