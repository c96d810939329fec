// What the folder listings of both platforms share: the names a search
// found, gathered, sorted as the file system compares them, and handed on
// once the search is closed.

#include "cli_paths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "../runtime/runtime.h"

bool cli_paths_less(const char* a, const char* b) {
  return cli_paths_compare(a, b, static_cast<size_t>(-1)) < 0;
}

bool cli_paths_is_stream(const char* target) {
  if (target == nullptr) return false;
  if (strcmp(target, "-") == 0) return true;
  rt_path_kind kind = rt_path_kind_of(target);
  return kind == RT_PATH_PIPE || kind == RT_PATH_DEVICE;
}

std::string cli_paths_join(const std::string& folder, const char* name) {
  bool separator = !folder.empty() && !cli_paths_is_separator(folder.back());
  return folder + (separator ? std::string(1, rt_path_separator) : "") + name;
}

void cli_paths_names_add(cli_paths_names* names, const char* name, cli_paths_kind kind) {
  names->push_back({name, kind});
}

int cli_paths_names_give(cli_paths_names* names, const char* folder, bool full,
                         cli_paths_found* found, void* context) {
  std::sort(names->begin(), names->end(), [](const cli_paths_entry& a, const cli_paths_entry& b) {
    return cli_paths_less(a.name.c_str(), b.name.c_str());
  });
  for (const cli_paths_entry& e : *names) {
    std::string path = full ? folder + e.name : e.name;
    found(path.c_str(), e.kind, context);
  }
  int count = static_cast<int>(names->size());
  names->clear();
  return count;
}

bool cli_paths_name_trimmed(const char* path) {
  const char* name = path + strlen(path);
  while (name > path && !cli_paths_is_separator(name[-1])) name--;
  const size_t n = strlen(name);
  return cli_paths_trims_names && n > 0 && (name[n - 1] == '.' || name[n - 1] == ' ') &&
         strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}
