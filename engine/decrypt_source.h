// An encrypted file being worked, for decrypt_file and the calls of
// decrypt_stream.cpp.  Nothing outside engine/ includes this.
#pragma once

#include <cstdint>

#include "../runtime/runtime.h"
#include "decipher_body.h"
#include "file_format.h"
#include "output_commit.h"
#include "xtea.h"

// An encrypted file being worked: its header, what follows the header, and
// the stamp that tells whether it changed between two passes.  Within a
// pass the CRC covers exactly what was read, so a change there shows in it.
struct source_file {
  int file;
  file_header h;
  int64_t present;
  rt_stamp stamp;
  body_work work;  // the deciphering of the body, begun by source_open
};

// Opens File, reads and judges its header and sets up the work on its
// body, with the context's failure record cleared.  On success the source
// is left open and its work begun.  decrypt
// refuses an all-space File where encrypt refuses only an empty one: so
// the two calls were made, and scripts may rely on either.
const char* source_open(engine_call* c, const char* file, const char* key, source_file* s);

// Ends the work on the source; the result once the body has been worked:
// a read error, then a CRC that does not match, then an Output that could
// not be written, in that order, as if Output were opened only after the
// comparison.
const char* source_finish(engine_call* c, source_file* s, const char* result, uint32_t crc,
                          bool written);

// Deciphers the body again from its start, into out or to the work's sender.
const char* source_second_pass(source_file* s, const cipher_key& cipher, output_file* out,
                               uint32_t* crc);
