// Figures measured in turns, for a machine whose processors other work
// shares: a figure taken now and another taken a minute later may differ by
// half when someone compiles meanwhile, while two taken one right after the
// other see the same machine.
//   bench_paired        decrypt_file of a 256 MiB file, one thread as the
//                       module runs it, against the decipher kernel alone
//                       over the same bytes, pair by pair
//   bench_kernel_rates  each decipher path on its own, for comparing the
//                       64-bit build with the 32-bit one (bench/pair-builds.sh
//                       runs the two in turns)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "../engine/cbc.h"
#include "../engine/engine.h"
#include "../engine/xtea.h"
#include "../runtime/runtime.h"
#include "bench.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <ctime>
#endif

static const int64_t MiB = 1024 * 1024;
static const int64_t piece_bytes = 1 * MiB;
static const int64_t file_bytes = 256 * MiB;
static const char key_text[] = "benchmark key 16";
static const uint8_t iv[8] = {0x13, 0x57, 0x9B, 0xDF, 0x02, 0x46, 0x8A, 0xCE};
enum { MAX_PAIRS = 99, MAX_PATH_LENGTH = 600 };

static double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of the calling thread, user and system, in seconds: what
// other programs on the machine do not stretch, as they stretch the wall
// clock by taking turns on the processors.
static double thread_seconds() {
#if defined(_WIN32)
  FILETIME created, ended, system, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &system, &user);
  const uint64_t s = (static_cast<uint64_t>(system.dwHighDateTime) << 32) | system.dwLowDateTime;
  const uint64_t u = (static_cast<uint64_t>(user.dwHighDateTime) << 32) | user.dwLowDateTime;
  return static_cast<double>(s + u) * 1e-7;  // 100 ns units
#else
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#endif
}

// Pseudo-random bytes with a fixed start, as cases.cpp makes them.
static void fill(uint8_t* p, int64_t n) {
  uint32_t x = 2463534242u;
  for (int64_t i = 0; i < n; i++) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    p[i] = static_cast<uint8_t>(x);
  }
}

