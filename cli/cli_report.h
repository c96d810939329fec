// What a run says: a line for each item, in the order of the items, the
// note on stale temporary files, and the closing summary.
#pragma once

#include <string>

struct cli_batch;
struct cli_item;
struct cli_options;

// Words the failed engine call an item recorded into its reason (left as
// it is when it has one).
void cli_report_word(cli_item* item);
// The item's line as the console shows it, without its line end; empty
// for an item that gets no line.
// *on_listing: it belongs with the listing of written and checked files,
// not with the skips and failures.
std::string cli_report_item_text(const cli_options& o, const cli_item& item, bool* on_listing);
// "qelv: 5 files: 2 written, 1 up to date, 2 skipped (1 too short,
// 1 folder), 1 failed", without its line end; *shown: the console shows it
// (several files, or skips under --quiet, or a dry run).
std::string cli_report_summary_text(const cli_options& o, const cli_batch& batch, bool* shown);
// The note on the temporary files of a stopped qelv found where the run
// reads or writes, with the command that removes them; empty for none.
std::string cli_report_stale(const cli_batch& batch);
