// The driver's checks.

#include "driver_checks.h"

#include <cstdio>

static int failures, checks;

bool check(bool passed, const char* what, const std::wstring& seen) {
  checks++;
  if (passed) return true;
  failures++;
  printf("FAILED: %s\n", what);
  if (!seen.empty()) printf("  seen: %ls\n", seen.c_str());
  fflush(stdout);
  return false;
}

int check_failures() { return failures; }
int check_count() { return checks; }

int count_containing(const std::vector<std::wstring>& lines, const std::wstring& part) {
  int n = 0;
  for (const std::wstring& line : lines) n += line.find(part) != std::wstring::npos;
  return n;
}

std::wstring joined(const std::vector<std::wstring>& lines) {
  std::wstring all;
  for (const std::wstring& line : lines) all += line + L"\n    ";
  return all;
}
