// Paths on POSIX systems: one separator, names compared byte for byte,
// patterns expanded by glob, folders read by readdir, and what a path
// names found by stat.

#include "../cli_paths.h"

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <glob.h>
#include <sys/stat.h>

#include "../../runtime/runtime.h"

bool cli_paths_is_separator(char c) { return c == '/'; }
int cli_paths_compare(const char* a, const char* b, size_t n) { return strncmp(a, b, n); }
bool cli_paths_has_wildcard(const char* arg) { return strpbrk(arg, "*?[") != nullptr; }
const bool cli_paths_case_blind = false;
const bool cli_paths_trims_names = false;
const char cli_paths_remove_command[] = "rm";

std::string cli_paths_shell_quoted(const std::string& path) {
  if (path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                             "._/~+-=,:") == std::string::npos && path[0] != '-' && path[0] != '~')
    return path;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return (path[0] == '-' ? "./" : "") + quoted + "'";
}

static cli_paths_kind kind_of(const char* path) {
  struct stat st, link;
  const bool linked = lstat(path, &link) == 0 && S_ISLNK(link.st_mode);
  if (stat(path, &st) != 0) return PATHS_FILE;
  if (S_ISREG(st.st_mode)) return linked ? PATHS_FILE_LINK : PATHS_FILE;
  if (!S_ISDIR(st.st_mode)) return PATHS_OTHER;
  return linked ? PATHS_FOLDER_LINK : PATHS_FOLDER;
}

int cli_paths_expand(const char* pattern, cli_paths_found* found, void* context) {
  glob_t matches = {};
  int status = glob(pattern, 0, nullptr, &matches);  // sorted by name
  if (status == GLOB_NOMATCH) return 0;
  if (status != 0) {
    globfree(&matches);
    return -1;
  }
  int n = static_cast<int>(matches.gl_pathc);
  for (int i = 0; i < n; i++) found(matches.gl_pathv[i], kind_of(matches.gl_pathv[i]), context);
  globfree(&matches);
  return n;
}

// What an entry of folder is: the listing says so for a regular file or a
// folder, which is most entries, so that no stat is made for them; a link,
// or an entry of a file system that does not say, is looked at.
static cli_paths_kind entry_kind(const std::string& folder, const dirent* e) {
  if (e->d_type == DT_REG) return PATHS_FILE;
  if (e->d_type == DT_DIR) return PATHS_FOLDER;
  return kind_of(cli_paths_join(folder, e->d_name).c_str());
}

int cli_paths_list(const char* folder, cli_paths_found* found, void* context) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  cli_paths_names names;
  const std::string name_of_folder = folder;
  // A listing cut short by an error (errno set as readdir ends) is no
  // listing: its missing names would pass for files that are gone.
  for (;;) {
    errno = 0;
    dirent* e = readdir(dir);
    if (e == nullptr) break;
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    cli_paths_names_add(&names, e->d_name, entry_kind(name_of_folder, e));
  }
  const int ended = errno;
  closedir(dir);
  if (ended != 0) return -1;
  return cli_paths_names_give(&names, "", false, found, context);
}
