// Outputs without inputs, and inputs without outputs.  An encrypted file
// under --out-dir that no input of the run accounts for was made from a
// file that has since been removed (or emptied): shipped, it would bring
// back data the project no longer has.  Only files that end in the suffix
// and are exactly what encryption writes are ever named or removed; anything
// else in the folder, anything under an input folder, any link, any input
// of the run, any output of an input left out by --exclude and any output
// whose input is there but failed, or lies behind a folder that could not
// be read, is left alone.  --delete removes them within bounds, so that a wrong or empty
// input folder cannot empty the output folder.

#include "cli_orphans.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_exclude.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"

namespace {

bool path_less(const std::string& a, const std::string& b) {
  return cli_paths_less(a.c_str(), b.c_str());
}

struct file_id {
  uint64_t volume, file;
  bool operator<(const file_id& other) const {
    return volume != other.volume ? volume < other.volume : file < other.file;
  }
  bool operator==(const file_id& other) const = default;
};

// A walk of a folder as the run's inputs are walked: links are not
// followed, temporary files are not the run's, and the folders and files
// in skipped (the run's inputs, and its input folders) are not looked into.
struct tree_walk {
  std::vector<file_id> skipped;  // sorted
  bool files_skipped;  // skipped holds files, not only folders: each file is looked at
  void (*file)(void* context, const std::string& path, cli_paths_kind kind);
  void* context;
  bool any_kind;  // file is also called for what is not a regular file: links, pipes, devices
  std::vector<std::string>* stale;  // where the engine's temporary files found are noted, or null
  int depth;
};

bool walk_skips(const tree_walk& w, const std::string& path) {
  file_id id;
  return !w.skipped.empty() && rt_file_identity(path.c_str(), &id.volume, &id.file) &&
         std::binary_search(w.skipped.begin(), w.skipped.end(), id);
}

void walk_folder(tree_walk* w, const std::string& folder);

struct folder_level {
  tree_walk* w;
  const std::string* folder;
};

void walk_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* level = static_cast<folder_level*>(context);
  tree_walk* w = level->w;
  std::string path = cli_paths_join(*level->folder, name);
  if (kind == PATHS_FOLDER) {
    if (w->depth < 64 && !walk_skips(*w, path)) walk_folder(w, path);
  } else if (kind == PATHS_FILE && rt_is_temp_name(name)) {
    if (w->stale != nullptr) w->stale->push_back(path);
  } else if ((kind == PATHS_FILE || w->any_kind) && !rt_is_temp_name(name) &&
             !(w->files_skipped && walk_skips(*w, path))) {
    w->file(w->context, path, kind);
  }
}

void walk_folder(tree_walk* w, const std::string& folder) {
  folder_level level = {w, &folder};
  w->depth++;
  cli_paths_list(folder.c_str(), walk_entry, &level);
  w->depth--;
}

