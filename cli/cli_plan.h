// The plan of a run: each item's output named and where it goes, the
// inputs that cannot be worked decided, the later of two items that would
// write one output refused, and the checks, made as each output is written,
// that keep it from harming a file it should not.
#pragma once

#include <string>

struct cli_batch;
struct cli_item;
struct cli_options;

// Plans each item: its output and where it goes, the later of two items
// that would write one output refused, and the inputs that cannot be
// worked (too short, not a regular file, already encrypted where its
// output would be missing) decided with their reasons.
void cli_plan(const cli_options& o, cli_batch* batch);
// Why the output of item (of batch) would harm a file it should not; empty
// when it would not.  Looks at the disk as it is now.
std::string cli_plan_refuse_output(const cli_options& o, const cli_batch& batch,
                                   const cli_item* item);
// Why item's output may not be written or read as it is: it, or a folder
// on its way below --out-dir, is a link, which would lead out of the
// output folder (--force replaces a link in the output's own place, never
// what it points to).  Empty when it is not.
std::string cli_plan_refuse_link(const cli_options& o, const cli_item& item);
// Makes the folders under --out-dir that an output lies in, --out-dir and
// its parents included; why not, or empty when they are there.
std::string cli_plan_make_folders(const cli_options& o, const std::string& output);
// Notes in the batch the engine's temporary files (rt_is_temp_name) that
// lie in the folders the planned outputs go to; the folders walked were
// looked at while collecting.
void cli_plan_find_stale(cli_batch* batch);
