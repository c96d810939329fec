// What a run works on: the FILE arguments turned into items (patterns
// expanded, folders walked under --recursive), each item's output planned,
// and the checks that keep an output from harming a file it should not.

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
  item->planned = "no input";
  item->planned_outcome = removed ? OUTCOME_DELETED : OUTCOME_FAILED;
  item->message = cli_inputs_copy(reason);
  return item->message != nullptr;
}

void cli_inputs_free(cli_batch* batch) {
  for (int i = 0; i < batch->count; i++) {
    free(batch->items[i].path);
    free(batch->items[i].output);
    free(batch->items[i].message);
  }
  for (int i = 0; i < batch->stale_count; i++) free(batch->stale[i]);
  free(batch->stale);
  batch->stale = nullptr;
  batch->stale_count = 0;
  free(batch->items);
  free(batch->identities);
  batch->identities = nullptr;
  batch->identity_count = 0;
  batch->items = nullptr;
  batch->count = batch->capacity = 0;
}

static int name_offset(const char* path) {
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
  size_t n = strlen(folder);
  bool separator = n > 0 && !cli_paths_is_separator(folder[n - 1]);
  const char between[2] = {cli_paths_separator, '\0'};
  int written = snprintf(text, capacity, "%s%s%s", folder, separator ? between : "", name);
  return written > 0 && written < capacity;
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
static void collect_planned(collect_context* c, const char* path, const char* why,
                            cli_outcome outcome, const char* kind = nullptr) {
  cli_item* item = collect_add(c, path, name_offset(path));
  if (item == nullptr) return;
  item->planned = why;
  item->planned_outcome = outcome;
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

// Adds path to the batch's temporary files found; false when memory ran out.
static bool note_stale(cli_batch* batch, const char* path) {
  if ((batch->stale_count & 63) == 0) {
    void* grown = realloc(batch->stale, sizeof(char*) * (batch->stale_count + 64));
    if (grown == nullptr) return false;
    batch->stale = static_cast<char**>(grown);
  }
  char* copy = cli_inputs_copy(path);
  if (copy == nullptr) return false;
  batch->stale[batch->stale_count++] = copy;
  return true;
}

static void collect_folder(collect_context* c, const char* folder, int relative_at, int depth);

// One entry of a folder being walked.
static void collect_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* level = static_cast<collect_level*>(context);
  collect_context* c = level->c;
  const cli_options& o = *c->o;
  char path[RT_PATH_CAPACITY];
  if (c->out_of_memory) return;
  if (!join_path(level->folder, name, path, sizeof path)) {
    collect_planned(c, name, path_too_long, OUTCOME_FAILED);
    return;
  }
  if (kind == PATHS_UNSPELLABLE) {
    collect_planned(c, path, lossy_name, OUTCOME_FAILED);
  } else if (kind == PATHS_FOLDER_LINK) {
    collect_planned(c, path, link_skipped, OUTCOME_SKIPPED, "link");
  } else if (kind == PATHS_FOLDER) {
    if (level->depth >= 64) collect_planned(c, path, too_deep, OUTCOME_FAILED);
    else collect_folder(c, path, level->relative_at, level->depth + 1);
  } else if (rt_is_temp_name(name)) {
    // Reported once for the run, never worked, never removed: the process
    // writing it may still be running.
    if (!note_stale(c->batch, path)) c->out_of_memory = true;
  } else if (kind == PATHS_OTHER) {
    collect_planned(c, path, special_skipped, OUTCOME_SKIPPED, "not a regular file");
  } else if (o.command == CMD_ENCRYPT || o.command == CMD_INFO ||
             cli_inputs_ends_with_suffix(name, o.suffix)) {
    // Decrypt and verify take only the encrypted names of a folder.
    collect_add(c, path, level->relative_at);
  }
}

static void collect_folder(collect_context* c, const char* folder, int relative_at, int depth) {
  collect_level level = {c, folder, relative_at, depth};
  if (cli_paths_list(folder, collect_entry, &level) < 0)
    collect_planned(c, folder, unreadable_folder, OUTCOME_FAILED);
}

// A folder named on the command line or matched by a pattern.
static void collect_named_folder(collect_context* c, const char* folder) {
  if (!c->o->recursive) {
    collect_planned(c, folder, folder_skipped, OUTCOME_SKIPPED, "folder");
    return;
  }
  size_t n = strlen(folder);
  int relative_at = static_cast<int>(n) + (n > 0 && !cli_paths_is_separator(folder[n - 1]) ? 1 : 0);
  collect_folder(c, folder, relative_at, 0);
}

static void collect_match(const char* path, cli_paths_kind kind, void* context) {
  auto* c = static_cast<collect_context*>(context);
  if (kind == PATHS_UNSPELLABLE) {
    collect_planned(c, path, lossy_name, OUTCOME_FAILED);
  } else if (kind == PATHS_FOLDER) {
    collect_named_folder(c, path);
  } else if (kind == PATHS_FOLDER_LINK) {
    collect_planned(c, path, link_skipped, OUTCOME_SKIPPED, "link");
  } else if (kind == PATHS_OTHER) {
    collect_planned(c, path, special_skipped, OUTCOME_SKIPPED, "not a regular file");
  } else if (rt_is_temp_name(path + name_offset(path))) {
    if (!note_stale(c->batch, path)) c->out_of_memory = true;
  } else {
    collect_add(c, path, name_offset(path));
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
      collect_planned(&c, arg, lossy_name, OUTCOME_FAILED);
    } else if (cli_paths_has_wildcard(arg) && rt_size_query(arg) == -1) {
      // A pattern the shell left alone (Windows shells never expand them).
      int found = cli_paths_expand(arg, collect_match, &c);
      if (found == 0) collect_planned(&c, arg, no_match, OUTCOME_FAILED);
      if (found < 0) collect_planned(&c, arg, unreadable_folder, OUTCOME_FAILED);
    } else if (rt_size_query(arg) == -2) {
      collect_named_folder(&c, arg);
    } else {
      collect_add(&c, arg, name_offset(arg));
    }
  }
  if (c.out_of_memory) {
    cli_print(cli_err, "qelv: out of memory while listing the files\n");
    return 1;
  }
  return 0;
}

