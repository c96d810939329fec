// What a run works on: the FILE arguments turned into items (patterns
// expanded, folders walked under --recursive), and the batch that holds
// them.  Their outputs are planned in cli_plan.cpp.

#include "cli_inputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../runtime/runtime.h"
#include "cli_codepage.h"
#include "cli_explain.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_stream.h"

static const char stdin_name[] = "(standard input)";

const cli_header_read& cli_inputs_header(cli_item* item) {
  if (!item->header_known) cli_inspect_read(item->path, &item->header);
  item->header_known = true;
  return item->header;
}

char* cli_inputs_copy(const char* text) {
  size_t n = strlen(text) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (copy != nullptr) memcpy(copy, text, n);
  return copy;
}

// Adds an item for path; null when memory ran out.
static cli_item* inputs_add(cli_batch* batch, const char* path, int relative_at) {
  if (batch->count == batch->capacity) {
    int capacity = batch->capacity > 0 ? 2 * batch->capacity : 64;
    void* grown = realloc(batch->items, sizeof(cli_item) * capacity);
    if (grown == nullptr) return nullptr;
    batch->items = static_cast<cli_item*>(grown);
    batch->capacity = capacity;
  }
  cli_item* item = &batch->items[batch->count];
  memset(item, 0, sizeof *item);
  item->path = cli_inputs_copy(path);
  if (item->path == nullptr) return nullptr;
  item->shown = item->path;
  item->relative_at = relative_at;
  batch->count++;
  return item;
}

bool cli_inputs_add_orphan(cli_batch* batch, const char* path, const char* reason, bool removed) {
  cli_item* item = inputs_add(batch, path, 0);
  if (item == nullptr) return false;
  item->orphan = true;
  item->settled = true;
  item->settled_outcome = removed ? OUTCOME_DELETED : OUTCOME_FAILED;
  item->message = cli_inputs_copy(reason);
  return item->message != nullptr;
}

void cli_inputs_free(cli_batch* batch) {
  for (int i = 0; i < batch->count; i++) {
    free(batch->items[i].path);
    free(batch->items[i].output);
    free(batch->items[i].message);
  }
  batch->stale.clear();
  free(batch->items);
  batch->identities.clear();
  batch->items = nullptr;
  batch->count = batch->capacity = 0;
}

int cli_inputs_name_at(const char* path) {
  int at = 0;
  for (int i = 0; path[i] != '\0'; i++)
    if (cli_paths_is_separator(path[i])) at = i + 1;
  return at;
}

bool cli_inputs_ends_with_suffix(const char* name, const char* suffix) {
  size_t n = strlen(name), m = strlen(suffix);
  return n >= m && cli_paths_compare(name + n - m, suffix, m) == 0;
}

// The path of name in folder, in text; false when it would not fit.
static bool join_path(const char* folder, const char* name, char* text, int capacity) {
  std::string path = cli_paths_join(folder, name);
  if (path.size() >= static_cast<size_t>(capacity)) return false;
  memcpy(text, path.c_str(), path.size() + 1);
  return true;
}

struct collect_context {
  const cli_options* o;
  cli_batch* batch;
  bool out_of_memory;
};

// One folder being walked: where it is, and where the part of its files'
// paths that is kept under --out-dir begins.
struct collect_level {
  collect_context* c;
  const char* folder;
  int relative_at;
  int depth;
};

static cli_item* collect_add(collect_context* c, const char* path, int relative_at) {
  cli_item* item = c->out_of_memory ? nullptr : inputs_add(c->batch, path, relative_at);
  if (item == nullptr) c->out_of_memory = true;
  return item;
}

// An item that is not worked, with the reason it is shown with; a skip
// also with its reason in a word or two.
static void collect_settled(collect_context* c, const char* path, const char* why,
                            cli_outcome outcome, const char* kind = nullptr) {
  cli_item* item = collect_add(c, path, cli_inputs_name_at(path));
  if (item == nullptr) return;
  item->settled = true;
  item->settled_reason = why;
  item->settled_outcome = outcome;
  item->skip_kind = kind;
}

static const char folder_skipped[] = "a folder (give -r to take the files in it)";
static const char link_skipped[] = "a link to a folder, which is not followed";
static const char special_skipped[] = "not a regular file (a named pipe, a device or the like), "
                                      "which cannot be read whole";
static const char too_deep[] = "folders nested more than 64 deep";
static const char path_too_long[] = "the path is too long";
static const char unreadable_folder[] = "the folder cannot be read";
static const char no_match[] = "no file matches this pattern";
static const char lossy_name[] =
    "the name holds characters outside the system's ANSI code page, which this tool's "
    "file functions take; rename it";

