// One engine call on a file, so that its peak memory can be measured from
// outside, for instance with /usr/bin/time -v:
//   qelv_file_run make FILE BYTES              writes a test file in 1 MiB pieces
//   qelv_file_run encrypt FILE OUTPUT KEY      encrypt_file, prints the result
//   qelv_file_run decrypt FILE OUTPUT KEY      decrypt_file, prints the result

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../engine/engine.h"
#include "../runtime/runtime.h"

static int make_file(const char* path, long long bytes) {
  static unsigned char piece[1 << 20];
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return 1;
  unsigned x = 2463534242u;
  for (long long done = 0; done < bytes;) {
    size_t n = bytes - done < static_cast<long long>(sizeof piece) ? static_cast<size_t>(bytes - done)
                                                                   : sizeof piece;
    for (size_t i = 0; i < n; i++) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      piece[i] = static_cast<unsigned char>(x);
    }
    if (std::fwrite(piece, 1, n, f) != n) break;
    done += static_cast<long long>(n);
  }
  return std::fclose(f) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "make") == 0) return make_file(argv[2], std::atoll(argv[3]));
  if (argc != 5 || (strcmp(argv[1], "encrypt") != 0 && strcmp(argv[1], "decrypt") != 0)) {
    std::fprintf(stderr, "usage: qelv_file_run make FILE BYTES | encrypt|decrypt FILE OUTPUT KEY\n");
    return 2;
  }
  rt_start();
  const char* result = argv[1][0] == 'e' ? encrypt_file(argv[2], argv[3], argv[4])
                                         : decrypt_file(argv[2], argv[3], argv[4]);
  rt_stop();
  std::printf("%s\n", result);
  return strcmp(result, result_ok) == 0 ? 0 : 1;
}
