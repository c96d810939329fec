// Whole-file reads and writes for the fuzz targets' checks, with stdio so
// that they stay apart from the runtime under test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

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
