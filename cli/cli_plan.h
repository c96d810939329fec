// The plan of a run: each item's output named and where it goes, the
// inputs that cannot be worked decided, the later of two items that would
// write one output refused, and the checks, made as each output is written,
// that keep it from harming a file it should not.
#pragma once

#include <cstdint>
#include <string>

struct cli_batch;
struct cli_item;
struct cli_options;

// Plans each item: its output and where it goes, the later of two items
// that would write one output refused, and the inputs that cannot be
// worked (too short, not a regular file, already encrypted where its
// output would be missing) decided with their reasons.
void cli_plan(const cli_options& o, cli_batch* batch);
// Why the output of item (of batch) may not be written as it is: a link in
// its place (--force replaces the link itself, never what it points to; no
// output is read through one either), the file itself without --in-place,
// a folder, an existing file without --force or --update, or another input
// of the run; empty when it may.  One look at the disk as it is now, which
// also gives the output's size (rt_size_query's: -1 when there is none).
std::string cli_plan_refuse_output(const cli_options& o, const cli_batch& batch,
                                   const cli_item* item, int64_t* output_size);
// Makes the folders under --out-dir that an output lies in, --out-dir and
// its parents included; why not, or empty when they are there.
std::string cli_plan_make_folders(const cli_options& o, const std::string& output);
// Notes in the batch the engine's temporary files (rt_is_temp_name) that
// lie in the folders the planned outputs go to; the folders walked were
// looked at while collecting.
void cli_plan_find_stale(cli_batch* batch);
