// The key, as the scripts' code page spells it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli.h"

struct cli_run;

// Fills run->key from the options' one source, converted unless
// --key-bytes; with none named, from the request's key points (a key typed
// into a window), or else asked for through the face.  Returns 0, or 2
// after a usage message.
int cli_key_obtain(cli_run* run);
// Reads one line from in into line, without its line end ("\n" or "\r\n"),
// at most CLI_KEY_CAPACITY - 1 bytes of it; false when in holds nothing.
bool cli_key_read_line(FILE* in, std::string* line);
