// What encrypt_file and encrypt_stream share: one CBC chain over pieces of
// plain data, and the header it starts from.  Nothing outside engine/
// includes this.
#pragma once

#include <cstdint>

#include "engine_call.h"
#include "file_format.h"
#include "output_commit.h"
#include "xtea.h"

// The encryption of one chain: the CRC so far, the chaining value, the key.
struct chain_state {
  cipher_key cipher;
  uint8_t chain[8];
  uint32_t crc;
};

// Adds got plain bytes at piece to the CRC, pads them with zeros to whole
// blocks, enciphers them on the chain and writes them; the padded length.
int32_t encrypt_piece(chain_state* s, uint8_t* piece, int32_t got, output_file* out);

// The header's fixed fields for plain_size bytes, and an initial value
// drawn from the call's generator.
file_header new_header(engine_call* c, int64_t plain_size);
