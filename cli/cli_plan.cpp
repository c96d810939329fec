// The plan of a run: each item's output named, the later of two items that
// would write one output refused, the outputs of an earlier run found
// among the inputs, and the checks that keep an output from harming a file
// it should not (an input of the run, an existing file, a folder).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../runtime/runtime.h"
#include "cli_explain.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_stream.h"

// The output path of item under the options, into text.  Returns null, or
// the reason there is none (in why when it is made for the item).
static const char* plan_output(const cli_options& o, const cli_item& item, char* text,
                               int capacity, char* why, int why_capacity) {
  bool encrypt = cli_traits(o.command).plain_input;
  const char* file = item.path;
  size_t suffix_length = strlen(o.suffix);
  int n;
  if (o.output != nullptr) {
    n = snprintf(text, capacity, "%s", o.output);
  } else if (o.out_dir != nullptr) {
    const char* relative = file + item.relative_at;
    size_t dir_length = strlen(o.out_dir);
    bool needs_separator = dir_length > 0 && !cli_paths_is_separator(o.out_dir[dir_length - 1]);
    size_t relative_length = strlen(relative);
    const char separator[2] = {rt_path_separator, '\0'};
    // A name that is only the suffix keeps it: it would be left empty.
    const char* name = file + cli_inputs_name_at(file);
    if (!encrypt && strlen(name) > suffix_length && cli_inputs_ends_with_suffix(name, o.suffix))
      relative_length -= suffix_length;
    n = snprintf(text, capacity, "%s%s%.*s%s", o.out_dir, needs_separator ? separator : "",
                 static_cast<int>(relative_length), relative, encrypt ? o.suffix : "");
    // The folders below --out-dir take the platform's separator.
    for (char* p = text + dir_length; n > 0 && n < capacity && *p != '\0'; p++)
      if (cli_paths_is_separator(*p)) *p = rt_path_separator;
  } else if (o.in_place) {
    n = snprintf(text, capacity, "%s", file);
  } else if (encrypt) {
    n = snprintf(text, capacity, "%s%s", file, o.suffix);
  } else {
    const char* name = file + cli_inputs_name_at(file);
    if (strlen(name) <= suffix_length || !cli_inputs_ends_with_suffix(name, o.suffix))
      return cli_format(why, why_capacity, "the name does not end in %s; give --output or "
                        "--out-dir", o.suffix);
    n = snprintf(text, capacity, "%.*s", static_cast<int>(strlen(file) - suffix_length), file);
  }
  return n < 0 || n >= capacity ? "the output path would be too long" : nullptr;
}

// The items with a planned output (standard output aside), in the order of
// their outputs as the file system compares names; equal outputs in the
// order of their items.
static std::vector<int> by_output(const cli_batch& batch) {
  std::vector<int> order;
  for (int i = 0; i < batch.count; i++)
    if (batch.items[i].output != nullptr && strcmp(batch.items[i].output, "-") != 0)
      order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&batch](int i, int j) {
    return cli_paths_less(batch.items[i].output, batch.items[j].output);
  });
  return order;
}

// The item whose output is named path, in that order, other than item
// self; -1 for none.
static int output_named(const cli_batch& batch, const std::vector<int>& order, const char* path,
                        int self) {
  auto at = std::lower_bound(order.begin(), order.end(), path, [&batch](int i, const char* p) {
    return cli_paths_less(batch.items[i].output, p);
  });
  for (; at != order.end() && !cli_paths_less(path, batch.items[*at].output); ++at)
    if (*at != self) return *at;
  return -1;
}

// An encrypted file that is the output of another item of the run (a
// second "encrypt -r data" finds data/a.txt.dat beside data/a.txt) is the
// output of an earlier run, not an input: it is skipped, and so may be
// replaced (--force, --update).  Any other input stays one, and no output
// is written over it.
static void plan_skip_outputs_as_inputs(const cli_options& o, cli_batch* batch,
                                        const std::vector<int>& order) {
  if (!cli_traits(o.command).plain_input || o.allow_encrypted) return;
  for (int i = 0; i < batch->count; i++) {
    cli_item& item = batch->items[i];
    if (item.settled || item.from_stdin) continue;
    int j = output_named(*batch, order, item.path, i);
    if (j < 0 || batch->items[j].settled) continue;
    if (!cli_inspect_is_encrypted(cli_inputs_header(&item))) continue;
    char text[CLI_TEXT_CAPACITY];
    cli_format(text, sizeof text, "the output of %s in this run", batch->items[j].shown);
    item.settled = true;
    item.settled_outcome = OUTCOME_SKIPPED;
    item.skip_kind = "output of this run";
    item.message = cli_inputs_copy(text);
  }
}