// What a walk of the output folder never takes for outputs: the folders
// named among the FILEs, whose files are the run's inputs, and the files
// named there (*named_files: there are some, so each file walked is looked
// at; the inputs found in the folders are left out with their folders).
std::vector<file_id> run_inputs(const cli_batch& batch, const std::vector<const char*>& files,
                                bool* named_files) {
  std::vector<file_id> ids;
  *named_files = false;
  for (const char* file : files) {
    if (strcmp(file, "-") == 0) continue;
    const rt_path_facts facts = rt_path_facts_of(file);
    if (facts.has_identity) ids.push_back({facts.volume, facts.file});
    *named_files = *named_files || facts.size >= 0 || cli_paths_has_wildcard(file);
  }
  for (const cli_item& item : batch.items)  // a pattern's matches, named too
    if (*named_files && item.has_identity) ids.push_back({item.volume, item.file});
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The first folder among the FILEs: where the inputs of a tree come from.
const char* input_root(const std::vector<const char*>& files) {
  for (const char* file : files)
    if (strcmp(file, "-") != 0 && rt_size_query(file) == -2) return file;
  return nullptr;
}

// The part of path below folder, without the separators between.
std::string below(const std::string& path, const char* folder) {
  size_t at = strlen(folder);
  while (at < path.size() && cli_paths_is_separator(path[at])) at++;
  return path.substr(at);
}

struct orphan_search {
  tree_walk walk;
  const cli_options* o;
  std::vector<std::string> accounted;  // planned outputs, in the file system's order
  std::vector<file_id> inputs;         // every input of the run, sorted
  const char* root;                    // the input folder
  std::vector<std::string> failed;     // inputs the run failed (folders among them), sorted
  // Encrypted files no input accounts for, each with its reason.
  std::vector<std::pair<std::string, std::string>> found;
  int encrypted;                       // files in the folder as encryption writes them
};

// Why the input an encrypted file was made from counts as missing: it is
// gone, or too short to encrypt.  Empty when it is there and failed for a
// reason of its own (a link, a name the system cannot open), or when a
// folder on its way could not be read, where it may well be, unseen.
std::string input_missing(const orphan_search& s, const std::string& input) {
  const int64_t size = rt_size_query(input.c_str());
  if (size == -2 || size >= FILE_LEAST_PLAIN) return "";
  for (size_t at = input.size(); at-- > 0;)
    if (cli_paths_is_separator(input[at]) &&
        std::binary_search(s.failed.begin(), s.failed.end(), input.substr(0, at), path_less))
      return "";
  return "no input (" + input + (size >= 0 ? " is too short to encrypt)" : " is gone)");
}

void orphan_file(void* context, const std::string& path, cli_paths_kind) {
  auto* s = static_cast<orphan_search*>(context);
  const char* name = path.c_str() + cli_inputs_name_at(path.c_str());
  if (!cli_inputs_ends_with_suffix(name, s->o->suffix)) return;
  // A planned output counts as an encrypted file unread: the run checks or
  // writes it.
  if (std::binary_search(s->accounted.begin(), s->accounted.end(), path, path_less)) {
    s->encrypted++;
    return;
  }
  cli_header_read read;
  cli_inspect_read(path.c_str(), &read);
  if (!cli_inspect_written_by_encrypt(read)) return;
  s->encrypted++;
  // An output folder at or inside an input folder holds inputs of the run
  // too (an encrypted file taken as an input, failed or skipped): never an
  // orphan, whatever its name says.
  file_id id;
  if (rt_file_identity(path.c_str(), &id.volume, &id.file) &&
      std::binary_search(s->inputs.begin(), s->inputs.end(), id))
    return;
  // The output of an input left out of the run stays, whether or not the
  // input is still there.
  std::string relative = below(path, s->o->out_dir);
  cli_inputs_strip_suffix(&relative, s->o->suffix);
  if (cli_exclude_match(s->o->excludes, relative, false) != nullptr) return;
  std::string reason = input_missing(*s, cli_paths_join(s->root, relative.c_str()));
  if (!reason.empty()) s->found.emplace_back(path, reason);
}

// Why --delete may not remove the orphans found, or empty: not when the
// run found no input at all, nor more than half of the encrypted files in
// the folder unless --max-delete allows that many.
std::string delete_refused(const cli_options& o, const cli_batch& batch, const orphan_search& s,
                           const char* root) {
  const int removing = static_cast<int>(s.found.size());
  bool any_input = false;
  for (const cli_item& item : batch.items) any_input = any_input || item.has_output();
  std::string why;
  if (!any_input)
    why = cli_format("the run found no input in %s, so every encrypted file in %s would count "
                     "as having none", root, o.out_dir);
  else if (o.max_delete >= 0 && removing > o.max_delete)
    why = cli_format("%d encrypted files in %s have no input, more than --max-delete %ld",
                     removing, o.out_dir, o.max_delete);
  else if (o.max_delete < 0 && removing * 2 > s.encrypted)
    why = cli_format("%d of the %d encrypted files in %s have no input, more than half; check "
                     "that %s is the input folder, or give --max-delete %d",
                     removing, s.encrypted, o.out_dir, root, removing);
  return why;
}

struct missing_search {
  tree_walk walk;
  const cli_options* o;
  const char* root;                    // the folder of encrypted files given
  std::vector<std::string> outputs;    // the encrypted files the run verifies, sorted
  std::vector<std::string> inputs;     // inputs without one
};

void missing_file(void* context, const std::string& path, cli_paths_kind kind) {
  auto* s = static_cast<missing_search*>(context);
  std::string relative = below(path, s->o->input_dir);
  // A link to a folder is left out by a folder's pattern, as encrypt leaves it out.
  const bool folder = kind == PATHS_FOLDER_LINK;
  if (cli_exclude_match(s->o->excludes, relative, folder) != nullptr) return;
  // Spelt as the walk of root spells the files it finds.
  std::string output = cli_paths_join(s->root, relative.c_str()) + s->o->suffix;
  if (!std::binary_search(s->outputs.begin(), s->outputs.end(), output, path_less))
    s->inputs.push_back(path);
}

}  // namespace

