// Standard input and output, and the tool's own temporary files, which
// hold encrypted data only.
#pragma once

#include <string>

struct cli_run;
struct engine_call;

// Copies standard input (encrypted data) into a temporary file; its path
// goes to *path.  False with the reason in *why.
bool cli_stream_spool_input(cli_run* run, std::string* path, std::string* why);
// A path in a private temporary folder for an encrypted output bound for a
// stream.
bool cli_stream_output_path(cli_run* run, std::string* path);
// Copies file to the stream (standard output for "-", else the device
// target names) and removes it.  False with the reason in *why.
bool cli_stream_copy_out(cli_run* run, const char* file, const char* target, std::string* why);
// Encrypts standard input into output as it is read.
const char* cli_stream_encrypt_input(cli_run* run, engine_call* call, const char* output,
                                     const char* key);
// Decrypts file to target (a stream), checking the CRC before any byte is
// sent.  The engine's result; a failed write's reason goes to *why.
const char* cli_stream_decrypt_out(cli_run* run, engine_call* call, const char* file,
                                   const char* target, const char* key, std::string* why);
