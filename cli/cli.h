// qelv, the command-line tool: encrypt, decrypt, verify and inspect files in
// the encrypted file format, many at a time.  cli_main is the whole program
// except the runtime's start and stop, so that tests can run it in-process.
#pragma once

#include <cstdint>
#include <cstdio>

// Runs one command line; returns the exit status (0 all files succeeded,
// 1 a file failed, 2 usage error or no key).  The caller has started the
// runtime.
int cli_main(int argc, char** argv);

// The streams cli_main reads the key prompt from and writes to; stdin,
// stdout and stderr unless a test sets others.
void cli_set_streams(FILE* in, FILE* out, FILE* err);

// Decrypts file in memory under key and checks its CRC-32, like decrypt_file
// but writing nothing.  Returns one of the engine's result texts.
const char* cli_verify_file(const char* file, const char* key);

// Prints the header fields of file to out and judges whether this format
// could have written it.  Returns result_ok, or the engine's result text
// that says why not.
const char* cli_info_file(const char* file, FILE* out);

// Platform pieces (cli_platform_posix.cpp, cli_platform_win32.cpp).
bool cli_is_terminal(FILE* stream);
bool cli_echo_off(FILE* in);   // false: not a terminal, echo unchanged
void cli_echo_on(FILE* in);    // undoes cli_echo_off
// True when both paths exist and name the same file, however spelt.
bool cli_same_file(const char* a, const char* b);
double cli_seconds();          // a monotonic clock, for timings
bool cli_is_separator(char c); // a character that ends a folder name in a path
extern const char cli_separator;  // the one put between a folder and a name
