// Outputs without inputs: the encrypted files under --out-dir whose input is
// gone from the folders the run encrypts, found after the run is planned,
// so that a build step never ships one unsaid (and --delete removes them).
#pragma once

#include <string>

struct cli_batch;
struct cli_item;
struct cli_options;
struct cli_run;

// Adds an item to the batch for each file under --out-dir that ends in the
// suffix, holds this format and is no planned output of an input of at
// least 2 bytes, for encrypt -r -d with a folder among args: failed with
// "no input (data/x is gone)", or, under --delete, to be removed.  Returns
// 0, or 1 when --delete was refused (said on the error stream): the run
// found no input, or would remove more than half of the encrypted files
// there or more than --max-delete.
int cli_orphans_find(cli_run* run);
// For verify -r --input-dir with a folder among args: adds a failed item
// for each file under --input-dir whose encrypted file is not among the
// batch's, so that verify checks what encrypt promises, an output for
// every input.
void cli_orphans_find_missing(cli_run* run);

// For verify --input-dir: the input that item (an encrypted file found in
// a folder or named) was made from, into *input; false when it has no
// name there (its name does not end in the suffix).
bool cli_orphans_input_of(const cli_options& o, const cli_item& item, std::string* input);
