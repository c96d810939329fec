// Standard input and output, and the tool's own temporary files, which
// hold encrypted data only.
#pragma once

struct engine_call;

// Copies standard input (encrypted data) into a temporary file; its path
// goes to path.  False with the reason in text.
bool cli_stream_spool_input(char* path, int capacity, char* text, int text_capacity);
// A path in a private temporary folder for an encrypted output bound for a
// stream.
bool cli_stream_output_path(char* path, int capacity);
// Copies file to the stream (standard output for "-", else the device
// target names) and removes it.  False with the reason in text.
bool cli_stream_copy_out(const char* file, const char* target, char* text, int capacity);
// Encrypts standard input into output as it is read.
const char* cli_stream_encrypt_input(engine_call* call, const char* output, const char* key);
// Decrypts file to target (a stream), checking the CRC before any byte is
// sent.  The engine's result; a failed write's reason goes to text.
const char* cli_stream_decrypt_out(engine_call* call, const char* file, const char* target,
                                   const char* key,
                                   char* text, int capacity);
// True when target is standard output or a device, pipe or the like.
bool cli_stream_is_stream(const char* target);
// Removes every temporary file and folder of the tool's own; safe to call
// from the interrupt handling as well.
void cli_stream_cleanup();
