// The plan of a run: each item's output named, the later of two items that
// would write one output refused, the outputs of an earlier run found
// among the inputs, and the checks that keep an output from harming a file
// it should not (an input of the run, an existing file, a folder, a link).

#include "cli_plan.h"

#include <algorithm>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_stream.h"

// The output path of item under the options into *output; or why there
// is none.
static std::string plan_output(const cli_options& o, const cli_item& item, std::string* output) {
  const bool encrypt = cli_traits(o.command).encrypts;
  if (o.output != nullptr) {
    *output = o.output;
  } else if (o.out_dir != nullptr) {
    std::string relative = item.path.substr(item.relative_at);
    if (!encrypt) cli_inputs_strip_suffix(&relative, o.suffix);
    // The folders below --out-dir take the platform's separator.
    for (char& c : relative)
      if (cli_paths_is_separator(c)) c = rt_path_separator;
    *output = cli_paths_join(o.out_dir, relative.c_str()) + (encrypt ? o.suffix : "");
  } else if (o.in_place) {
    *output = item.path;
  } else if (encrypt) {
    *output = item.path + o.suffix;
  } else {
    *output = item.path;
    if (!cli_inputs_strip_suffix(output, o.suffix)) {
      output->clear();
      return cli_format("the name does not end in %s; give --output or --out-dir", o.suffix);
    }
  }
  // "x .dat" decrypted would be "x ", which this system takes for x.
  if (cli_paths_name_trimmed(output->c_str()))
    return "the output " + *output + " ends in a dot or a space, which this system drops from a "
           "name, so another file would be written; rename it, or give --output";
  return "";
}

// The items with a planned output (standard output aside), in the order of
// their outputs as the file system compares names; equal outputs in the
// order of their items.
static std::vector<int> by_output(const cli_batch& batch) {
  std::vector<int> order;
  for (int i = 0; i < batch.count(); i++)
    if (batch.items[i].has_output() && batch.items[i].output != "-") order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&batch](int i, int j) {
    return cli_paths_less(batch.items[i].output.c_str(), batch.items[j].output.c_str());
  });
  return order;
}

// The item whose output is named path, in that order, other than item
// self; -1 for none.
static int output_named(const cli_batch& batch, const std::vector<int>& order, const char* path,
                        int self) {
  auto at = std::lower_bound(order.begin(), order.end(), path, [&batch](int i, const char* p) {
    return cli_paths_less(batch.items[i].output.c_str(), p);
  });
  for (; at != order.end() && !cli_paths_less(path, batch.items[*at].output.c_str()); ++at)
    if (*at != self) return *at;
  return -1;
}

// Whether item's input is exactly what encryption writes; only a file whose
// length a padded body can have is read for its header.
static bool plan_written_by_encrypt(cli_item* item) {
  const int64_t body = item->size - FILE_HEADER_SIZE;
  if (body < 8 || body % 8 != 0) return false;
  return cli_inspect_written_by_encrypt(cli_inputs_header(item));
}

// An encrypted file that is the output of another item of the run (a
// second "encrypt -r data" finds data/a.txt.dat beside data/a.txt) is the
// output of an earlier run, not an input: it is skipped, and so may be
// replaced (--force, --update).  Any other input stays one, and no output
// is written over it.
static void plan_skip_outputs_as_inputs(const cli_options& o, cli_batch* batch,
                                        const std::vector<int>& order) {
  if (!cli_traits(o.command).encrypts || o.allow_encrypted) return;
  for (int i = 0; i < batch->count(); i++) {
    cli_item& item = batch->items[i];
    if (item.decided || item.from_stdin) continue;
    int j = output_named(*batch, order, item.path.c_str(), i);
    if (j < 0 || batch->items[j].decided) continue;
    if (!plan_written_by_encrypt(&item)) continue;
    item.decided = true;
    item.decided_outcome = OUTCOME_SKIPPED;
    item.skip_kind = "output of this run";
    item.reason = "the output of " + batch->items[j].shown + " in this run";
  }
}

