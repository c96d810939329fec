// libFuzzer target: the input becomes a file that decrypt_file reads, under a
// few keys to a separate Output, then in place.  A finding is any result
// other than a known text, a file left open, a memory fault, a changed
// source, an output or temporary file left by a failed call, or an "OK"
// whose output is not the header's plain_size bytes with the header's CRC.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <dirent.h>

#include "../engine/engine.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "fuzz_common.h"

static std::string folder, source_path, output_path;

// A folder of this process's own (tools/fuzz.sh removes the scratch folder
// afterwards), so that whatever a call leaves in it can be seen.  Files are
// limited to 64 MiB: a crafted header whose CRC matches may claim any size,
// and is then written whole only up to that limit, as on a small disk.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rt_start();
  const char* scratch = getenv("QELV_FUZZ_SCRATCH");
  folder = std::string(scratch != nullptr ? scratch : "/tmp") + "/qelv-fuzz-" +
           std::to_string(getpid());
  mkdir(folder.c_str(), 0700);
  source_path = folder + "/in";
  output_path = folder + "/out";
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit = {64 << 20, 64 << 20};
  setrlimit(RLIMIT_FSIZE, &limit);
  return 0;
}

// The names in the folder besides the source and Output.
static bool only_own_files() {
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return false;
  bool own = true;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != ".." && name != "in" && name != "out") own = false;
  }
  closedir(d);
  return own;
}

static void check(const char* result) {
  if (fuzz_engine_text(result) != result) abort();  // the engine's own constant
  if (rt_open_file_count() != 0) abort();
  if (!only_own_files()) abort();                    // no temporary file left
}

// What "OK" promises: the output holds exactly plain_size bytes whose CRC-32
// is the header's.  Any other result leaves no output behind.
static void check_output(const char* result, const std::string& output, const uint8_t* data,
                         size_t size) {
  if (result != result_ok) {
    if (output != "(absent)") abort();
    return;
  }
  uint8_t head[FILE_HEADER_SIZE] = {};
  memcpy(head, data, size < FILE_HEADER_SIZE ? size : FILE_HEADER_SIZE);
  const file_header h = header_load(head);
  if (output.size() != static_cast<uint64_t>(h.plain_size)) abort();
  if (rt_crc32(output.data(), static_cast<int32_t>(output.size())) != h.plain_crc) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzz_write_file(source_path.c_str(), data, size);
  // The seeds were made with the first key.
  const char* const keys[] = {"pumpkinjar", "x", "  spaced key  ", ("\xff\xfe long key that is "
                              "longer than sixteen bytes")};
  for (const char* key : keys) {
    remove(output_path.c_str());
    const char* result = decrypt_file(source_path.c_str(), output_path.c_str(), key);
    check(result);
    if (fuzz_read_file(source_path.c_str()) != input) abort();  // the source is never changed
    check_output(result, fuzz_read_file(output_path.c_str()), data, size);
  }
  // In place: "OK" replaces the file by its plain bytes, anything else keeps it.
  const char* in_place = decrypt_file(source_path.c_str(), source_path.c_str(), keys[0]);
  check(in_place);
  const std::string after = fuzz_read_file(source_path.c_str());
  if (in_place == result_ok) check_output(in_place, after, data, size);
  else if (after != input) abort();
  remove(source_path.c_str());
  remove(output_path.c_str());
  return 0;
}
