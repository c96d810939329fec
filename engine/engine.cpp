// The result texts that the engine's calls return and the scripts see,
// kept byte for byte.

#include "engine.h"

const char result_ok[] = "OK";
const char result_refused[] = "Error, no valid key, filename or file doesn't exist!";
const char result_crc_failure[] = "CRC Failure, data may be corrupt";
const char result_read_error[] = "Error, could not read the file!";
const char result_write_error[] = "Error, could not write the output file!";
const char result_too_large[] = "Error, the file is too large!";
const char result_not_encrypted[] = "Error, not a valid encrypted file!";
