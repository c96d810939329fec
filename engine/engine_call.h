// The engine's calls as the command-line tool makes them: the module's
// calls with a context that the caller owns and that travels with the
// call, carrying what the module has no use for: the progress count, a
// cancel flag, the temporary file in progress, a commit that keeps an
// existing Output, the worker thread, and where and why a call failed.
// The module's calls are these with an empty context.
#pragma once

#include <cstdint>

#include "../runtime/runtime.h"
#include "engine.h"

// The step of a call that failed, with the system's code there (0 when the
// system reported none), kept at once, before anything else runs.
enum engine_step {
  STEP_NONE,
  STEP_REFUSED,   // the arguments, before any open: code is the size query's
                  // answer (-1 nothing there, -2 a folder, 0 or 1 too short),
                  // or 2 when the key was refused
  STEP_OPEN,      // opening the source
  STEP_READ,      // reading the source; code 0: it ended before its length
  STEP_CHANGED,   // the source's size or time changed while it was read
  STEP_HEADER,    // the source's header does not hold together
  STEP_MEMORY,    // the working piece could not be had
  STEP_CRC,       // the deciphered data did not match its check value
  STEP_CREATE,    // making the temporary file beside Output
  STEP_RESERVE,   // giving it the room the content needs
  STEP_WRITE,     // writing it, or going back in it
  STEP_FLUSH,     // putting it on the disk before an existing Output is replaced
  STEP_CLOSE,     // closing it
  STEP_FOLDER,    // Output is a folder
  STEP_EXISTS,    // Output exists, and the call was to keep an existing one
  STEP_REPLACE,   // putting it in Output's place
  STEP_SEND,      // handing the plain bytes on (decrypt_to_stream)
  STEP_CANCELLED,
};

struct engine_failure {
  engine_step step;
  int code;
};

extern const char engine_cancelled[];  // stopped by the cancel flag; Output as it was

struct engine_call {
  // Set by the caller before the call, and left alone by it.
  const int* cancel;      // read once a piece: not 0 stops the call; null: never
  uint32_t* worked;       // bytes of file data worked, added a piece at a time
                          // (atomically, modulo 2^32); null: not counted
  bool use_worker;        // decryption may read and write on a worker thread
  bool keep_existing;     // an Output that exists is not replaced: STEP_EXISTS
  bool replace_link;      // an Output that is a symbolic link is replaced itself, never
                          // the file it points to (which the module's calls replace
                          // on POSIX systems, as an open of the path would write it)
  rt_random_state* random;  // draws the initial value; null: the runtime's own, for one thread
  // Set by the call.  temp_state is 1 (atomically, with release order)
  // while temp_path names the temporary file being written, for removing
  // what an interrupt leaves; failure says where a call that did not
  // return result_ok stopped.
  int temp_state;
  engine_failure failure;
  int64_t plain_size;  // decryption's: the header's plain_size, once read
  char temp_path[RT_PATH_CAPACITY];
};

const char* encrypt_file_in(engine_call* call, const char* file, const char* output,
                            const char* key);
const char* decrypt_file_in(engine_call* call, const char* file, const char* output,
                            const char* key);
// decrypt_file's verdict, with nothing written: the file is deciphered in memory.
const char* verify_file_in(engine_call* call, const char* file, const char* key);

// Encrypts the bytes read(context, buffer, count) delivers (the count read,
// 0 at the end, -1 on an error) into output, through the output commit like
// encrypt_file: the ciphertext is written as it is read, and the header's
// plain_size and plain_crc, known only at the end, are written last.  Fewer
// than 2 bytes are refused with result_refused, and Output is left alone.
typedef int32_t engine_reader(void* context, void* buffer, int32_t count);
const char* encrypt_stream(engine_call* call, engine_reader* read, void* context,
                           const char* output, const char* key);

// decrypt_file's verdict on file, with the plain bytes handed to
// write(context, data, count) (false: the stream failed) instead of an
// output file: a first pass only checks the CRC, and only when it matched
// does a second pass decipher again and hand the bytes over.  A failed
// write stops the call with result_write_error.
typedef bool engine_writer(void* context, const void* data, int32_t count);
const char* decrypt_to_stream(engine_call* call, const char* file, engine_writer* write,
                              void* context, const char* key);

// Whether the encrypted file deciphers under key to exactly the bytes of
// the plain file: deciphered whole beside a read of the plain file, the
// first difference ending both reads.  Under AS_WRITTEN the encrypted
// file must also be exactly what encryption writes for the plain file
// (header_written_by_encrypt, and zero padding); under AS_READ it need
// only be what decryption reads back as those bytes.  Nothing is written;
// false also when either file cannot be read.
enum deciphers_rule { AS_WRITTEN, AS_READ };
bool engine_deciphers_to(engine_call* call, const char* encrypted, const char* plain,
                         const char* key, deciphers_rule rule);
