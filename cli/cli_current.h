// Whether an output is up to date (--update): the same content under the
// same key, never told by times alone.
#pragma once

struct cli_item;
struct cli_options;
struct engine_call;

// True when item's output holds what its input holds under key: for
// encrypt, the output's header is sound for the input's length and CRC-32
// and its first block deciphers to the input's first bytes; for decrypt,
// the same with the roles turned (the input encrypted, the output plain).
// Reads the plain file whole and writes nothing.
bool cli_current(const cli_options& o, const cli_item& item, engine_call* call, const char* key);