std::string cli_orphans_find(const cli_options& o, cli_batch* batch) {
  if (!cli_traits(o.command).encrypts || !o.recursive || o.out_dir == nullptr) return "";
  const char* root = input_root(o.files);
  if (root == nullptr || rt_size_query(o.out_dir) != -2) return "";
  orphan_search s = {{{}, false, orphan_file, nullptr, false, &batch->stale, 0}, &o, {}, {}, root,
                     {}, {}, 0};
  s.walk.skipped = run_inputs(*batch, o.files, &s.walk.files_skipped);
  s.walk.context = &s;
  for (const cli_item& item : batch->items) {
    if (item.has_output() && (item.from_stdin || item.size >= FILE_LEAST_PLAIN))
      s.accounted.push_back(item.output);
    if (item.has_identity) s.inputs.push_back({item.volume, item.file});
    if (item.decided && item.decided_outcome == OUTCOME_FAILED) s.failed.push_back(item.path);
  }
  std::sort(s.accounted.begin(), s.accounted.end(), path_less);
  std::sort(s.inputs.begin(), s.inputs.end());
  std::sort(s.failed.begin(), s.failed.end(), path_less);
  walk_folder(&s.walk, o.out_dir);
  batch->outputs_walked = true;  // every output lies below --out-dir
  if (o.delete_orphans && !s.found.empty()) {
    std::string why = delete_refused(o, *batch, s, root);
    if (!why.empty()) return why;
  }
  std::sort(s.found.begin(), s.found.end(),
            [](const auto& a, const auto& b) { return path_less(a.first, b.first); });
  for (const auto& [path, reason] : s.found)
    cli_inputs_add_orphan(batch, path, reason, o.delete_orphans);
  return "";
}

void cli_orphans_find_missing(const cli_options& o, cli_batch* batch) {
  if (o.input_dir == nullptr || !o.recursive) return;
  const char* root = input_root(o.files);
  if (root == nullptr) return;
  // Anything encrypt would fail on (a link, a pipe, a name it cannot open)
  // has no output either.
  missing_search s = {{{}, false, missing_file, nullptr, true, nullptr, 0}, &o, root, {}, {}};
  s.walk.skipped = run_inputs(*batch, o.files, &s.walk.files_skipped);
  s.walk.context = &s;
  for (const cli_item& item : batch->items) s.outputs.push_back(item.path);
  std::sort(s.outputs.begin(), s.outputs.end(), path_less);
  walk_folder(&s.walk, o.input_dir);
  for (const std::string& input : s.inputs) {
    std::string relative = below(input, o.input_dir);
    std::string output = cli_paths_join(root, relative.c_str()) + o.suffix;
    cli_item item;
    item.path = item.shown = input;
    item.decided = true;
    item.decided_outcome = OUTCOME_FAILED;
    item.reason = "no output (" + output + " is missing); encrypt it, or leave it out with "
                  "--exclude";
    batch->items.push_back(item);
  }
}
