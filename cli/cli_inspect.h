// Reading encrypted files' headers without writing anything.
#pragma once

#include <cstdint>
#include <cstdio>

#include "../engine/file_format.h"

// A file's header as read once: the file's length then, and the bytes.
struct cli_header_read {
  int64_t length;  // -1 when the file could not be opened or measured
  int32_t got;     // the header bytes read: FILE_HEADER_SIZE, fewer, or -1 on an error
  uint8_t bytes[FILE_HEADER_SIZE];
};

// The facts of a file's header against its length.
struct cli_header_facts {
  int64_t length;   // the file's length
  int64_t implied;  // the length the header implies, -1 for none
  int64_t plain_size;
  bool readable;    // the file could be opened and read
  bool whole_header;
  bool cut_short;   // sound but for the length: plain data lies past the file's end
  int problems;     // reasons decryption fails whatever the key (but for a crafted file)
  char problem_text[256];
  int oddities;     // what differs from what encryption writes, which decryption ignores
  char odd_text[256];
  bool written_by_encrypt;  // header and length exactly as encryption writes them
};
// Reads the header of file, as far as the file goes.
void cli_inspect_read(const char* file, cli_header_read* read);
// The facts of a header read, judged as the engine judges it.
void cli_inspect_judge(const cli_header_read& read, cli_header_facts* facts);
// True when the header read is whole and decryption would not refuse it:
// the file is an encrypted file, or one cut short.
bool cli_inspect_is_encrypted(const cli_header_read& read);
// The plain length the header claims; 0 when none was read.
int64_t cli_inspect_plain_size(const cli_header_read& read);
// Prints the header fields of file, read as read, under the name shown, to
// out (null: nothing) and judges whether this format could have written it.  Returns
// the engine's result_ok, or its result text that says why not.
const char* cli_inspect_info(const char* file, const cli_header_read& read, const char* shown,
                             FILE* out);