// The output path of item under the options, into text.  Returns null, or
// the reason there is none (in why when it is made for the item).
static const char* plan_output(const cli_options& o, const cli_item& item, char* text,
                               int capacity, char* why, int why_capacity) {
  bool encrypt = o.command == CMD_ENCRYPT;
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
    const char separator[2] = {cli_paths_separator, '\0'};
    // A name that is only the suffix keeps it: it would be left empty.
    const char* name = file + name_offset(file);
    if (!encrypt && strlen(name) > suffix_length && cli_inputs_ends_with_suffix(name, o.suffix))
      relative_length -= suffix_length;
    n = snprintf(text, capacity, "%s%s%.*s%s", o.out_dir, needs_separator ? separator : "",
                 static_cast<int>(relative_length), relative, encrypt ? o.suffix : "");
    // The folders below --out-dir take the platform's separator.
    for (char* p = text + dir_length; n > 0 && n < capacity && *p != '\0'; p++)
      if (cli_paths_is_separator(*p)) *p = cli_paths_separator;
  } else if (o.in_place) {
    n = snprintf(text, capacity, "%s", file);
  } else if (encrypt) {
    n = snprintf(text, capacity, "%s%s", file, o.suffix);
  } else {
    const char* name = file + name_offset(file);
    if (strlen(name) <= suffix_length || !cli_inputs_ends_with_suffix(name, o.suffix))
      return cli_format(why, why_capacity, "the name does not end in %s; give --output or "
                        "--out-dir", o.suffix);
    n = snprintf(text, capacity, "%.*s", static_cast<int>(strlen(file) - suffix_length), file);
  }
  return n < 0 || n >= capacity ? "the output path would be too long" : nullptr;
}

static const cli_batch* sorting_batch;  // the batch whose items are sorted below

static int compare_outputs(const void* a, const void* b) {
  const cli_item* items = sorting_batch->items;
  int i = *static_cast<const int*>(a), j = *static_cast<const int*>(b);
  int order = cli_paths_compare(items[i].output, items[j].output, static_cast<size_t>(-1));
  return order != 0 ? order : i - j;  // equal outputs in the order of their items
}

// The item whose output is named path, in the sorted order, other than
// item self; -1 for none.
static int output_named(const cli_batch& batch, const int* order, int n, const char* path,
                        int self) {
  int low = 0, high = n;  // the first output not below path
  while (low < high) {
    int mid = (low + high) / 2;
    if (cli_paths_compare(batch.items[order[mid]].output, path, static_cast<size_t>(-1)) < 0)
      low = mid + 1;
    else
      high = mid;
  }
  for (int k = low; k < n; k++) {
    if (cli_paths_compare(batch.items[order[k]].output, path, static_cast<size_t>(-1)) != 0) break;
    if (order[k] != self) return order[k];
  }
  return -1;
}

