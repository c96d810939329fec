// What a run says: a line for each item, in the order of the items, the
// note on stale temporary files, and the closing summary.
#pragma once

#include <string>

struct cli_batch;
struct cli_item;
struct cli_options;

// The item's line: written outputs and checks on standard output (on
// standard error when standard output carries the data), skips and
// failures on standard error.  False when standard output was closed.
bool cli_report_item(const cli_options& o, const cli_item& item);
// That line, without its line end; empty for an item that gets no line.
// *on_listing: it belongs with the listing of written and checked files,
// not with the skips and failures.
std::string cli_report_item_text(const cli_options& o, const cli_item& item, bool* on_listing);
// "qelv: 5 files: 2 written, 1 up to date, 2 skipped (1 too short,
// 1 folder), 1 failed", for a run of several files.
void cli_report_summary(const cli_options& o, const cli_batch& batch);
// That line, for a run of any size, without its line end; *shown: the
// console shows it (several files, or skips under --quiet).
std::string cli_report_summary_text(const cli_options& o, const cli_batch& batch, bool* shown);
// The temporary files of a stopped qelv found where the run reads or
// writes, said once with the command that removes them.
void cli_report_stale(const cli_batch& batch);
