// What a run says, in the order of its items.  Names may hold line ends
// and other control characters, so each line shows them escaped.

#include "cli_report.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../engine/engine.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_stream.h"

void cli_report_word(cli_item* item) {
  if (item->outcome != OUTCOME_FAILED || !item->reason.empty() || item->result == nullptr) return;
  const char* result = item->result;
  if (result == result_refused && item->from_stdin) {
    // Nothing to ship is no success: a pipe whose writer failed ends here.
    item->reason = item->encrypts ? std::string("fewer than 2 bytes, ") + cli_explain_too_short +
                                        "; nothing was written"
                                  : cli_explain_empty_encrypted;
    return;
  }
  if (result == result_read_error && item->from_stdin) {
    item->reason = "cannot be read";
    return;
  }
  const bool verifies = item->output_kind == OUTPUT_NONE;
  const char* output = item->to_stream() ? item->written.c_str() : item->output.c_str();
  cli_failed_call c = {item->path.c_str(), &cli_inputs_header(item), verifies ? nullptr : output,
                       item->to_stream(), item->encrypts && !verifies,
                       !item->encrypts && !verifies, result};
  item->reason = cli_explain(c, item->failure);
}

std::string cli_report_item_text(const cli_options& o, const cli_item& item, bool* on_listing) {
  // Names may hold line ends and other control characters: each line says
  // them escaped, so that it stays one line.
  const std::string shown = cli_escaped(item.shown), reason = cli_escaped(item.reason);
  *on_listing = true;
  if (item.outcome == OUTCOME_DELETED)
    return o.quiet ? "" : shown + (o.dry_run ? ": would be deleted: " : ": deleted: ") + reason;
  if (item.outcome == OUTCOME_FAILED) {
    *on_listing = false;
    return shown + ": " + reason;
  }
  if (item.outcome == OUTCOME_SKIPPED) {
    *on_listing = false;
    return o.quiet ? "" : shown + ": skipped: " + reason;
  }
  // Up-to-date and stopped items are counted in the closing lines only,
  // but in a dry run, which says what it would do with each file.
  if (item.outcome == OUTCOME_STOPPED || o.quiet) return "";
  const bool to_stdout = item.output == "-";
  const std::string output = cli_escaped(to_stdout ? "(standard output)" : item.output);
  if (item.outcome == OUTCOME_CURRENT) return o.dry_run ? shown + " -> " + output + ": up to date" : "";
  if (!cli_traits(o.command).writes)
    return shown + cli_format(": key and data check out, %s, %.3f s",
                              cli_size_text(item.size).c_str(), item.seconds);
  if (o.dry_run)
    return shown + " -> " + output +
           cli_format(": would be written, %s -> %s", cli_size_text(item.size).c_str(),
                      cli_size_text(item.output_size).c_str());
  return shown + " -> " + output +
         cli_format(": %s -> %s, %.3f s", cli_size_text(item.size).c_str(),
                    cli_size_text(item.output_size).c_str(), item.seconds);
}

std::string cli_report_summary_text(const cli_options& o, const cli_batch& batch, bool* shown) {
  int ok = 0, current = 0, skipped = 0, failed = 0, orphans = 0, deleted = 0, checks = 0;
  std::vector<std::pair<std::string, int>> kinds;  // the skips' kinds, in order of appearance
  for (const cli_item& item : batch.items) {
    ok += item.outcome == OUTCOME_OK;
    current += item.outcome == OUTCOME_CURRENT;
    deleted += item.outcome == OUTCOME_DELETED;
    orphans += item.orphan && item.outcome == OUTCOME_FAILED;
    failed += !item.orphan && item.outcome == OUTCOME_FAILED;
    checks += item.outcome == OUTCOME_FAILED && item.failed_check;
    if (item.outcome != OUTCOME_SKIPPED) continue;
    skipped++;
    const std::string kind = item.skip_kind != nullptr ? item.skip_kind : "other";
    auto k = std::find_if(kinds.begin(), kinds.end(), [&](const auto& e) { return e.first == kind; });
    if (k == kinds.end()) kinds.push_back({kind, 1});
    else k->second++;
  }
  std::string text = "qelv: " + cli_count_text(batch.count(), "file", "files") + ":";
  const char* separator = " ";
  auto add = [&](int value, const char* what) {
    if (value == 0) return;
    text += cli_format("%s%d %s", separator, value, what);
    separator = ", ";
  };
  add(ok, o.dry_run ? "would be written" : cli_traits(o.command).done);
  add(current, "up to date");
  add(skipped, "skipped");
  for (size_t k = 0; k < kinds.size(); k++)
    text += cli_format("%s%d %s%s", k == 0 ? " (" : ", ", kinds[k].second, kinds[k].first.c_str(),
                       k + 1 == kinds.size() ? ")" : "");
  add(orphans, "without input");
  add(deleted, o.dry_run ? "would be deleted" : "deleted");
  add(failed, "failed");
  // One cause for many identical lines, said once.
  if (checks > 1 && checks == batch.count())
    text += "; every file failed the check under this key: the key is the likely cause";
  if (o.dry_run) text += "; a dry run: nothing was changed";
  *shown = o.dry_run || (o.quiet ? skipped > 0 : batch.count() > 1);
  return text;
}

// The stale temporary files found, said once with the command that
// removes them: the tool never removes one itself, for the process writing
// it may still be running.
std::string cli_report_stale(const cli_batch& batch) {
  const int stale_count = static_cast<int>(batch.stale.size());
  if (stale_count == 0) return "";
  std::string command;
  for (const std::string& path : batch.stale) command += " " + cli_paths_shell_quoted(path);
  bool one = stale_count == 1;
  return cli_count_text(stale_count, "temporary file", "temporary files") +
         " left by a qelv that was stopped (or in use by one still running) " +
         (one ? "lies" : "lie") +
         " where this run reads or writes; once no qelv is running, remove " +
         (one ? "it" : "them") + " with: " + cli_paths_remove_command + command;
}
