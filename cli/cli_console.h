// The console and the standard streams: whether a stream is a terminal,
// typing without echo, text written as the characters it means, and bytes
// written past a stream's buffer.
#pragma once

#include <cstddef>
#include <cstdio>

bool cli_console_is_terminal(FILE* stream);
// The system's own way of asking a program for its help ("/?" on Windows),
// or null where there is none.
extern const char* const cli_console_help_switch;
// True when path names a terminal (a console on Windows): a device looked
// at without writing to it.
bool cli_console_names_terminal(const char* path);
bool cli_console_echo_off(FILE* in);  // false: not a terminal, echo unchanged
void cli_console_echo_on();           // undoes cli_console_echo_off
// Puts back the echo cli_console_echo_off took, from the interrupt's thread
// as the process ends.
void cli_console_restore();
// Writes text to stream: to a Windows console as the characters it means.
void cli_console_write_text(FILE* stream, const char* text);
void cli_console_binary(FILE* stream);  // no line-end translation on Windows
// Writes count bytes to stream, past its buffer; 0, or the system's error
// code (for cli_explain_reason).
int cli_console_write_all(FILE* stream, const void* data, size_t count);