// Refuses the later of two items whose planned outputs are one name.
static void plan_refuse_shared_outputs(const cli_options& o, cli_batch* batch) {
  std::vector<int> order = by_output(*batch);
  plan_skip_outputs_as_inputs(o, batch, order);
  std::erase_if(order, [batch](int i) { return batch->items[i].settled; });
  for (size_t k = 1; k < order.size(); k++) {
    cli_item& first = batch->items[order[k - 1]];
    cli_item& later = batch->items[order[k]];
    if (cli_paths_less(first.output, later.output)) continue;
    char text[CLI_TEXT_CAPACITY];
    cli_format(text, sizeof text, "the output %s is also the output of %s", later.output,
               first.shown);
    later.settled = true;
    later.settled_outcome = OUTCOME_FAILED;
    later.message = cli_inputs_copy(text);
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
  for (int i = 0; i < batch->count; i++) {
    const cli_item& item = batch->items[i];
    cli_identity id = {0, 0, i};
    if (!item.settled && !item.from_stdin && rt_file_identity(item.path, &id.volume, &id.file))
      batch->identities.push_back(id);
  }
  std::sort(batch->identities.begin(), batch->identities.end(), identity_less);
}

void cli_inputs_plan(const cli_options& o, cli_batch* batch) {
  if (!cli_traits(o.command).writes) return;
  char text[RT_PATH_CAPACITY], why[CLI_TEXT_CAPACITY];
  for (int i = 0; i < batch->count; i++) {
    cli_item& item = batch->items[i];
    if (item.settled) continue;
    const char* refusal = plan_output(o, item, text, sizeof text, why, sizeof why);
    if (refusal == nullptr) item.output = cli_inputs_copy(text);
    if (refusal != nullptr || item.output == nullptr) {
      item.settled = true;
      item.settled_outcome = OUTCOME_FAILED;
      item.message = cli_inputs_copy(refusal != nullptr ? refusal : "out of memory");
    }
  }
  plan_refuse_shared_outputs(o, batch);
  plan_identities(batch);  // of the inputs left
}

bool cli_inputs_refuse_output(const cli_options& o, const cli_batch& batch, int index,
                              char* text, int capacity) {
  const cli_item& item = batch.items[index];
  const char* output = item.output;
  bool own_input = rt_same_file(item.path, output);
  int64_t size = rt_size_query(output);
  if (own_input && !o.in_place) {
    cli_format(text, capacity, "the output is the file itself; give --in-place to replace it");
    return true;
  }
  if (size == -2) {
    cli_format(text, capacity, "the output %s is a folder", output);
    return true;
  }
  if (size < 0) return false;
  if (!own_input && !o.force && !o.update) {
    cli_format(text, capacity, "%s exists; give --force to overwrite it, or --update to keep "
               "it when it is up to date", output);
    return true;
  }
  // An output that another item still has to read (or has read, in place)
  // is kept: the inputs as they were when the run began.
  uint64_t volume, file;
  if (!rt_file_identity(output, &volume, &file)) return false;
  const cli_identity key = {volume, file, -1};
  const auto end = batch.identities.end();
  for (auto id = std::lower_bound(batch.identities.begin(), end, key, identity_less);
       id != end && id->volume == volume && id->file == file; ++id) {
    if (id->item != index) {
      cli_format(text, capacity, "the output %s is also an input of this run", output);
      return true;
    }
  }
  return false;
}

// Makes the folder path, one level; true when it is there.
static bool make_folder(const char* path, char* text, int capacity) {
  int made = rt_folder_make(path);
  if (made > 0) return true;
  int code = rt_last_error();
  if (made == 0 && rt_size_query(path) == -2) return true;
  char reason[256];
  cli_format(text, capacity, "cannot make the folder %s: %s", path,
             made == 0 ? "a file has that name" : cli_explain_reason(code, reason, sizeof reason));
  return false;
}

bool cli_inputs_make_folders(const cli_options& o, const char* output, char* text,
                             int capacity) {
  if (o.out_dir == nullptr) return true;
  char folder[RT_PATH_CAPACITY];
  snprintf(folder, sizeof folder, "%s", output);
  // The folders on the way, from the last one that exists: each separator
  // after it ends a folder to make.
  int from = static_cast<int>(strlen(folder));
  while (from > 0) {
    while (from > 0 && !cli_paths_is_separator(folder[from - 1])) from--;
    if (from == 0) break;
    char separator = folder[from - 1];
    folder[from - 1] = '\0';
    bool exists = folder[0] == '\0' || rt_size_query(folder) == -2;
    folder[from - 1] = separator;
    if (exists) break;
    from--;
  }
  for (int i = from; folder[i] != '\0'; i++) {
    if (!cli_paths_is_separator(folder[i]) || i == 0 || cli_paths_is_separator(folder[i - 1]))
      continue;
    char separator = folder[i];
    folder[i] = '\0';
    bool made = make_folder(folder, text, capacity);
    folder[i] = separator;
    if (!made) return false;
  }
  return true;
}

// The folder path lies in, with its separator, into text ("" for none).
static void folder_of(const char* path, char* text, int capacity) {
  snprintf(text, capacity, "%.*s", cli_inputs_name_at(path), path);
}


struct stale_search {
  cli_batch* batch;
  const char* folder;
};

static void stale_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* s = static_cast<stale_search*>(context);
  if (kind == PATHS_FILE && rt_is_temp_name(name))
    cli_inputs_note_stale(s->batch, (std::string(s->folder) + name).c_str());
}

void cli_inputs_find_stale(cli_batch* batch) {
  // The output folders, each once.
  std::vector<std::string> folders;
  char folder[RT_PATH_CAPACITY];
  for (int i = 0; i < batch->count; i++) {
    const cli_item& item = batch->items[i];
    if (item.output == nullptr || item.settled || cli_stream_is_stream(item.output))
      continue;
    folder_of(item.output, folder, sizeof folder);
    folders.push_back(folder[0] != '\0' ? folder : ".");
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
