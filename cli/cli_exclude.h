// Inputs left out of a run (--exclude PATTERN, --exclude-from FILE), so
// that a project can keep files it does not ship beside those it does.
// Patterns read as rsync and .gitignore read them: "*" any run of
// characters within a name, "?" one character, "**" any run across
// folders ("**/" also none), a trailing "/" for folders only; a pattern
// without "/" matches a name in any folder, one with "/" the path below the
// folder named (a leading "/" only says so).  A folder that matches leaves
// out everything in it.
#pragma once

#include <string>
#include <vector>

struct cli_exclude_pattern {
  std::string glob;    // without its leading and trailing "/"
  bool folders_only;   // it ended in "/"
  bool anchored;       // it held a "/": matched against the path, not a name
};
using cli_excludes = std::vector<cli_exclude_pattern>;

// Adds pattern; false (with *why) for one that matches nothing, such as "/".
bool cli_exclude_add(cli_excludes* excludes, const std::string& pattern, std::string* why);
// Adds the patterns of file, one a line; blank lines and lines that start
// with "#" are not patterns.  False with *why when it cannot be read.
bool cli_exclude_read(cli_excludes* excludes, const char* file, std::string* why);
// The pattern that leaves out relative, a path below the folder named (any
// separator), a folder when folder is set; null when none does.
const cli_exclude_pattern* cli_exclude_match(const cli_excludes& excludes,
                                             const std::string& relative, bool folder);