// Refuses the later of two items whose planned outputs are one name, or
// skips it when it is the same file given twice (its output is the first's).
static void plan_refuse_shared_outputs(const cli_options& o, cli_batch* batch) {
  std::vector<int> order = by_output(*batch);
  plan_skip_outputs_as_inputs(o, batch, order);
  std::erase_if(order, [batch](int i) { return batch->items[i].decided; });
  for (size_t k = 1; k < order.size(); k++) {
    cli_item& first = batch->items[order[k - 1]];
    cli_item& later = batch->items[order[k]];
    if (cli_paths_less(first.output.c_str(), later.output.c_str())) continue;
    later.decided = true;
    if (first.has_identity && later.has_identity && first.volume == later.volume &&
        first.file == later.file) {
      later.decided_outcome = OUTCOME_SKIPPED;
      later.skip_kind = "given twice";
      later.reason = "given twice: taken once";
    } else {
      later.decided_outcome = OUTCOME_FAILED;
      later.reason = "the output " + later.output + " is also the output of " + first.shown;
    }
    order[k] = order[k - 1];  // a third one names the first, too
  }
}

static bool identity_less(const cli_identity& x, const cli_identity& y) {
  if (x.volume != y.volume) return x.volume < y.volume;
  if (x.file != y.file) return x.file < y.file;
  return x.item < y.item;
}

// Which file each input is, however it is spelt, sorted for look-ups: an
// output that is one of them must not be written (cli_inputs_refuse_output).
static void plan_identities(cli_batch* batch) {
  batch->identities.clear();
  for (int i = 0; i < batch->count(); i++) {
    const cli_item& item = batch->items[i];
    if (!item.decided && item.has_identity)
      batch->identities.push_back({item.volume, item.file, i});
  }
  std::sort(batch->identities.begin(), batch->identities.end(), identity_less);
}

// For verify --input-dir: the input that item (an encrypted file found in
// a folder or named) was made from, into *input; false when it has no
// name there (its name does not end in the suffix).
static bool plan_input_of(const cli_options& o, const cli_item& item, std::string* input) {
  std::string relative = item.path.substr(item.relative_at);
  if (!cli_inputs_strip_suffix(&relative, o.suffix)) return false;
  *input = cli_paths_join(o.input_dir, relative.c_str());
  return true;
}

// The folder path lies in, with its separator ("" for none).
static std::string folder_of(const std::string& path) {
  return path.substr(0, cli_inputs_name_at(path.c_str()));
}

// Why a folder on the way from --out-dir (the user's to name) to output is
// a link, which would lead the output out of --out-dir; empty when none is.
static std::string plan_folder_link(const cli_options& o, const std::string& output) {
  if (o.out_dir == nullptr) return "";
  for (size_t i = strlen(o.out_dir) + 1; i < output.size(); i++) {
    if (!cli_paths_is_separator(output[i]) || cli_paths_is_separator(output[i - 1])) continue;
    std::string folder = output.substr(0, i);
    if (rt_is_link(folder.c_str()))
      return "the folder " + folder + " is a link, which would lead the output out of " +
             o.out_dir + "; no output is written through a link";
  }
  return "";
}

// Decides an item whose outcome is known before any work: failed with
// reason, or skipped for kind.
static void plan_decide(cli_item* item, cli_outcome outcome, const std::string& reason,
                        const char* kind = nullptr) {
  item->decided = true;
  item->decided_outcome = outcome;
  item->reason = reason;
  item->skip_kind = kind;
}

// Why the input of item cannot be worked: encrypt fails on a file too short
// for the format, whose output would be missing; decrypt and verify on an
// empty file, which the module refuses, for a build step must not pass with
// a file the application cannot open.  Empty when it can.
static std::string plan_refuse_input(const cli_item& item) {
  // A device reads as an empty file: say what it is.
  const bool too_short = item.size >= 0 && item.size < FILE_LEAST_PLAIN;
  if (too_short) {
    const char* special = cli_explain_special(item.path.c_str());
    if (special != nullptr)
      return cli_format("not a regular file (%s), which cannot be read whole", special);
  }
  if (item.encrypts && too_short)
    return std::string(item.size == 0 ? "empty" : "1 byte") + ", " + cli_explain_too_short +
           "; leave it out with --exclude";
  if (!item.encrypts && item.size == 0) return cli_explain_empty_encrypted;
  return item.size > 0 ? "" : cli_explain_input(item.path.c_str());
}