static double median(const double* values, int n) {
  double sorted[MAX_PAIRS];
  std::copy(values, values + n, sorted);
  std::sort(sorted, sorted + n);
  return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

// Seconds for cbc_decrypt over buffer (bytes long, in the caches) times
// times, on path, or on the chosen one when path is -1.
static double kernel_seconds(const cipher_key& key, int path, uint8_t* buffer, int64_t bytes,
                             int64_t times) {
  const int32_t blocks = static_cast<int32_t>(bytes / 8);
  const double start = now();
  for (int64_t i = 0; i < times; i++) {
    if (path < 0) cbc_decrypt(key, iv, buffer, blocks);
    else cbc_decrypt_on(static_cast<cbc_path>(path), key, iv, buffer, blocks);
  }
  return now() - start;
}

// The plain file, in 1 MiB pieces of buffer; with stdio, since the runtime
// writes only through the engine's output commit.
static bool write_plain(const char* path, uint8_t* buffer) {
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  bool ok = true;
  for (int64_t done = 0; ok && done < file_bytes; done += piece_bytes)
    ok = std::fwrite(buffer, 1, piece_bytes, f) == static_cast<size_t>(piece_bytes);
  return std::fclose(f) == 0 && ok;
}

// Whether the file at path holds file_bytes bytes that are buffer's piece
// repeated; buffer is used to read and is filled again after.
static bool holds_plain(const char* path, uint8_t* buffer, uint8_t* piece) {
  int f = rt_file_open(path);
  bool same = f >= 0 && rt_file_length(f) == file_bytes;
  for (int64_t done = 0; same && done < file_bytes; done += piece_bytes)
    same = rt_file_read(f, buffer, piece_bytes) == piece_bytes &&
           memcmp(buffer, piece, piece_bytes) == 0;
  if (f >= 0) rt_file_close(f);
  return same;
}

static void print_target(const char* what, double value, double least) {
  std::printf("  %-56s %6.2f  (>= %.2f: %s)\n", what, value, least,
              value >= least ? "met" : "NOT met");
}

// What the pairs measured, one entry per pair.
struct pair_figures {
  double kernel_rate[MAX_PAIRS], file_rate[MAX_PAIRS];  // MB/s by the wall clock
  double ratio[MAX_PAIRS], cpu_ratio[MAX_PAIRS];        // decrypt_file's rate over the kernel's
};

// Each side of a pair runs RUNS times: the thread's processor time comes
// in steps of 10 ms under Wine, a twentieth of one decrypt_file of 256 MiB,
// and the steps' errors shrink in the sum.
enum { RUNS = 4 };

// Pair i: the kernel over the file's bytes RUNS times, timed as one, then
// decrypt_file RUNS times, each into a new back (the old one removed
// untimed, as in the full run's case), their times added up.
static bool one_pair(const cipher_key& key, uint8_t* work, const char* sealed, const char* back,
                     pair_figures* f, int i) {
  double cpu = thread_seconds();
  const double kernel = kernel_seconds(key, -1, work, piece_bytes, RUNS * file_bytes / piece_bytes);
  const double kernel_cpu = thread_seconds() - cpu;
  double file = 0, file_cpu = 0;
  bool ok = true;
  for (int r = 0; ok && r < RUNS; r++) {
    std::remove(back);
    const double start = now();
    cpu = thread_seconds();
    ok = strcmp(decrypt_file(sealed, back, key_text), result_ok) == 0;
    file_cpu += thread_seconds() - cpu;
    file += now() - start;
  }
  f->kernel_rate[i] = RUNS * file_bytes / kernel / 1e6;
  f->file_rate[i] = RUNS * file_bytes / file / 1e6;
  f->ratio[i] = kernel / file;
  f->cpu_ratio[i] = kernel_cpu / file_cpu;
  std::printf("  pair %2d: cbc_decrypt %7.1f MB/s, decrypt_file %7.1f MB/s, ratio %.3f, by "
              "processor time %.3f\n",
              i + 1, f->kernel_rate[i], f->file_rate[i], f->ratio[i], f->cpu_ratio[i]);
  std::fflush(stdout);
  return ok;
}

static void report_pairs(const pair_figures& f, int pairs) {
  std::printf("medians of %d pairs: cbc_decrypt %.1f MB/s, decrypt_file %.1f MB/s; ratio %.3f "
              "(%.3f to %.3f), by processor time %.3f (%.3f to %.3f)\n",
              pairs, median(f.kernel_rate, pairs), median(f.file_rate, pairs),
              median(f.ratio, pairs), *std::min_element(f.ratio, f.ratio + pairs),
              *std::max_element(f.ratio, f.ratio + pairs), median(f.cpu_ratio, pairs),
              *std::min_element(f.cpu_ratio, f.cpu_ratio + pairs),
              *std::max_element(f.cpu_ratio, f.cpu_ratio + pairs));
  std::printf("target:\n");
  print_target("decrypt_file/256MiB vs cbc_decrypt, median of the pairs", median(f.ratio, pairs),
               0.8);
}

bool bench_paired(const char* folder, int pairs) {
  char plain[MAX_PATH_LENGTH], sealed[MAX_PATH_LENGTH], back[MAX_PATH_LENGTH];
  std::snprintf(plain, sizeof plain, "%s/qelv-paired-plain", folder);
  std::snprintf(sealed, sizeof sealed, "%s/qelv-paired-sealed", folder);
  std::snprintf(back, sizeof back, "%s/qelv-paired-back", folder);
  uint8_t* piece = static_cast<uint8_t*>(rt_block_alloc(piece_bytes));
  uint8_t* work = static_cast<uint8_t*>(rt_block_alloc(piece_bytes));
  if (piece == nullptr || work == nullptr) return false;
  fill(piece, piece_bytes);
  memcpy(work, piece, piece_bytes);
  const cipher_key key = cipher_key_from_string(key_text);
  bool ok = write_plain(plain, piece) &&
            strcmp(encrypt_file(plain, sealed, key_text), result_ok) == 0;
  if (!ok) std::printf("setup: cannot write and encrypt %s\n", plain);
  if (ok) {
    std::printf("decrypt_file/256MiB (one thread, a new Output) %d times and cbc_decrypt\n"
                "(%s path) over 256 x 1MiB in the caches %d times, in turns, after one run of\n"
                "each untimed; ratio of the rates by the wall clock, and by the thread's\n"
                "processor time:\n",
                RUNS, cbc_path_name(cbc_chosen_path()), RUNS);
    kernel_seconds(key, -1, work, piece_bytes, file_bytes / piece_bytes);
    ok = strcmp(decrypt_file(sealed, back, key_text), result_ok) == 0;
  }
  pair_figures figures;
  for (int i = 0; ok && i < pairs; i++) ok = one_pair(key, work, sealed, back, &figures, i);
  if (ok && !holds_plain(back, work, piece)) {
    std::printf("check failed: decrypt_file did not give the plain file back\n");
    ok = false;
  }
  if (ok) report_pairs(figures, pairs);
  std::remove(plain);
  std::remove(sealed);
  std::remove(back);
  rt_block_free(piece);
  rt_block_free(work);
  return ok;
}

bool bench_kernel_rates(int repetitions) {
  const int64_t sizes[2] = {1 * MiB, 64 * MiB};
  uint8_t* buffer = static_cast<uint8_t*>(rt_block_alloc(sizes[1]));
  if (buffer == nullptr) return false;
  fill(buffer, sizes[1]);
  const cipher_key key = cipher_key_from_string(key_text);
  std::printf("%s build, best of %d runs of at least 0.2 s:\n",
              sizeof(void*) == 4 ? "32-bit" : "64-bit", repetitions);
  for (int path = CBC_PATH_SCALAR; path <= CBC_PATH_AVX512; path++) {
    if (!cbc_path_available(static_cast<cbc_path>(path))) continue;
    for (int64_t bytes : sizes) {
      double best = 0;
      for (int r = 0; r < repetitions; r++) {
        int64_t times = 0;
        double seconds = 0;
        for (; seconds < 0.2; times++) seconds += kernel_seconds(key, path, buffer, bytes, 1);
        best = std::max(best, bytes * times / seconds / 1e6);
      }
      std::printf("kernel %-6s %2lldMiB %8.1f MB/s\n", cbc_path_name(static_cast<cbc_path>(path)),
                  static_cast<long long>(bytes / MiB), best);
      std::fflush(stdout);
    }
  }
  rt_block_free(buffer);
  return true;
}
