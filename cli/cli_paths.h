// Paths as the tool takes them: separators, names compared as the file
// system compares them, patterns the shell left alone, folder listings and
// what a path names.  cli_paths.cpp holds the listing's common part,
// cli_paths_posix.cpp and cli_paths_win32.cpp the rest.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

bool cli_paths_is_separator(char c);    // a character that ends a folder name
extern const bool cli_paths_case_blind;  // names that differ only in case are one (Windows)
// The system drops a dot or a space that ends a name (Windows), so that a
// file so named cannot be opened or made by its name.
extern const bool cli_paths_trims_names;
// True where the system drops the end of path's last name: path names
// another file than it says.
bool cli_paths_name_trimmed(const char* path);
// Compares names the way the file system does: case-blind on Windows.
int cli_paths_compare(const char* a, const char* b, size_t n);
// True when path a sorts before b in that comparison, for sorting and
// searching lists of paths.
bool cli_paths_less(const char* a, const char* b);
// The path of name in folder: a separator between them unless folder is
// empty or ends with one.
std::string cli_paths_join(const std::string& folder, const char* name);
bool cli_paths_has_wildcard(const char* arg);
// True when target is standard output ("-") or names a device or pipe,
// which an output is sent to rather than written in.
bool cli_paths_is_stream(const char* target);
// The shell's command that removes files, for the note on stale ones, and
// a path quoted for that shell, so that a command pasted from a note does
// only what it says whatever the path holds.
extern const char cli_paths_remove_command[];
std::string cli_paths_shell_quoted(const std::string& path);

// What a listing found: a file (or a path that cannot be looked at), a
// link to a file, a folder, a link to a folder, something else (a named
// pipe, a device), a name that the file functions' code page cannot spell
// (Windows), given as near as that code page comes, or a name the system
// cannot open as a file (Windows: a device's name such as AUX or NUL, or a
// character such as ':' that another system put in a name).
enum cli_paths_kind {
  PATHS_FILE, PATHS_FILE_LINK, PATHS_FOLDER, PATHS_FOLDER_LINK, PATHS_OTHER, PATHS_UNSPELLABLE,
  PATHS_RESERVED
};
typedef void cli_paths_found(const char* path_or_name, cli_paths_kind kind, void* context);
// Calls found(path, kind, context) for each path matching pattern (whose
// wildcards stand in its last part only), in name order.  Returns the count
// of matches, or -1 when the folder cannot be read.
int cli_paths_expand(const char* pattern, cli_paths_found* found, void* context);
// Calls found(name, kind, context) for each entry of folder but "." and
// "..", in name order; -1 when the folder cannot be read.
int cli_paths_list(const char* folder, cli_paths_found* found, void* context);

// For the platform files: the names a search found, gathered so that the
// search is closed before the calls of found (which may walk a subfolder)
// and these come in name order.
struct cli_paths_entry {
  std::string name;
  cli_paths_kind kind;
};
using cli_paths_names = std::vector<cli_paths_entry>;
void cli_paths_names_add(cli_paths_names* names, const char* name, cli_paths_kind kind);
// Sorts the names, calls found with each (folder put before it when full),
// and empties the list.  Returns the count.
int cli_paths_names_give(cli_paths_names* names, const char* folder, bool full,
                         cli_paths_found* found, void* context);
