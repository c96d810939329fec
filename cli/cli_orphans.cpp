// Outputs without inputs.  An encrypted file under --out-dir that no input
// of the run accounts for was made from a file that has since been removed
// (or emptied): shipped, it would bring back data the project no longer
// has.  Only files that end in the suffix and hold this format are ever
// named or removed; anything else in the folder is left alone.

#include "cli_orphans.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../runtime/runtime.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"

namespace {

struct orphan_search {
  const cli_options* o;
  std::vector<std::string> accounted;  // planned outputs, in the file system's order
  std::vector<std::string> found;      // encrypted files under --out-dir no input accounts for
  int depth;
};

bool path_less(const std::string& a, const std::string& b) {
  return cli_paths_less(a.c_str(), b.c_str());
}

void search_folder(orphan_search* s, const std::string& folder);

// The entries of one folder, walked as the run's inputs are: links to
// folders are not followed, temporary files are not the run's outputs.
struct folder_walk {
  orphan_search* s;
  const std::string* folder;
};

void walk_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* w = static_cast<folder_walk*>(context);
  orphan_search* s = w->s;
  std::string path = cli_paths_join(*w->folder, name);
  if (kind == PATHS_FOLDER) {
    if (s->depth < 64) search_folder(s, path);
    return;
  }
  if (kind != PATHS_FILE || rt_is_temp_name(name) ||
      !cli_inputs_ends_with_suffix(name, s->o->suffix) ||
      std::binary_search(s->accounted.begin(), s->accounted.end(), path, path_less))
    return;
  cli_header_read read;
  cli_inspect_read(path.c_str(), &read);
  if (cli_inspect_written_by_encrypt(read)) s->found.push_back(path);
}

void search_folder(orphan_search* s, const std::string& folder) {
  folder_walk w = {s, &folder};
  s->depth++;
  cli_paths_list(folder.c_str(), walk_entry, &w);
  s->depth--;
}

// The input an orphan at path (under out_dir) was made from in root, and
// whether it is there, too short, or gone.
std::string orphan_reason(const cli_options& o, const std::string& path, const char* root) {
  size_t at = strlen(o.out_dir);
  while (at < path.size() && cli_paths_is_separator(path[at])) at++;
  std::string relative = path.substr(at, path.size() - at - strlen(o.suffix));
  std::string input = cli_paths_join(root, relative.c_str());
  int64_t size = rt_size_query(input.c_str());
  const char* why = size == 0 || size == 1 ? "is too short to encrypt" : "is gone";
  return "no input (" + input + " " + why + ")";
}

}  // namespace

void cli_orphans_find(const cli_options& o, char** args, int count, cli_batch* batch) {
  if (!cli_traits(o.command).encrypts || !o.recursive || o.out_dir == nullptr) return;
  const char* root = nullptr;
  for (int i = 0; i < count && root == nullptr; i++)
    if (strcmp(args[i], "-") != 0 && rt_size_query(args[i]) == -2) root = args[i];
  if (root == nullptr || rt_size_query(o.out_dir) != -2) return;
  orphan_search s = {&o, {}, {}, 0};
  for (const cli_item& item : batch->items)
    if (item.has_output() && (item.from_stdin || rt_size_query(item.path.c_str()) >= 2))
      s.accounted.push_back(item.output);
  std::sort(s.accounted.begin(), s.accounted.end(), path_less);
  search_folder(&s, o.out_dir);
  std::sort(s.found.begin(), s.found.end(), path_less);
  for (const std::string& path : s.found)
    cli_inputs_add_orphan(batch, path, orphan_reason(o, path, root), o.delete_orphans);
}

bool cli_orphans_input_of(const cli_options& o, const cli_item& item, std::string* input) {
  std::string relative = item.path.substr(item.relative_at);
  const size_t suffix = strlen(o.suffix);
  const char* name = relative.c_str() + cli_inputs_name_at(relative.c_str());
  if (strlen(name) <= suffix || !cli_inputs_ends_with_suffix(name, o.suffix)) return false;
  *input = cli_paths_join(o.input_dir, relative.substr(0, relative.size() - suffix).c_str());
  return true;
}
