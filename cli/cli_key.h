// The key, as the scripts' code page spells it.
#pragma once

struct cli_options;

enum { CLI_KEY_CAPACITY = 1024 };

// Fills key from the options' one source, converted unless --key-bytes.
// Returns 0, or 2 after a usage message.
int cli_key_obtain(const cli_options& o, char key[CLI_KEY_CAPACITY]);
