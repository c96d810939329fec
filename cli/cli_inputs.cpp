// What a run works on: the FILE arguments turned into items (patterns
// expanded, folders walked under --recursive), and the batch that holds
// them.  Their outputs are planned in cli_plan.cpp.

#include "cli_inputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../runtime/runtime.h"
#include "cli_codepage.h"
#include "cli_exclude.h"
#include "cli_explain.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"

static const char stdin_name[] = "(standard input)";

const cli_header_read& cli_inputs_header(cli_item* item) {
  if (!item->header_known) cli_inspect_read(item->path.c_str(), &item->header);
  item->header_known = true;
  return item->header;
}

// Adds an item for path.
static cli_item* inputs_add(cli_batch* batch, const std::string& path, int relative_at) {
  cli_item& item = batch->items.emplace_back();
  item.path = path;
  item.shown = path;
  item.relative_at = relative_at;
  return &item;
}

void cli_inputs_add_orphan(cli_batch* batch, const std::string& path, const std::string& reason,
                           bool removed) {
  cli_item* item = inputs_add(batch, path, 0);
  item->orphan = true;
  item->decided = true;
  item->decided_outcome = removed ? OUTCOME_DELETED : OUTCOME_FAILED;
  item->reason = reason;
}

int cli_inputs_name_at(const char* path) {
  int at = 0;
  for (int i = 0; path[i] != '\0'; i++)
    if (cli_paths_is_separator(path[i])) at = i + 1;
  return at;
}

bool cli_inputs_strip_suffix(std::string* path, const char* suffix) {
  const char* name = path->c_str() + cli_inputs_name_at(path->c_str());
  if (strlen(name) <= strlen(suffix) || !cli_inputs_ends_with_suffix(name, suffix)) return false;
  path->resize(path->size() - strlen(suffix));
  return true;
}

bool cli_inputs_ends_with_suffix(const char* name, const char* suffix) {
  size_t n = strlen(name), m = strlen(suffix);
  return n >= m && cli_paths_compare(name + n - m, suffix, m) == 0;
}

struct collect_context {
  const cli_options* o;
  cli_batch* batch;
  int unsuffixed;  // files passed by for not ending in the suffix (decrypt, verify)
};

// One folder being walked: where it is, and where the part of its files'
// paths that is kept under --out-dir begins.
struct collect_level {
  collect_context* c;
  const char* folder;
  int relative_at;
  int depth;
};

static cli_item* collect_add(collect_context* c, const std::string& path, int relative_at) {
  return inputs_add(c->batch, path, relative_at);
}

// An item that is not worked, with the reason it is shown with; a skip
// also with its reason in a word or two.
static void collect_decided(collect_context* c, const std::string& path, const char* why,
                            cli_outcome outcome, const char* kind = nullptr) {
  cli_item* item = collect_add(c, path, cli_inputs_name_at(path.c_str()));
  item->decided = true;
  item->reason = why;
  item->decided_outcome = outcome;
  item->skip_kind = kind;
}

// What cannot be taken whole, and why; for the commands that write, each
// also says how to leave it out, for its output would be missing.
static const char folder_without_r[] = "a folder, whose files are taken only under -r";
static const char link_not_followed[] = "a link to a folder, which is not followed";
static const char not_regular[] = "not a regular file (a named pipe, a device or the like), "
                                  "which cannot be read whole";
static const char give_r[] = "; give -r, or leave it out with --exclude";
static const char give_target[] = "; give its target as a FILE, or leave it out with --exclude";
static const char exclude_it[] = "; leave it out with --exclude";
static const char too_deep[] = "folders nested more than 64 deep";
static const char unreadable_folder[] = "the folder cannot be read";
static const char no_match[] = "no file matches this pattern";
static const char lossy_name[] =
    "the name holds characters outside the system's ANSI code page, which this tool's "
    "file functions take; rename it";
static const char reserved_name[] =
    "a name this system cannot open as a file (a device's name, such as CON, AUX or NUL, one "
    "that holds a character such as : or ?, or one that ends in a dot or a space); rename it";

