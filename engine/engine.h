// Whole-file encryption and decryption, as the module calls them.  Each call
// returns one of the result texts below, a constant the caller may keep; it
// raises nothing and leaves no file open and no memory held.  The same
// calls with a context of the caller's (progress, cancelling, the reason of
// a failure), for the command-line tool: engine_call.h.
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
// The calls work through a file a piece of this many bytes at a time.
enum { ENGINE_PIECE_BYTES = 1024 * 1024 };