// Where an output goes: a file, standard output, or a device or pipe; only
// an output named with --output may be a device, and one made from its
// input's name is a file (one in a device's place is replaced as any).
static cli_output_kind plan_output_kind(const cli_options& o, const std::string& output) {
  if (output.empty()) return OUTPUT_NONE;
  if (output == "-") return OUTPUT_STANDARD;
  if (o.output == nullptr) return OUTPUT_FILE;
  rt_path_kind kind = rt_path_kind_of(output.c_str());
  return kind == RT_PATH_PIPE || kind == RT_PATH_DEVICE ? OUTPUT_DEVICE : OUTPUT_FILE;
}

// An input that already is an encrypted file, as encryption writes one.
// Beside itself, its output would be another copy of it, so it is skipped;
// anywhere else (--out-dir, --output) its output would be missing there, so
// it fails.
static void plan_already_encrypted(const cli_options& o, cli_item* item) {
  if (item->decided || !item->encrypts || o.allow_encrypted || item->from_stdin ||
      !plan_written_by_encrypt(item))
    return;
  if (o.out_dir == nullptr && o.output == nullptr)
    plan_decide(item, OUTCOME_SKIPPED, "already an encrypted file (give --allow-encrypted to "
                "encrypt it again)", "already encrypted");
  else
    plan_decide(item, OUTCOME_FAILED, "already an encrypted file, so its output " + item->output +
                " would be missing; give --allow-encrypted to encrypt it again, or leave it out "
                "with --exclude");
}

// Refuses the items whose output lies below a folder that is a link,
// each distinct folder looked at once.
static void plan_refuse_folder_links(const cli_options& o, cli_batch* batch) {
  if (o.out_dir == nullptr) return;
  std::map<std::string, std::string> why_of_folder;
  for (cli_item& item : batch->items) {
    if (item.decided || item.output_kind != OUTPUT_FILE) continue;
    const std::string folder = folder_of(item.output);
    auto known = why_of_folder.find(folder);
    if (known == why_of_folder.end())
      known = why_of_folder.emplace(folder, plan_folder_link(o, item.output)).first;
    if (!known->second.empty()) plan_decide(&item, OUTCOME_FAILED, known->second);
  }
}

void cli_plan(const cli_options& o, cli_batch* batch) {
  const cli_command_traits& traits = cli_traits(o.command);
  if (traits.headers_only) return;
  for (cli_item& item : batch->items) {
    item.encrypts = traits.encrypts;
    if (item.decided) continue;
    if (!item.from_stdin) {
      // One look: its size, and which file it is.
      const rt_path_facts facts = rt_path_facts_of(item.path.c_str());
      item.size = facts.size;
      item.has_identity = facts.has_identity;
      item.volume = facts.volume;
      item.file = facts.file;
      std::string refusal = plan_refuse_input(item);
      if (!refusal.empty()) {
        plan_decide(&item, OUTCOME_FAILED, refusal);
        continue;
      }
    }
    if (!traits.writes) {
      if (o.input_dir != nullptr) plan_input_of(o, item, &item.input);
      continue;
    }
    std::string refusal = plan_output(o, item, &item.output);
    if (!refusal.empty()) plan_decide(&item, OUTCOME_FAILED, refusal);
    item.output_kind = plan_output_kind(o, item.output);
  }
  if (!traits.writes) return;
  plan_refuse_shared_outputs(o, batch);
  plan_refuse_folder_links(o, batch);
  for (cli_item& item : batch->items) plan_already_encrypted(o, &item);
  plan_identities(batch);  // of the inputs left
}