void cli_inputs_note_stale(cli_batch* batch, const std::string& path) {
  batch->stale.push_back(path);
}

// Something found that the run cannot take: a run that writes fails on it,
// for its output would be missing, and says what to do (what_to_do); one
// that only reads skips it.
static void collect_untaken(collect_context* c, const std::string& path, const char* why,
                            const char* what_to_do, const char* kind) {
  if (!cli_traits(c->o->command).writes) {
    collect_decided(c, path, why, OUTCOME_SKIPPED, kind);
    return;
  }
  cli_item* item = collect_add(c, path, cli_inputs_name_at(path.c_str()));
  item->decided = true;
  item->decided_outcome = OUTCOME_FAILED;
  item->reason = std::string(why) + what_to_do;
}

// Whether --exclude leaves out the path below the folder named (relative),
// noted in a dry run, which names what it leaves out.
static bool collect_excluded(collect_context* c, const std::string& path,
                             const std::string& relative, bool folder) {
  const cli_exclude_pattern* p = cli_exclude_match(c->o->excludes, relative, folder);
  if (p == nullptr) return false;
  if (c->o->dry_run) {
    cli_item* item = collect_add(c, path, cli_inputs_name_at(path.c_str()));
    item->decided = true;
    item->decided_outcome = OUTCOME_SKIPPED;
    item->skip_kind = "excluded";
    item->reason = "excluded (--exclude " + p->glob + (p->folders_only ? "/" : "") + ")";
  }
  return true;
}

static void collect_folder(collect_context* c, const char* folder, int relative_at, int depth);

// One entry of a folder being walked.
static void collect_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* level = static_cast<collect_level*>(context);
  collect_context* c = level->c;
  const cli_options& o = *c->o;
  std::string path = cli_paths_join(level->folder, name);
  const bool folder = kind == PATHS_FOLDER || kind == PATHS_FOLDER_LINK;
  if (collect_excluded(c, path, path.substr(level->relative_at), folder)) return;
  if (kind == PATHS_UNSPELLABLE) {
    collect_decided(c, path, lossy_name, OUTCOME_FAILED);
  } else if (kind == PATHS_RESERVED) {
    collect_decided(c, path, reserved_name, OUTCOME_FAILED);
  } else if (kind == PATHS_FOLDER_LINK) {
    collect_untaken(c, path, link_not_followed, give_target, "link");
  } else if (kind == PATHS_FOLDER) {
    if (level->depth >= 64) collect_decided(c, path, too_deep, OUTCOME_FAILED);
    else collect_folder(c, path.c_str(), level->relative_at, level->depth + 1);
  } else if (rt_is_temp_name(name)) {
    // Reported once for the run, never worked, never removed: the process
    // writing it may still be running.
    cli_inputs_note_stale(c->batch, path);
  } else if (kind == PATHS_OTHER) {
    collect_untaken(c, path, not_regular, exclude_it, "not a regular file");
  } else if (!cli_traits(o.command).by_suffix || cli_inputs_ends_with_suffix(name, o.suffix)) {
    collect_add(c, path, level->relative_at);
  } else {
    c->unsuffixed++;
  }
}

static void collect_folder(collect_context* c, const char* folder, int relative_at, int depth) {
  collect_level level = {c, folder, relative_at, depth};
  if (cli_paths_list(folder, collect_entry, &level) < 0)
    collect_decided(c, folder, unreadable_folder, OUTCOME_FAILED);
}

// A folder named on the command line or matched by a pattern, under -r.
static void collect_named_folder(collect_context* c, const char* folder) {
  size_t n = strlen(folder);
  int relative_at = static_cast<int>(n) + (n > 0 && !cli_paths_is_separator(folder[n - 1]) ? 1 : 0);
  collect_folder(c, folder, relative_at, 0);
}

