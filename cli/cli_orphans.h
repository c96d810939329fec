// Outputs without inputs: the encrypted files under --out-dir whose input is
// gone from the folders the run encrypts, found after the run is planned,
// so that a build step never ships one unsaid (and --delete removes them).
#pragma once

#include <string>

struct cli_batch;
struct cli_item;
struct cli_options;

// Adds an item to the batch for each file under --out-dir that ends in the
// suffix, holds this format and is no planned output of an input of at
// least 2 bytes, for encrypt -r -d with a folder among args: failed with
// "no input (data/x is gone)", or, under --delete, to be removed.  Returns
// why --delete is refused (the run found no input, or would remove more
// than half of the encrypted files there or more than --max-delete), with
// nothing added; empty otherwise.
std::string cli_orphans_find(const cli_options& o, cli_batch* batch);
// For verify -r --input-dir with a folder among args: adds a failed item
// for each file under --input-dir whose encrypted file is not among the
// batch's, so that verify checks what encrypt promises, an output for
// every input.
void cli_orphans_find_missing(const cli_options& o, cli_batch* batch);
