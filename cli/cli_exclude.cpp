// --exclude patterns: parsed once, matched against each path a run takes,
// and against each folder on its way, so that a folder left out leaves out
// what it holds.

#include "cli_exclude.h"

#include <cstdio>
#include <cstring>

#include "cli_paths.h"

bool cli_exclude_add(cli_excludes* excludes, const std::string& pattern, std::string* why) {
  cli_exclude_pattern p;
  std::string glob = pattern;
  for (char& c : glob)
    if (cli_paths_is_separator(c) && c != ':') c = '/';
  p.folders_only = !glob.empty() && glob.back() == '/';
  while (!glob.empty() && glob.back() == '/') glob.pop_back();
  p.anchored = glob.find('/') != std::string::npos;
  while (!glob.empty() && glob.front() == '/') glob.erase(0, 1);
  if (glob.empty()) {
    *why = "--exclude '" + pattern + "' names no file or folder";
    return false;
  }
  p.glob = glob;
  excludes->push_back(p);
  return true;
}

bool cli_exclude_read(cli_excludes* excludes, const char* file, std::string* why) {
  FILE* f = fopen(file, "rb");
  if (f == nullptr) {
    *why = std::string("cannot read the exclude file ") + file;
    return false;
  }
  std::string line;
  bool fine = true, first = true;
  for (int c = 0; fine && c != EOF;) {
    c = getc(f);
    if (c != '\n' && c != EOF) {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // The byte-order mark some Windows editors put before UTF-8 text is
    // not part of the first pattern (git reads .gitignore so too).
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    first = false;
    if (!line.empty() && line[0] != '#') fine = cli_exclude_add(excludes, line, why);
    line.clear();
  }
  if (fine && ferror(f)) {
    *why = std::string("cannot read the exclude file ") + file;
    fine = false;
  }
  fclose(f);
  return fine;
}

static bool same_char(char a, char b) {
  if (a == b) return true;
  if (!cli_paths_case_blind) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(a) == lower(b);
}

// Whether glob matches the whole of text ('/' between names).  A table of
// the suffixes of both, filled from the ends, so that no pattern takes
// more than length of glob times length of text steps: at[i][j] says
// whether glob from i matches text from j.
static bool glob_matches(const std::string& glob, const std::string& text) {
  const size_t m = glob.size(), n = text.size();
  std::vector<std::vector<char>> at(m + 1, std::vector<char>(n + 1, 0));
  at[m][n] = 1;
  for (size_t i = m; i-- > 0;) {
    const bool double_star = glob[i] == '*' && i + 1 < m && glob[i + 1] == '*';
    const bool star_slash = double_star && i + 2 < m && glob[i + 2] == '/';
    // "**/" matches nothing, or a run that ends in '/'; "**" any run.
    bool after_slash = false;  // a run from j on that ends in '/' leaves the rest matching
    for (size_t j = n + 1; j-- > 0;) {
      bool match;
      if (star_slash) {
        if (j < n && text[j] == '/' && at[i + 3][j + 1]) after_slash = true;
        match = at[i + 3][j] || after_slash;
      } else if (double_star) {
        match = at[i + 2][j] || (j < n && at[i][j + 1]);
      } else if (glob[i] == '*') {
        match = at[i + 1][j] || (j < n && text[j] != '/' && at[i][j + 1]);
      } else if (glob[i] == '?') {
        match = j < n && text[j] != '/' && at[i + 1][j + 1];
      } else {
        match = j < n && same_char(glob[i], text[j]) && at[i + 1][j + 1];
      }
      at[i][j] = match;
    }
  }
  return at[0][0] != 0;
}

// Whether p leaves out the path, whose last part is a folder when folder.
static bool pattern_takes(const cli_exclude_pattern& p, const std::string& path, bool folder) {
  if (p.folders_only && !folder) return false;
  if (p.anchored) return glob_matches(p.glob, path);
  size_t slash = path.rfind('/');
  return glob_matches(p.glob, slash == std::string::npos ? path : path.substr(slash + 1));
}

const cli_exclude_pattern* cli_exclude_match(const cli_excludes& excludes,
                                             const std::string& relative, bool folder) {
  if (excludes.empty()) return nullptr;
  std::string path = relative;
  for (char& c : path)
    if (cli_paths_is_separator(c) && c != ':') c = '/';
  // The path itself, then each folder on its way.
  for (size_t end = path.size(); end > 0;) {
    const bool whole = end == path.size();
    for (const cli_exclude_pattern& p : excludes)
      if (pattern_takes(p, path.substr(0, end), whole ? folder : true)) return &p;
    size_t slash = path.rfind('/', end - 1);
    end = slash == std::string::npos ? 0 : slash;
  }
  return nullptr;
}
