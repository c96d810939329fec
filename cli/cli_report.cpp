// What a run says, in the order of its items.  Names may hold line ends
// and other control characters, so each line shows them escaped.

#include "cli_report.h"

#include <cstdio>
#include <cstring>

#include "cli_inputs.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_stream.h"

const char* cli_report_item_text(const cli_options& o, const cli_item& item, char* text,
                                 int capacity, bool* on_listing) {
  char before[64], after[64];
  // Names may hold line ends and other control characters: each line says
  // them escaped, so that it stays one line.
  char shown[CLI_TEXT_CAPACITY], message[CLI_TEXT_CAPACITY], output[CLI_TEXT_CAPACITY];
  cli_escaped(item.shown, shown, sizeof shown);
  cli_escaped(item.message != nullptr ? item.message : "", message, sizeof message);
  text[0] = '\0';
  *on_listing = true;
  if (item.outcome == OUTCOME_DELETED) {
    if (!o.quiet) cli_format(text, capacity, "%s: deleted: %s", shown, message);
  } else if (item.outcome == OUTCOME_FAILED) {
    *on_listing = false;
    cli_format(text, capacity, "%s: %s", shown, message);
  } else if (item.outcome == OUTCOME_SKIPPED) {
    *on_listing = false;
    if (!o.quiet) cli_format(text, capacity, "%s: skipped: %s", shown, message);
  } else if (item.outcome == OUTCOME_CURRENT || item.outcome == OUTCOME_STOPPED) {
    // Counted in the closing lines only.
  } else if (!o.quiet && !cli_traits(o.command).writes) {
    cli_format(text, capacity, "%s: key and data check out, %s, %.3f s", shown,
               cli_size_text(item.size, before, sizeof before), item.seconds);
  } else if (!o.quiet) {
    bool to_stdout = cli_stream_is_stream(item.output) && strcmp(item.output, "-") == 0;
    cli_escaped(to_stdout ? "(standard output)" : item.output, output, sizeof output);
    cli_format(text, capacity, "%s -> %s: %s -> %s, %.3f s", shown, output,
               cli_size_text(item.size, before, sizeof before),
               cli_size_text(item.output_size, after, sizeof after), item.seconds);
  }
  return text;
}

bool cli_report_item(const cli_options& o, const cli_item& item) {
  char text[CLI_TEXT_CAPACITY];
  bool on_listing = true;
  cli_report_item_text(o, item, text, sizeof text, &on_listing);
  // With the data on standard output (or a device, which may be the same),
  // the listing goes to standard error.
  FILE* listing = o.output != nullptr && cli_stream_is_stream(o.output) ? cli_err : cli_out;
  if (text[0] != '\0') cli_print(on_listing ? listing : cli_err, "%s\n", text);
  bool written = fflush(cli_out) == 0 && !ferror(cli_out);
  fflush(cli_err);
  return written;
}

bool cli_report_summary_text(const cli_options& o, const cli_batch& batch, char* text,
                             int capacity) {
  int ok = 0, current = 0, skipped = 0, failed = 0, orphans = 0, deleted = 0;
  const char* kinds[16];
  int kind_counts[16], kind_count = 0;
  for (int i = 0; i < batch.count; i++) {
    const cli_item& item = batch.items[i];
    ok += item.outcome == OUTCOME_OK;
    current += item.outcome == OUTCOME_CURRENT;
    deleted += item.outcome == OUTCOME_DELETED;
    orphans += item.orphan && item.outcome == OUTCOME_FAILED;
    failed += !item.orphan && item.outcome == OUTCOME_FAILED;
    if (item.outcome != OUTCOME_SKIPPED) continue;
    skipped++;
    const char* kind = item.skip_kind != nullptr ? item.skip_kind : "other";
    int k = 0;
    while (k < kind_count && strcmp(kinds[k], kind) != 0) k++;
    if (k == kind_count && kind_count < 16) {
      kinds[kind_count] = kind;
      kind_counts[kind_count++] = 0;
    }
    if (k < kind_count) kind_counts[k]++;
  }
  char count[64];
  int n = snprintf(text, capacity, "qelv: %s:",
                   cli_count_text(batch.count, "file", "files", count, sizeof count));
  const char* separator = " ";
  auto add = [&](int value, const char* what) {
    if (value == 0 || n < 0 || n >= capacity) return;
    n += snprintf(text + n, capacity - n, "%s%d %s", separator, value, what);
    separator = ", ";
  };
  add(ok, cli_traits(o.command).done);
  add(current, "up to date");
  add(skipped, "skipped");
  for (int k = 0; k < kind_count && n > 0 && n < capacity; k++)
    n += snprintf(text + n, capacity - n, "%s%d %s%s", k == 0 ? " (" : ", ", kind_counts[k],
                  kinds[k], k == kind_count - 1 ? ")" : "");
  add(orphans, "without input");
  add(deleted, "deleted");
  add(failed, "failed");
  return o.quiet ? skipped > 0 : batch.count > 1;
}

// On standard error, for a run of several files.
void cli_report_summary(const cli_options& o, const cli_batch& batch) {
  char text[CLI_TEXT_CAPACITY];
  if (cli_report_summary_text(o, batch, text, sizeof text)) cli_print(cli_err, "%s\n", text);
}

// The stale temporary files found, said once with the command that
// removes them: the tool never removes one itself, for the process writing
// it may still be running.
void cli_report_stale(const cli_batch& batch) {
  const int stale_count = static_cast<int>(batch.stale.size());
  if (stale_count == 0) return;
  char count[64], command[CLI_TEXT_CAPACITY];
  int n = 0;
  for (int i = 0; i < stale_count && n >= 0 && n < static_cast<int>(sizeof command); i++) {
    const char* path = batch.stale[i].c_str();
    bool spaced = strchr(path, ' ') != nullptr;
    n += snprintf(command + n, sizeof command - n, " %s%s%s", spaced ? "\"" : "", path,
                  spaced ? "\"" : "");
  }
  bool one = stale_count == 1;
  cli_note("%s left by a qelv that was stopped (or in use by one still running) %s where "
           "this run reads or writes; once no qelv is running, remove %s with: %s%s",
           cli_count_text(stale_count, "temporary file", "temporary files", count,
                          sizeof count),
           one ? "lies" : "lie", one ? "it" : "them", cli_paths_remove_command, command);
}

