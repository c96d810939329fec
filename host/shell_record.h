// The shell calls the module made, as the loader recorded them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct shell_call {
  uintptr_t window;
  std::string verb, file, parameters, directory;
  bool has_parameters, has_directory;
  int show;
};

bool shell_record_active();
const std::vector<shell_call>& shell_record_calls();
