// The work of one item of a run: its input refused or worked through the
// engine, its outcome and message set, on whichever worker takes it.
#pragma once

struct cli_run;
struct engine_call;

// Works item index of the run's batch with the worker's engine context:
// encrypts, decrypts, verifies, or removes an output without input; sets
// the item's outcome, reason, sizes and time, and last its done flag.
void cli_item_work(cli_run* run, int index, engine_call* call);