// An encrypted file that is the output of another item of the run (a
// second "encrypt -r data" finds data/a.txt.dat beside data/a.txt) is the
// output of an earlier run, not an input: it is skipped, and so may be
// replaced (--force, --update).  Any other input stays one, and no output
// is written over it.
static void plan_skip_outputs_as_inputs(const cli_options& o, cli_batch* batch, const int* order,
                                        int n) {
  if (o.command != CMD_ENCRYPT || o.allow_encrypted) return;
  for (int i = 0; i < batch->count; i++) {
    cli_item& item = batch->items[i];
    if (item.planned != nullptr || item.from_stdin) continue;
    int j = output_named(*batch, order, n, item.path, i);
    if (j < 0 || batch->items[j].planned != nullptr) continue;
    cli_header_facts facts;
    cli_inspect_header(item.path, &facts);
    if (!facts.whole_header || facts.problems > 0) continue;
    char text[CLI_TEXT_CAPACITY];
    cli_format(text, sizeof text, "the output of %s in this run", batch->items[j].shown);
    item.planned = "an output";
    item.planned_outcome = OUTCOME_SKIPPED;
    item.skip_kind = "output of this run";
    item.message = cli_inputs_copy(text);
  }
}

// Refuses the later of two items whose planned outputs are one name.
static void plan_refuse_shared_outputs(const cli_options& o, cli_batch* batch) {
  int* order = static_cast<int*>(malloc(sizeof(int) * (batch->count + 1)));
  if (order == nullptr) return;  // then each output is still checked on the disk
  int n = 0;
  for (int i = 0; i < batch->count; i++)
    if (batch->items[i].output != nullptr && strcmp(batch->items[i].output, "-") != 0)
      order[n++] = i;
  sorting_batch = batch;
  qsort(order, n, sizeof(int), compare_outputs);
  plan_skip_outputs_as_inputs(o, batch, order, n);
  int kept = 0;  // the items left, still in output order
  for (int k = 0; k < n; k++)
    if (batch->items[order[k]].planned == nullptr) order[kept++] = order[k];
  n = kept;
  for (int k = 1; k < n; k++) {
    cli_item& first = batch->items[order[k - 1]];
    cli_item& later = batch->items[order[k]];
    if (cli_paths_compare(first.output, later.output, static_cast<size_t>(-1)) != 0) continue;
    char text[CLI_TEXT_CAPACITY];
    cli_format(text, sizeof text, "the output %s is also the output of %s", later.output,
               first.shown);
    later.planned = "shared output";
    later.planned_outcome = OUTCOME_FAILED;
    later.message = cli_inputs_copy(text);
    order[k] = order[k - 1];  // a third one names the first, too
  }
  free(order);
}

static int compare_identities(const void* a, const void* b) {
  const auto* x = static_cast<const cli_identity*>(a);
  const auto* y = static_cast<const cli_identity*>(b);
  if (x->volume != y->volume) return x->volume < y->volume ? -1 : 1;
  if (x->file != y->file) return x->file < y->file ? -1 : 1;
  return x->item - y->item;
}

// Which file each input is, however it is spelt, sorted for look-ups: an
// output that is one of them must not be written (cli_inputs_refuse_output).
static void plan_identities(cli_batch* batch) {
  batch->identities = static_cast<cli_identity*>(malloc(sizeof(cli_identity) * (batch->count + 1)));
  if (batch->identities == nullptr) return;
  int n = 0;
  for (int i = 0; i < batch->count; i++) {
    const cli_item& item = batch->items[i];
    cli_identity& id = batch->identities[n];
    if (item.planned == nullptr && !item.from_stdin &&
        rt_file_identity(item.path, &id.volume, &id.file)) {
      id.item = i;
      n++;
    }
  }
  batch->identity_count = n;
  if (n > 0) qsort(batch->identities, n, sizeof(cli_identity), compare_identities);
}

