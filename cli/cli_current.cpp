// The up-to-date test of --update.  An output at least as new as its
// input may still hold other content (an older copy put back with its
// time, a change followed by touch, a change that keeps the CRC-32), the
// content under another key, or a damaged block anywhere; so the content
// decides, whole: the output deciphered under the run's key beside a read
// of the plain file, byte for byte.

#include "cli_current.h"

#include "../engine/engine_call.h"
#include "cli_inputs.h"

bool cli_current(const cli_item& item, engine_call* call, const char* key) {
  // An encrypted output must be exactly what this run would write for its
  // input; a plain output need only be what decryption of the input gives.
  if (item.encrypts)
    return engine_deciphers_to(call, item.output.c_str(), item.path.c_str(), key, AS_WRITTEN);
  return engine_deciphers_to(call, item.path.c_str(), item.output.c_str(), key, AS_READ);
}
