// The benchmark in the Windows build, where Debian offers no Google
// Benchmark: each case is run until at least --min-time seconds (default
// 0.5) have passed, its first run counted as a warm-up when it was short;
// that is repeated 3 times, and the same summary is printed with the best of
// the three.  Options:
//   --smoke          tiny sizes and one run of each case (for CI)
//   --folder=PATH    where the files are written (default: the current folder)
//   --min-time=S     seconds per case
//   --paired=N       only decrypt_file against the kernel, N pairs in turns
//   --kernels        only each decipher path's rate

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../runtime/runtime.h"
#include "bench.h"

static double rates[64];

static double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One run of a case, its preparation untimed; returns the seconds it took.
static double time_one_run(const bench_case& c) {
  if (c.prepare != nullptr) c.prepare(c);
  auto start = std::chrono::steady_clock::now();
  c.run(c);
  return seconds_since(start);
}

// Bytes per second of one case.
static double time_case(const bench_case& c, bool smoke, double min_time) {
  const double first = time_one_run(c);
  if (smoke || first >= min_time) return static_cast<double>(c.bytes) / first;
  int runs = 0;
  double elapsed = 0;
  do {
    elapsed += time_one_run(c);
    runs++;
  } while (elapsed < min_time);
  return static_cast<double>(c.bytes) * runs / elapsed;
}

int main(int argc, char** argv) {
  bool smoke = false;
  const char* folder = ".";
  double min_time = 0.5;
  int pairs = 0;
  bool kernels = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--smoke") == 0) smoke = true;
    else if (strncmp(argv[i], "--folder=", 9) == 0) folder = argv[i] + 9;
    else if (strncmp(argv[i], "--min-time=", 11) == 0) min_time = std::atof(argv[i] + 11);
    else if (strncmp(argv[i], "--paired=", 9) == 0) pairs = std::atoi(argv[i] + 9);
    else if (strcmp(argv[i], "--kernels") == 0) kernels = true;
    else pairs = -1;
  }
  if (pairs < 0 || pairs > 99) {
    std::fprintf(stderr, "usage: qelv_bench [--smoke] [--folder=PATH] [--min-time=S] "
                         "[--paired=1..99] [--kernels]\n");
    return 2;
  }
  rt_start();
  if (pairs > 0 || kernels) {
    const bool ok =
        (!kernels || bench_kernel_rates(3)) && (pairs == 0 || bench_paired(folder, pairs));
    rt_stop();
    return ok ? 0 : 1;
  }
  if (!bench_setup(smoke, folder)) return 1;
  const bool checked = bench_check();
  std::printf("%-34s %12s %10s\n", "case", "ms per run", "MB/s");
  for (int i = 0; i < bench_case_count(); i++) {
    if (!bench_case_available(i)) continue;
    const bench_case& c = bench_case_at(i);
    for (int repetition = 0; repetition < (smoke ? 1 : 3); repetition++) {
      const double rate = time_case(c, smoke, min_time);
      std::printf("%-34s %12.3f %10.1f\n", c.name, 1e3 * c.bytes / rate, rate / 1e6);
      std::fflush(stdout);
      if (rate > rates[i]) rates[i] = rate;
    }
  }
  bench_report(rates, smoke ? "timing loop" : "timing loop, best of 3 repetitions");
  const bool runs_ok = bench_failed_runs() == 0;
  bench_teardown();
  rt_stop();
  return checked && runs_ok ? 0 : 1;
}
