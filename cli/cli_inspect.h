// Reading encrypted files' headers without writing anything.
#pragma once

#include <cstdint>
#include <cstdio>

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
void cli_inspect_header(const char* file, cli_header_facts* facts);
// Prints the header fields of file, under the name shown, to out (null:
// nothing) and judges whether this format could have written it.  Returns
// the engine's result_ok, or its result text that says why not.
const char* cli_inspect_info(const char* file, const char* shown, FILE* out);
