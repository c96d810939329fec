// The benchmark: its cases and their checks (cases.cpp), the baseline they
// are compared with (baseline.cpp), and two front ends that time them,
// Google Benchmark natively (main_gbench.cpp) and a plain timing loop in the
// Windows build (main_loop.cpp).
#pragma once

#include <cstdint>

// The baseline: the format as described, block by block, two buffers.
void baseline_encipher(const uint8_t key[16], uint8_t block[8]);
void baseline_decipher(const uint8_t key[16], uint8_t block[8]);
void baseline_cbc_encrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t* plain,
                          uint8_t* cipher, int32_t blocks);
void baseline_cbc_decrypt(const uint8_t key[16], const uint8_t iv[8], const uint8_t* cipher,
                          uint8_t* plain, int32_t blocks);
uint32_t baseline_crc32(const uint8_t* data, int32_t count);
const char* baseline_encrypt_file(const char* file, const char* output, const char* key);
const char* baseline_decrypt_file(const char* file, const char* output, const char* key);
// One CBC encryption chain as tight as it can be made, in place.
void tight_chain_encrypt(const uint32_t round_key[64], const uint8_t iv[8], uint8_t* data,
                         int32_t blocks);

struct bench_case {
  char name[48];
  int baseline;   // index of the case it is compared with; -1 for a baseline itself
  int64_t bytes;  // bytes that one run works through
  void (*run)(const bench_case& c);
  void (*prepare)(const bench_case& c);  // before each run, not timed; may be null
  int path;       // the cbc_path of a forced-path case, -1 otherwise
};

// Makes the buffers and the files in folder; smoke picks tiny sizes.
// False, with the reason printed, when something cannot be made.
bool bench_setup(bool smoke, const char* folder);
// Compares what every case computes with the baseline; prints each
// mismatch and returns false when there is one.
bool bench_check();
void bench_teardown();

int bench_case_count();
const bench_case& bench_case_at(int i);
bool bench_case_available(int i);  // false for a path this processor lacks
int bench_failed_runs();           // file cases whose result was not "OK"

// Measured in turns (paired.cpp): decrypt_file against the kernel, pairs
// times (1 to 99), with its files in folder; and each decipher path's rate,
// the best of repetitions runs.  False, with the reason printed, when a
// file cannot be made or a result is wrong.
bool bench_paired(const char* folder, int pairs);
bool bench_kernel_rates(int repetitions);

// Prints the table: MB/s (10^6 bytes per second) for each case, its ratio to
// its baseline, and the targets.  rate[i] <= 0 marks a case not measured.
void bench_report(const double rate[], const char* front_end);
