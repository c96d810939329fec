// The CRC of the part of an encrypted body that a file cut short does not
// hold, in closed form.
#pragma once

#include <cstdint>

#include "xtea.h"

// crc followed by the CRC of the plain bytes from at up to plain_size of a
// body of data_length bytes whose bytes from at on count as zero; chain is
// the last cipher block before at.
uint32_t missing_part_crc(uint32_t crc, const cipher_key& cipher, const uint8_t chain[8],
                          uint64_t at, uint64_t data_length, uint64_t plain_size);