void cli_inputs_note_stale(cli_batch* batch, const char* path) { batch->stale.push_back(path); }

static void collect_folder(collect_context* c, const char* folder, int relative_at, int depth);

// One entry of a folder being walked.
static void collect_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* level = static_cast<collect_level*>(context);
  collect_context* c = level->c;
  const cli_options& o = *c->o;
  char path[RT_PATH_CAPACITY];
  if (c->out_of_memory) return;
  if (!join_path(level->folder, name, path, sizeof path)) {
    collect_settled(c, name, path_too_long, OUTCOME_FAILED);
    return;
  }
  if (kind == PATHS_UNSPELLABLE) {
    collect_settled(c, path, lossy_name, OUTCOME_FAILED);
  } else if (kind == PATHS_FOLDER_LINK) {
    collect_settled(c, path, link_skipped, OUTCOME_SKIPPED, "link");
  } else if (kind == PATHS_FOLDER) {
    if (level->depth >= 64) collect_settled(c, path, too_deep, OUTCOME_FAILED);
    else collect_folder(c, path, level->relative_at, level->depth + 1);
  } else if (rt_is_temp_name(name)) {
    // Reported once for the run, never worked, never removed: the process
    // writing it may still be running.
    cli_inputs_note_stale(c->batch, path);
  } else if (kind == PATHS_OTHER) {
    collect_settled(c, path, special_skipped, OUTCOME_SKIPPED, "not a regular file");
  } else if (!cli_traits(o.command).by_suffix || cli_inputs_ends_with_suffix(name, o.suffix)) {
    collect_add(c, path, level->relative_at);
  }
}

static void collect_folder(collect_context* c, const char* folder, int relative_at, int depth) {
  collect_level level = {c, folder, relative_at, depth};
  if (cli_paths_list(folder, collect_entry, &level) < 0)
    collect_settled(c, folder, unreadable_folder, OUTCOME_FAILED);
}

// A folder named on the command line or matched by a pattern.
static void collect_named_folder(collect_context* c, const char* folder) {
  if (!c->o->recursive) {
    collect_settled(c, folder, folder_skipped, OUTCOME_SKIPPED, "folder");
    return;
  }
  size_t n = strlen(folder);
  int relative_at = static_cast<int>(n) + (n > 0 && !cli_paths_is_separator(folder[n - 1]) ? 1 : 0);
  collect_folder(c, folder, relative_at, 0);
}

static void collect_match(const char* path, cli_paths_kind kind, void* context) {
  auto* c = static_cast<collect_context*>(context);
  if (kind == PATHS_UNSPELLABLE) {
    collect_settled(c, path, lossy_name, OUTCOME_FAILED);
  } else if (kind == PATHS_FOLDER) {
    collect_named_folder(c, path);
  } else if (kind == PATHS_FOLDER_LINK) {
    collect_settled(c, path, link_skipped, OUTCOME_SKIPPED, "link");
  } else if (kind == PATHS_OTHER) {
    collect_settled(c, path, special_skipped, OUTCOME_SKIPPED, "not a regular file");
  } else if (rt_is_temp_name(path + cli_inputs_name_at(path))) {
    cli_inputs_note_stale(c->batch, path);
  } else {
    collect_add(c, path, cli_inputs_name_at(path));
  }
}

int cli_inputs_collect(const cli_options& o, char** args, int count, cli_batch* batch) {
  collect_context c = {&o, batch, false};
  bool had_stdin = false;
  for (int i = 0; i < count && !c.out_of_memory; i++) {
    const char* arg = args[i];
    if (strcmp(arg, "-") == 0) {
      if (had_stdin) return cli_usage_error("- (standard input) is given twice");
      had_stdin = true;
      cli_item* item = collect_add(&c, arg, 0);
      if (item != nullptr) {
        item->from_stdin = true;
        item->shown = stdin_name;
      }
    } else if (cli_codepage_argument_lossy(arg)) {
      collect_settled(&c, arg, lossy_name, OUTCOME_FAILED);
    } else if (cli_paths_has_wildcard(arg) && rt_size_query(arg) == -1) {
      // A pattern the shell left alone (Windows shells never expand them).
      int found = cli_paths_expand(arg, collect_match, &c);
      if (found == 0) collect_settled(&c, arg, no_match, OUTCOME_FAILED);
      if (found < 0) collect_settled(&c, arg, unreadable_folder, OUTCOME_FAILED);
    } else if (rt_size_query(arg) == -2) {
      collect_named_folder(&c, arg);
    } else {
      collect_add(&c, arg, cli_inputs_name_at(arg));
    }
  }
  if (c.out_of_memory) {
    cli_print(cli_err, "qelv: out of memory while listing the files\n");
    return 1;
  }
  return 0;
}

