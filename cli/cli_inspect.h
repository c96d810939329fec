// Reading encrypted files' headers without writing anything.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
  std::string problem_text;  // why decryption fails whatever the key (but for a crafted
                             // file), "; " between reasons; empty: the key decides
  std::string odd_text;      // what differs from what encryption writes, which
                             // decryption ignores
  bool written_by_encrypt;   // header and length exactly as encryption writes them
};
// Reads the header of file, as far as the file goes.
void cli_inspect_read(const char* file, cli_header_read* read);
// The facts of a header read, judged as the engine judges it.
void cli_inspect_judge(const cli_header_read& read, cli_header_facts* facts);
// Two judgements of a file, apart.  Readable: decryption would read it
// whole and let the key decide, as the module does (cli_inspect_judge's
// problem_text empty); decrypt, verify and info's verdict go by this.
// Written by encryption: the header and the length are exactly what
// encryption writes, which a file of another kind whose first bytes read
// as a header almost never is; only this one makes an input count as
// already encrypted, or a file in an output folder count as an output of
// the tool.
bool cli_inspect_written_by_encrypt(const cli_header_read& read);
// The plain length the header claims; 0 when none was read.
int64_t cli_inspect_plain_size(const cli_header_read& read);
// The header fields of file, read as read, under the name shown, with both
// judgements, added to *out, a line each.  Returns the engine's result_ok
// when decryption would read it, or its result text that says why not.
const char* cli_inspect_info(const char* file, const cli_header_read& read, const char* shown,
                             std::string* out);
