// The driver's checks: each failure said on standard output with what was
// seen; the count decides the exit status.
#pragma once

#include <string>
#include <vector>

// Records a check; false (and a line) when it failed.
bool check(bool passed, const char* what, const std::wstring& seen = L"");
int check_failures();
int check_count();
// How many of lines contain part.
int count_containing(const std::vector<std::wstring>& lines, const std::wstring& part);
std::wstring joined(const std::vector<std::wstring>& lines);
