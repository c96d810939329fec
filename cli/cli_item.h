// The work of one item of a run: its input refused or worked through the
// engine, its outcome and message set, on whichever worker takes it.
#pragma once

struct cli_batch;
struct cli_options;
struct engine_call;

// Works item index of batch with the worker's engine context: encrypts,
// decrypts, verifies, or removes an output without input; sets the item's
// outcome, message, sizes and time, and last its done flag.
void cli_item_work(const cli_options& o, cli_batch* batch, int index, engine_call* call,
                   const char* key);
