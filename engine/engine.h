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

// ---- For the command-line tool; the module calls none of these, so none of
// its results is ever engine_cancelled, which is no result text of its own.

extern const char engine_cancelled[];  // stopped by engine_cancel; Output as it was

// Asks every call in progress, and every later one, to stop at its next
// piece: it discards its temporary file and returns engine_cancelled.
// engine_cancel(false) lets calls run again.
void engine_cancel(bool cancel);

// Encrypts the bytes read(context, buffer, count) delivers (the count read,
// 0 at the end, -1 on an error) into output, through the output commit like
// encrypt_file: the ciphertext is written as it is read, and the header's
// plain_size and plain_crc, known only at the end, are written last.  Fewer
// than 2 bytes are refused with result_refused, and Output is left alone.
typedef int32_t engine_reader(void* context, void* buffer, int32_t count);
const char* encrypt_stream(engine_reader* read, void* context, const char* output,
                           const char* key);

// decrypt_file's verdict on file, with the plain bytes handed to
// write(context, data, count) (false: the stream failed) instead of an
// output file: a first pass only checks the CRC, and only when it matched
// does a second pass decipher again and hand the bytes over.  A failed
// write stops the call with result_write_error.  With write null only the
// first pass is made: that is verify_file.
typedef bool engine_writer(void* context, const void* data, int32_t count);
const char* decrypt_to_stream(const char* file, engine_writer* write, void* context,
                              const char* key);

// The temporary files the calls in progress are writing (made beside their
// Output, "~qelv-XXXXXXXX.tmp"): slot 0 up to ENGINE_TEMP_SLOTS - 1, each
// copied into path; false for a slot not in use.  For removing what calls
// stopped by an interrupt may have left.
enum { ENGINE_TEMP_SLOTS = 16 };
bool engine_temp_file(int slot, char* path, int capacity);