void cli_inputs_plan(const cli_options& o, cli_batch* batch) {
  if (o.command != CMD_ENCRYPT && o.command != CMD_DECRYPT) return;
  char text[RT_PATH_CAPACITY], why[CLI_TEXT_CAPACITY];
  for (int i = 0; i < batch->count; i++) {
    cli_item& item = batch->items[i];
    if (item.planned != nullptr) continue;
    const char* refusal = plan_output(o, item, text, sizeof text, why, sizeof why);
    if (refusal == nullptr) item.output = cli_inputs_copy(text);
    if (refusal != nullptr || item.output == nullptr) {
      item.planned = "no output";
      item.planned_outcome = OUTCOME_FAILED;
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
  const cli_identity* ids = batch.identities;
  int low = 0, high = batch.identity_count;  // the first entry not below (volume, file)
  while (low < high) {
    int mid = (low + high) / 2;
    if (ids[mid].volume < volume || (ids[mid].volume == volume && ids[mid].file < file))
      low = mid + 1;
    else
      high = mid;
  }
  for (int k = low; k < batch.identity_count && ids[k].volume == volume && ids[k].file == file;
       k++) {
    if (ids[k].item != index) {
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
    char kept = folder[from - 1];
    folder[from - 1] = '\0';
    bool exists = folder[0] == '\0' || rt_size_query(folder) == -2;
    folder[from - 1] = kept;
    if (exists) break;
    from--;
  }
  for (int i = from; folder[i] != '\0'; i++) {
    if (!cli_paths_is_separator(folder[i]) || i == 0 || cli_paths_is_separator(folder[i - 1]))
      continue;
    char kept = folder[i];
    folder[i] = '\0';
    bool made = make_folder(folder, text, capacity);
    folder[i] = kept;
    if (!made) return false;
  }
  return true;
}

// The folder path lies in, with its separator, into text ("" for none).
static void folder_of(const char* path, char* text, int capacity) {
  snprintf(text, capacity, "%.*s", name_offset(path), path);
}

static int compare_texts(const void* a, const void* b) {
  return cli_paths_compare(*static_cast<char* const*>(a), *static_cast<char* const*>(b),
                          static_cast<size_t>(-1));
}

struct stale_search {
  cli_batch* batch;
  const char* folder;
};

static void stale_entry(const char* name, cli_paths_kind kind, void* context) {
  auto* s = static_cast<stale_search*>(context);
  char path[RT_PATH_CAPACITY];
  if (kind == PATHS_FILE && rt_is_temp_name(name) &&
      snprintf(path, sizeof path, "%s%s", s->folder, name) < static_cast<int>(sizeof path))
    note_stale(s->batch, path);
}

void cli_inputs_find_stale(cli_batch* batch) {
  // The output folders, each once.
  char** folders = static_cast<char**>(malloc(sizeof(char*) * (batch->count + 1)));
  if (folders == nullptr) return;
  int n = 0;
  char folder[RT_PATH_CAPACITY];
  for (int i = 0; i < batch->count; i++) {
    const cli_item& item = batch->items[i];
    if (item.output == nullptr || item.planned != nullptr || cli_stream_is_stream(item.output))
      continue;
    folder_of(item.output, folder, sizeof folder);
    if (n > 0 && strcmp(folders[n - 1], folder) == 0) continue;  // as a folder's files come
    folders[n] = cli_inputs_copy(folder);
    if (folders[n] != nullptr) n++;
  }
  if (n > 0) qsort(folders, n, sizeof(char*), compare_texts);
  for (int i = 0; i < n; i++) {
    bool again = i > 0 && compare_texts(&folders[i - 1], &folders[i]) == 0;
    stale_search s = {batch, folders[i]};
    // Missing folders, to be made, hold nothing.
    if (!again && rt_size_query(folders[i][0] != '\0' ? folders[i] : ".") == -2)
      cli_paths_list(folders[i][0] != '\0' ? folders[i] : ".", stale_entry, &s);
  }
  for (int i = 0; i < n; i++) free(folders[i]);
  free(folders);
  // Each once, in name order: an output folder may also have been walked.
  if (batch->stale_count > 1) qsort(batch->stale, batch->stale_count, sizeof(char*), compare_texts);
  int kept = 0;
  for (int i = 0; i < batch->stale_count; i++) {
    if (kept > 0 && compare_texts(&batch->stale[kept - 1], &batch->stale[i]) == 0) free(batch->stale[i]);
    else batch->stale[kept++] = batch->stale[i];
  }
  batch->stale_count = kept;
}
