// The benchmark natively: each case is a Google Benchmark benchmark, timed
// in wall-clock time and repeated 3 times, and a summary with the best of
// the repetitions and the ratios follows the library's own table.  Options
// of its own, taken before the library's:
//   --smoke          tiny sizes and one run of each case (for CI)
//   --folder=PATH    where the files are written (default: the current folder)
//   --paired=N       only decrypt_file against the kernel, N pairs in turns
//   --kernels        only each decipher path's rate

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../runtime/runtime.h"
#include "bench.h"

static double rates[64];

// The library hands its results to a reporter object; this one keeps each
// case's best rate for the summary and otherwise prints as the console does.
class rate_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.real_accumulated_time <= 0)
        continue;
      for (int i = 0; i < bench_case_count(); i++) {
        if (run.run_name.function_name != bench_case_at(i).name) continue;
        double rate = static_cast<double>(bench_case_at(i).bytes) *
                      static_cast<double>(run.iterations) / run.real_accumulated_time;
        if (rate > rates[i]) rates[i] = rate;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

static void run_case(benchmark::State& state, int i) {
  const bench_case& c = bench_case_at(i);
  for (auto _ : state) {
    if (c.prepare != nullptr) {
      state.PauseTiming();
      c.prepare(c);
      state.ResumeTiming();
    }
    c.run(c);
  }
  state.SetBytesProcessed(state.iterations() * c.bytes);
}

int main(int argc, char** argv) {
  bool smoke = false;
  const char* folder = ".";
  int kept = 1, pairs = 0;
  bool kernels = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--smoke") == 0) smoke = true;
    else if (strncmp(argv[i], "--folder=", 9) == 0) folder = argv[i] + 9;
    else if (strncmp(argv[i], "--paired=", 9) == 0) pairs = atoi(argv[i] + 9);
    else if (strcmp(argv[i], "--kernels") == 0) kernels = true;
    else argv[kept++] = argv[i];
  }
  argc = kept;
  if (pairs < 0 || pairs > 99) {
    fprintf(stderr, "qelv_bench: --paired takes 1 to 99\n");
    return 2;
  }
  if (pairs > 0 || kernels) {
    rt_start();
    const bool ok =
        (!kernels || bench_kernel_rates(3)) && (pairs == 0 || bench_paired(folder, pairs));
    rt_stop();
    return ok ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

  rt_start();
  if (!bench_setup(smoke, folder)) return 1;
  const bool checked = bench_check();
  for (int i = 0; i < bench_case_count(); i++) {
    if (!bench_case_available(i)) continue;
    benchmark::internal::Benchmark* b =
        benchmark::RegisterBenchmark(bench_case_at(i).name, run_case, i);
    b->UseRealTime()->Unit(benchmark::kMillisecond);
    if (smoke) b->Iterations(1);
    else b->Repetitions(3);  // the best of three, against other load on the machine
  }
  rate_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  bench_report(rates, smoke ? "Google Benchmark" : "Google Benchmark, best of 3 repetitions");
  const bool runs_ok = bench_failed_runs() == 0;
  bench_teardown();
  rt_stop();
  return checked && runs_ok ? 0 : 1;
}
