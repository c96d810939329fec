// libFuzzer target: the input becomes a file that decrypt_file reads, under a
// few keys, once to a separate Output and once in place.  Any result other
// than a known text, a file left open or a memory fault is a finding.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "../engine/engine.h"
#include "../runtime/runtime.h"

static std::string source_path, output_path;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rt_start();
  const char* folder = getenv("QELV_FUZZ_SCRATCH");  // tools/fuzz.sh removes it afterwards
  std::string base = std::string(folder != nullptr ? folder : "/tmp") + "/qelv-fuzz-" +
                     std::to_string(getpid());
  source_path = base + ".in";
  output_path = base + ".out";
  return 0;
}

static bool known_result(const char* r) {
  const char* const texts[] = {result_ok,          result_refused,    result_crc_failure,
                               result_read_error,  result_write_error, result_too_large,
                               result_not_encrypted};
  for (const char* t : texts)
    if (r == t) return true;
  return false;
}

static void write_input(const uint8_t* data, size_t size) {
  FILE* f = fopen(source_path.c_str(), "wb");
  if (f == nullptr) abort();
  if (size > 0 && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

static void check(const char* result) {
  if (!known_result(result)) abort();
  if (rt_open_file_count() != 0) abort();
}

// A header may claim up to 2 GiB that the engine then allocates and
// deciphers whole: legal, but one such input takes seconds and the memory of
// the machine, so claims far beyond the input are left to the engine tests.
static bool claims_huge_body(const uint8_t* data, size_t size) {
  uint8_t head[9] = {};  // a short header reads as if zero-filled
  memcpy(head, data, size < 9 ? size : 9);
  int64_t plain_size = 0;
  memcpy(&plain_size, head, 8);  // little-endian, as on the machines fuzzed
  if (plain_size < 1 || plain_size > INT32_MAX) return false;
  return plain_size + static_cast<int8_t>(head[8]) > static_cast<int64_t>(size) + 65536;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (claims_huge_body(data, size)) return 0;
  // The seeds were made with the first key.
  const char* const keys[] = {"pumpkinjar", "x", "  spaced key  ", "\xff\xfe long key that is "
                              "longer than sixteen bytes"};
  for (const char* key : keys) {
    write_input(data, size);
    remove(output_path.c_str());
    check(decrypt_file(source_path.c_str(), output_path.c_str(), key));
  }
  write_input(data, size);
  const char* in_place = decrypt_file(source_path.c_str(), source_path.c_str(), keys[0]);
  check(in_place);
  remove(source_path.c_str());
  remove(output_path.c_str());
  return 0;
}
