// What the folder listings of both platforms share: the names a search
// found, gathered, sorted as the file system compares them, and handed on
// once the search is closed.

#include "cli_paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../runtime/runtime.h"

bool cli_paths_less(const char* a, const char* b) {
  return cli_paths_compare(a, b, static_cast<size_t>(-1)) < 0;
}

std::string cli_paths_join(const std::string& folder, const char* name) {
  bool separator = !folder.empty() && !cli_paths_is_separator(folder.back());
  return folder + (separator ? std::string(1, rt_path_separator) : "") + name;
}

bool cli_paths_names_add(cli_paths_names* names, const char* name, cli_paths_kind kind) {
  if (names->count == names->capacity) {
    int capacity = names->capacity > 0 ? 2 * names->capacity : 64;
    void* grown = realloc(names->entries, sizeof(cli_paths_entry) * capacity);
    if (grown == nullptr) {
      names->incomplete = true;
      return false;
    }
    names->entries = static_cast<cli_paths_entry*>(grown);
    names->capacity = capacity;
  }
  size_t n = strlen(name) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (copy == nullptr) {
    names->incomplete = true;
    return false;
  }
  memcpy(copy, name, n);
  names->entries[names->count++] = {copy, kind};
  return true;
}

static int compare_entries(const void* a, const void* b) {
  return cli_paths_compare(static_cast<const cli_paths_entry*>(a)->name,
                           static_cast<const cli_paths_entry*>(b)->name, static_cast<size_t>(-1));
}

int cli_paths_names_give(cli_paths_names* names, const char* folder, bool full,
                         cli_paths_found* found, void* context) {
  cli_paths_entry* entries = names->entries;  // null when none was found
  if (names->count > 0) qsort(entries, names->count, sizeof(cli_paths_entry), compare_entries);
  char path[RT_PATH_CAPACITY];
  for (int i = 0; i < names->count; i++) {
    if (!names->incomplete) {
      snprintf(path, sizeof path, "%s%s", folder, entries[i].name);
      found(full ? path : entries[i].name, entries[i].kind, context);
    }
    free(entries[i].name);
  }
  free(entries);
  int count = names->incomplete ? -1 : names->count;
  *names = {};
  return count;
}