// A folder given as FILE under -r.  One whose files all lack the suffix
// (a tree encrypted in place, or another suffix) fails: decrypting or
// verifying none of them is no success.
static void collect_folder_named_as_file(collect_context* c, const char* folder) {
  const size_t items = c->batch->items.size();
  const int unsuffixed = c->unsuffixed;
  collect_named_folder(c, folder);
  const int passed_by = c->unsuffixed - unsuffixed;
  if (c->batch->items.size() == items && passed_by > 0)
    collect_decided(c, folder,
                    cli_format("%d %s in it, none ending in %s: decrypt and verify take only "
                               "those from a folder; give --suffix, or name the files",
                               passed_by, passed_by == 1 ? "file" : "files", c->o->suffix)
                        .c_str(),
                    OUTCOME_FAILED);
}

static void collect_match(const char* path, cli_paths_kind kind, void* context) {
  auto* c = static_cast<collect_context*>(context);
  const bool folder = kind == PATHS_FOLDER || kind == PATHS_FOLDER_LINK;
  if (collect_excluded(c, path, path + cli_inputs_name_at(path), folder)) return;
  if (kind == PATHS_UNSPELLABLE) {
    collect_decided(c, path, lossy_name, OUTCOME_FAILED);
  } else if (kind == PATHS_RESERVED) {
    collect_decided(c, path, reserved_name, OUTCOME_FAILED);
  } else if (kind == PATHS_FOLDER && c->o->recursive) {
    collect_folder_named_as_file(c, path);
  } else if (kind == PATHS_FOLDER) {
    collect_untaken(c, path, folder_without_r, give_r, "folder");
  } else if (kind == PATHS_FOLDER_LINK) {
    collect_untaken(c, path, link_not_followed, give_target, "link");
  } else if (kind == PATHS_OTHER) {
    collect_untaken(c, path, not_regular, exclude_it, "not a regular file");
  } else if (rt_is_temp_name(path + cli_inputs_name_at(path))) {
    cli_inputs_note_stale(c->batch, path);
  } else {
    collect_add(c, path, cli_inputs_name_at(path));
  }
}

// What a FILE that is not there is called under -r, where FILEs are
// mostly folders: a folder, unless its name reads as a file's (a dot in
// its last part).
static std::string missing_under_r(const char* arg) {
  std::string why = cli_explain_input(arg);
  if (why != "no such file") return why;  // its folder is missing, or the like
  const char* name = arg + cli_inputs_name_at(arg);
  return *name == '\0' || strchr(name, '.') == nullptr ? "no such folder" : "no such file or folder";
}

int cli_inputs_collect(const cli_options& o, cli_batch* batch, std::string* usage) {
  collect_context c = {&o, batch, 0};
  bool had_stdin = false;
  for (const char* arg : o.files) {
    if (strcmp(arg, "-") == 0) {
      if (had_stdin) {
        *usage = "- (standard input) is given twice";
        return 2;
      }
      had_stdin = true;
      cli_item* item = collect_add(&c, arg, 0);
      item->from_stdin = true;
      item->shown = stdin_name;
    } else if (cli_codepage_argument_lossy(arg)) {
      collect_decided(&c, arg, lossy_name, OUTCOME_FAILED);
    } else if (cli_paths_has_wildcard(arg) && rt_size_query(arg) == -1) {
      // A pattern the shell left alone (Windows shells never expand them).
      int found = cli_paths_expand(arg, collect_match, &c);
      if (found == 0) collect_decided(&c, arg, no_match, OUTCOME_FAILED);
      if (found < 0) collect_decided(&c, arg, unreadable_folder, OUTCOME_FAILED);
    } else if (rt_size_query(arg) == -2) {
      // Nothing of it would be taken, and each of its outputs missing.
      if (!o.recursive) {
        *usage = cli_format("%s is a folder; give -r to take the files in it", arg);
        return 2;
      }
      collect_folder_named_as_file(&c, arg);
    } else if (o.recursive && rt_size_query(arg) == -1 && !cli_paths_has_wildcard(arg)) {
      collect_decided(&c, arg, missing_under_r(arg).c_str(), OUTCOME_FAILED);
    } else if (!collect_excluded(&c, arg, arg + cli_inputs_name_at(arg), false)) {
      collect_add(&c, arg, cli_inputs_name_at(arg));
    }
  }
  return 0;
}

