// The key, as the scripts' code page spells it.
#pragma once

#include <cstdint>

struct cli_options;

enum { CLI_KEY_CAPACITY = 1024 };

// Fills key from the options' one source, converted unless --key-bytes;
// with none named, from a key handed over, or else from the prompt.
// Returns 0, or 2 after a usage message.
int cli_key_obtain(const cli_options& o, char key[CLI_KEY_CAPACITY]);
// Hands over the characters of a key typed into a program that runs the
// tool in its own process (the window), so that the key passes through no
// environment, file or command line.  The next cli_key_obtain without a
// key source takes it and wipes it; count below 0 takes it back.  Up to
// CLI_KEY_CAPACITY characters; false for more.
bool cli_key_hand_over(const uint32_t* points, int count);
