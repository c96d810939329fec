// What both fuzz targets check with: the engine's result texts, and
// whole-file reads and writes done with stdio so that they stay apart from
// the runtime under test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../engine/engine.h"

// The engine's own result constant whose text is r, or null when r is none
// of them.
inline const char* fuzz_engine_text(const char* r) {
  const char* const texts[] = {result_ok,         result_refused,     result_crc_failure,
                               result_read_error, result_write_error, result_too_large,
                               result_not_encrypted};
  for (const char* t : texts)
    if (strcmp(r, t) == 0) return t;
  return nullptr;
}

// The file's bytes, or "(absent)" when it cannot be opened.
inline std::string fuzz_read_file(const char* path) {
  std::string data;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return "(absent)";
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
  fclose(f);
  return data;
}

// Writes data as the whole file; the target aborts if it cannot.
inline void fuzz_write_file(const char* path, const void* data, size_t size) {
  FILE* f = fopen(path, "wb");
  if (f == nullptr || (size > 0 && fwrite(data, 1, size, f) != size)) abort();
  fclose(f);
}