std::string cli_plan_refuse_output(const cli_options& o, const cli_batch& batch,
                                   const cli_item* of, int64_t* output_size) {
  const cli_item& item = *of;
  const int index = static_cast<int>(of - batch.items.data());
  const char* output = item.output.c_str();
  const rt_path_facts at = rt_path_facts_of(output);
  *output_size = at.size;
  // Nothing is read or written through a link in the output's place.
  if (at.link && !o.force)
    return "the output " + item.output + " is a link; no output is read or written through a "
           "link: remove it, or give --force to replace the link itself";
  if (at.link || at.size == -1) return "";  // --force replaces the link itself
  const bool own_input = item.has_identity && at.has_identity && item.volume == at.volume &&
                         item.file == at.file;
  if (own_input && !o.in_place) return "the output is the file itself; give --in-place to replace it";
  if (at.size == -2) return cli_format("the output %s is a folder", output);
  if (!own_input && !o.force && !o.update)
    return cli_format("%s exists; give --force to overwrite it, or --update to keep it when it "
                      "is up to date", output);
  // An output that another item still has to read (or has read, in place)
  // is kept: the inputs as they were when the run began.
  if (!at.has_identity) return "";
  const cli_identity key = {at.volume, at.file, -1};
  const auto end = batch.identities.end();
  for (auto id = std::lower_bound(batch.identities.begin(), end, key, identity_less);
       id != end && id->volume == at.volume && id->file == at.file; ++id) {
    if (id->item != index) return cli_format("the output %s is also an input of this run", output);
  }
  return "";
}


// Makes the folder path, one level; why not, or empty when it is there.
static std::string make_folder(const std::string& path) {
  int made = rt_folder_make(path.c_str());
  if (made > 0) return "";
  int code = rt_last_error();
  if (made == 0 && rt_size_query(path.c_str()) == -2) return "";
  return "cannot make the folder " + path + ": " +
         (made == 0 ? std::string("a file has that name") : cli_explain_reason(code));
}

std::string cli_plan_make_folders(const cli_options& o, const std::string& output) {
  if (o.out_dir == nullptr) return "";
  std::string folder = output;
  // The folders on the way, from the last one that exists: each separator
  // after it ends a folder to make.
  size_t from = folder.size();
  while (from > 0) {
    while (from > 0 && !cli_paths_is_separator(folder[from - 1])) from--;
    if (from == 0) break;
    std::string above = folder.substr(0, from - 1);
    if (above.empty() || rt_size_query(above.c_str()) == -2) break;
    from--;
  }
  for (size_t i = from; i < folder.size(); i++) {
    if (!cli_paths_is_separator(folder[i]) || i == 0 || cli_paths_is_separator(folder[i - 1]))
      continue;
    std::string why = make_folder(folder.substr(0, i));
    if (!why.empty()) return why;
  }
  return "";
}

struct stale_search {
  cli_batch* batch;
  const char* folder;
};

static void stale_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* s = static_cast<stale_search*>(context);
  if (kind == PATHS_FILE && rt_is_temp_name(name))
    cli_inputs_note_stale(s->batch, std::string(s->folder) + name);
}

void cli_plan_find_stale(cli_batch* batch) {
  // The output folders, each once, unless the search for outputs without
  // inputs walked them all.
  std::vector<std::string> folders;
  for (const cli_item& item : batch->items) {
    if (batch->outputs_walked) break;
    if (item.output_kind != OUTPUT_FILE || item.decided) continue;
    std::string folder = folder_of(item.output);
    folders.push_back(!folder.empty() ? folder : ".");
  }
  auto less = [](const std::string& a, const std::string& b) {
    return cli_paths_less(a.c_str(), b.c_str());
  };
  auto same = [&less](const std::string& a, const std::string& b) {
    return !less(a, b) && !less(b, a);
  };
  std::sort(folders.begin(), folders.end(), less);
  folders.erase(std::unique(folders.begin(), folders.end(), same), folders.end());
  for (const std::string& f : folders) {
    stale_search s = {batch, f == "." ? "" : f.c_str()};
    // Missing folders, to be made, hold nothing.
    if (rt_size_query(f.c_str()) == -2) cli_paths_list(f.c_str(), stale_entry, &s);
  }
  // Each once, in name order: an output folder may also have been walked.
  std::vector<std::string>& stale = batch->stale;
  std::sort(stale.begin(), stale.end(), less);
  stale.erase(std::unique(stale.begin(), stale.end(), same), stale.end());
}
