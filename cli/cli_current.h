// Whether an output is up to date (--update): the same content under the
// same key, never told by times alone.
#pragma once

struct cli_item;
struct engine_call;

// True when item's output holds what its input holds under key: for
// encrypt, the output is exactly what encryption writes for the input and
// deciphers whole to its bytes; for decrypt, the input deciphers whole to
// the output's bytes.  Reads both files (up to a first difference) and
// writes nothing.
bool cli_current(const cli_item& item, engine_call* call, const char* key);
