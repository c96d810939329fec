// Whole-file encryption and decryption.  Each call returns one of the result
// texts below, a constant the caller may keep; it raises nothing and leaves
// no file open and no memory held.
#pragma once

#include <cstdint>

extern const char result_ok[];             // "OK"
extern const char result_refused[];        // arguments refused before any open
extern const char result_crc_failure[];    // wrong key or damaged data
extern const char result_read_error[];     // the source could not be read whole
extern const char result_write_error[];    // Output could not be written whole
extern const char result_too_large[];      // the data does not fit the buffers
extern const char result_not_encrypted[];  // the header does not hold together

// Whether a key text can key the cipher: it must hold a character other
// than the space.  The calls below refuse any other with result_refused.
bool engine_key_usable(const char* key);

// The initial values encrypt_file draws, read as a signed little-endian
// number: from -1 to (2^31 - 1)^2 - 1.
constexpr int64_t engine_least_iv = -1;
constexpr int64_t engine_greatest_iv = INT64_C(2147483647) * 2147483647 - 1;

const char* encrypt_file(const char* file, const char* output, const char* key);
const char* decrypt_file(const char* file, const char* output, const char* key);
// decrypt_file's result, with nothing written: the file is deciphered in memory.
const char* verify_file(const char* file, const char* key);

// The calls work through a file a piece of this many bytes at a time.
enum { ENGINE_PIECE_BYTES = 1024 * 1024 };

// Whether decrypt_file and verify_file may start a worker thread for a body
// of several pieces: it reads, adds to the CRC and writes beside the
// deciphering, on another processor.  Off unless a program turns it on;
// the module never does, for it starts no threads in its host.
void engine_allow_worker(bool allowed);

// The bytes of file data the three calls above have worked through in this
// process, modulo 2^32, counted a piece at a time.  The command-line tool
// reads it from another thread for its progress line and takes differences;
// nothing in the engine reads it.
uint32_t engine_bytes_worked();
