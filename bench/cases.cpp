// The benchmark's cases, the buffers and files they work on, the checks
// that each computes what the baseline computes, and the report.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "../engine/cbc.h"
#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../engine/xtea.h"
#include "../runtime/runtime.h"
#include "bench.h"

enum { MAX_CASES = 48, MAX_PATH_LENGTH = 600 };
static const int64_t KiB = 1024, MiB = 1024 * 1024;

static bool smoke_run;
static const char key_text[] = "benchmark key 16";
static cipher_key key;
static const uint8_t iv[8] = {0x13, 0x57, 0x9B, 0xDF, 0x02, 0x46, 0x8A, 0xCE};
static int64_t block_bytes, small_bytes, large_bytes, file_bytes;
static uint8_t* plain;  // pseudo-random bytes, not changed after setup
static uint8_t* work;   // what the engine's cases work on in place
static uint8_t* out;    // the baseline's second buffer
static char plain_file[MAX_PATH_LENGTH], sealed_file[MAX_PATH_LENGTH],
    back_file[MAX_PATH_LENGTH], baseline_sealed_file[MAX_PATH_LENGTH],
    baseline_back_file[MAX_PATH_LENGTH];
static volatile uint32_t crc_sink;  // keeps the CRC cases from being optimised away
static int failed_runs;

static bench_case cases[MAX_CASES];
static int case_count;
// The cases that the targets name.
static int encrypt_small, encrypt_large, tight_small, tight_large, baseline_encrypt_small,
    baseline_encrypt_large, decrypt_small, decrypt_large, sse2_small, sse2_large,
    baseline_decrypt_small, baseline_decrypt_large, encrypt_file_case, decrypt_file_case, zlib_crc_case, crc_case, verify_file_case,
    decrypt_worker_case, verify_worker_case;

static int32_t blocks_of(const bench_case& c) { return static_cast<int32_t>(c.bytes / 8); }

static void note(const char* result) {
  if (strcmp(result, result_ok) != 0) {
    std::printf("run failed: %s\n", result);
    failed_runs++;
  }
}

static void run_baseline_encipher(const bench_case& c) {
  for (int64_t i = 0; i < c.bytes; i += 8) baseline_encipher(key.bytes, work + i);
}
static void run_baseline_decipher(const bench_case& c) {
  for (int64_t i = 0; i < c.bytes; i += 8) baseline_decipher(key.bytes, work + i);
}
static void run_encipher(const bench_case& c) {
  for (int64_t i = 0; i < c.bytes; i += 8) xtea_encipher(key, work + i);
}
static void run_decipher(const bench_case& c) {
  for (int64_t i = 0; i < c.bytes; i += 8) xtea_decipher(key, work + i);
}
static void run_baseline_cbc_encrypt(const bench_case& c) {
  baseline_cbc_encrypt(key.bytes, iv, plain, out, blocks_of(c));
}
static void run_tight_chain(const bench_case& c) {
  const xtea_schedule s = xtea_make_schedule(key);  // once per call, as cbc_encrypt does
  tight_chain_encrypt(s.round_key, iv, work, blocks_of(c));
}
static void run_cbc_encrypt(const bench_case& c) { cbc_encrypt(key, iv, work, blocks_of(c)); }
static void run_baseline_cbc_decrypt(const bench_case& c) {
  baseline_cbc_decrypt(key.bytes, iv, plain, out, blocks_of(c));
}
static void run_cbc_decrypt(const bench_case& c) { cbc_decrypt(key, iv, work, blocks_of(c)); }
static void run_cbc_decrypt_on(const bench_case& c) {
  cbc_decrypt_on(static_cast<cbc_path>(c.path), key, iv, work, blocks_of(c));
}
static void run_baseline_crc(const bench_case& c) {
  crc_sink = crc_sink ^ baseline_crc32(plain, static_cast<int32_t>(c.bytes));
}
static void run_crc(const bench_case& c) {
  crc_sink = crc_sink ^ rt_crc32(plain, static_cast<int32_t>(c.bytes));
}
static void run_zlib_crc(const bench_case& c) {
  crc_sink = crc_sink ^ static_cast<uint32_t>(crc32(0, plain, static_cast<uInt>(c.bytes)));
}
static void run_baseline_encrypt_file(const bench_case&) {
  note(baseline_encrypt_file(plain_file, baseline_sealed_file, key_text));
}
static void run_encrypt_file(const bench_case&) {
  note(encrypt_file(plain_file, sealed_file, key_text));
}
static void run_baseline_decrypt_file(const bench_case&) {
  note(baseline_decrypt_file(sealed_file, baseline_back_file, key_text));
}
static void run_decrypt_file(const bench_case&) {
  note(decrypt_file(sealed_file, back_file, key_text));
}
static void run_verify_file(const bench_case&) {
  engine_call call = {};
  note(verify_file_in(&call, sealed_file, key_text));
}
// As the command-line tool runs them: with the engine's worker thread.
static void run_decrypt_file_worker(const bench_case&) {
  engine_call call = {};
  call.use_worker = true;
  note(decrypt_file_in(&call, sealed_file, back_file, key_text));
}
static void run_verify_file_worker(const bench_case&) {
  engine_call call = {};
  call.use_worker = true;
  note(verify_file_in(&call, sealed_file, key_text));
}
// The file cases write new files, as an application decrypting into a
// temporary folder does: their output is removed before each run.
// Replacing an existing file adds a flush to the disk, measured in a case of
// its own.
static void remove_baseline_sealed(const bench_case&) { std::remove(baseline_sealed_file); }
static void remove_sealed(const bench_case&) { std::remove(sealed_file); }
static void remove_baseline_back(const bench_case&) { std::remove(baseline_back_file); }
static void remove_back(const bench_case&) { std::remove(back_file); }

static void size_label(int64_t bytes, char* label, size_t room) {
  if (bytes % MiB == 0) std::snprintf(label, room, "%lldMiB", static_cast<long long>(bytes / MiB));
  else if (bytes % KiB == 0) std::snprintf(label, room, "%lldKiB", static_cast<long long>(bytes / KiB));
  else std::snprintf(label, room, "%lldB", static_cast<long long>(bytes));
}

static int add_case(const char* what, int64_t bytes, int baseline, void (*run)(const bench_case&),
                    int path = -1, void (*prepare)(const bench_case&) = nullptr) {
  if (case_count == MAX_CASES) {
    std::printf("more cases than MAX_CASES\n");
    std::exit(1);
  }
  bench_case& c = cases[case_count];
  char size[24];
  size_label(bytes, size, sizeof size);
  std::snprintf(c.name, sizeof c.name, "%s/%s", what, size);
  c.baseline = baseline;
  c.bytes = bytes;
  c.run = run;
  c.prepare = prepare;
  c.path = path;
  return case_count++;
}

static void add_cases() {
  int base = add_case("baseline/encipher_block", block_bytes, -1, run_baseline_encipher);
  add_case("xtea_encipher", block_bytes, base, run_encipher);
  base = add_case("baseline/decipher_block", block_bytes, -1, run_baseline_decipher);
  add_case("xtea_decipher", block_bytes, base, run_decipher);

  baseline_encrypt_small = add_case("baseline/cbc_encrypt", small_bytes, -1, run_baseline_cbc_encrypt);
  tight_small = add_case("tight_chain/cbc_encrypt", small_bytes, baseline_encrypt_small, run_tight_chain);
  encrypt_small = add_case("cbc_encrypt", small_bytes, baseline_encrypt_small, run_cbc_encrypt);
  baseline_encrypt_large = add_case("baseline/cbc_encrypt", large_bytes, -1, run_baseline_cbc_encrypt);
  tight_large = add_case("tight_chain/cbc_encrypt", large_bytes, baseline_encrypt_large, run_tight_chain);
  encrypt_large = add_case("cbc_encrypt", large_bytes, baseline_encrypt_large, run_cbc_encrypt);

  const int64_t sizes[2] = {small_bytes, large_bytes};
  for (int s = 0; s < 2; s++) {
    base = add_case("baseline/cbc_decrypt", sizes[s], -1, run_baseline_cbc_decrypt);
    int chosen = add_case("cbc_decrypt", sizes[s], base, run_cbc_decrypt);
    add_case("cbc_decrypt/avx512", sizes[s], base, run_cbc_decrypt_on, CBC_PATH_AVX512);
    add_case("cbc_decrypt/avx2", sizes[s], base, run_cbc_decrypt_on, CBC_PATH_AVX2);
    int sse2 = add_case("cbc_decrypt/sse2", sizes[s], base, run_cbc_decrypt_on, CBC_PATH_SSE2);
    add_case("cbc_decrypt/scalar", sizes[s], base, run_cbc_decrypt_on, CBC_PATH_SCALAR);
    (s == 0 ? baseline_decrypt_small : baseline_decrypt_large) = base;
    (s == 0 ? decrypt_small : decrypt_large) = chosen;
    (s == 0 ? sse2_small : sse2_large) = sse2;
  }

  base = add_case("baseline/crc32", large_bytes, -1, run_baseline_crc);
  zlib_crc_case = add_case("zlib/crc32", large_bytes, base, run_zlib_crc);
  crc_case = add_case("rt_crc32", large_bytes, base, run_crc);
  base = add_case("baseline/encrypt_file", file_bytes, -1, run_baseline_encrypt_file, -1,
                  remove_baseline_sealed);
  encrypt_file_case = add_case("encrypt_file", file_bytes, base, run_encrypt_file, -1, remove_sealed);
  base = add_case("baseline/decrypt_file", file_bytes, -1, run_baseline_decrypt_file, -1,
                  remove_baseline_back);
  decrypt_file_case = add_case("decrypt_file", file_bytes, base, run_decrypt_file, -1, remove_back);
  add_case("decrypt_file/replacing", file_bytes, base, run_decrypt_file);
  verify_file_case = add_case("verify_file", file_bytes, base, run_verify_file);
  decrypt_worker_case = add_case("decrypt_file/worker", file_bytes, base, run_decrypt_file_worker,
                                 -1, remove_back);
  verify_worker_case = add_case("verify_file/worker", file_bytes, base, run_verify_file_worker);
}

// '/' separates on Windows too.
static void file_name(char* path, const char* folder, const char* name) {
  std::snprintf(path, MAX_PATH_LENGTH, "%s/%s", folder, name);
}

// The plain file: file_bytes of the plain buffer, repeated, written in
// pieces so that no buffer of the file's size is needed.  With stdio: the
// runtime opens files only for reading, apart from the engine's own output.
static bool write_plain_file() {
  FILE* f = std::fopen(plain_file, "wb");
  if (f == nullptr) return false;
  bool ok = true;
  for (int64_t done = 0; ok && done < file_bytes;) {
    size_t piece = static_cast<size_t>(file_bytes - done < large_bytes ? file_bytes - done : large_bytes);
    ok = std::fwrite(plain, 1, piece, f) == piece;
    done += static_cast<int64_t>(piece);
  }
  return std::fclose(f) == 0 && ok;
}

bool bench_setup(bool smoke, const char* folder) {
  smoke_run = smoke;
  block_bytes = smoke ? 64 * KiB : 1 * MiB;
  small_bytes = smoke ? 64 * KiB : 1 * MiB;
  large_bytes = smoke ? 256 * KiB : 64 * MiB;
  file_bytes = smoke ? 1 * MiB + 3 : 256 * MiB;  // the smoke file ends in a partial block
  key = cipher_key_from_string(key_text);
  plain = static_cast<uint8_t*>(rt_block_alloc(large_bytes));
  work = static_cast<uint8_t*>(rt_block_alloc(large_bytes));
  out = static_cast<uint8_t*>(rt_block_alloc(large_bytes));
  if (plain == nullptr || work == nullptr || out == nullptr) {
    std::printf("setup: no memory for three buffers of %lld bytes\n", static_cast<long long>(large_bytes));
    return false;
  }
  uint32_t x = 2463534242u;  // xorshift32: cheap bytes that do not repeat within a buffer
  for (int64_t i = 0; i < large_bytes; i++) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    plain[i] = static_cast<uint8_t>(x);
  }
  memcpy(work, plain, large_bytes);
  file_name(plain_file, folder, "qelv-bench-plain");
  file_name(sealed_file, folder, "qelv-bench-sealed");
  file_name(back_file, folder, "qelv-bench-back");
  file_name(baseline_sealed_file, folder, "qelv-bench-baseline-sealed");
  file_name(baseline_back_file, folder, "qelv-bench-baseline-back");
  if (!write_plain_file()) {
    std::printf("setup: cannot write %s\n", plain_file);
    return false;
  }
  case_count = 0;
  add_cases();
  return true;
}

void bench_teardown() {
  const char* files[] = {plain_file, sealed_file, back_file, baseline_sealed_file, baseline_back_file};
  for (const char* f : files) std::remove(f);
  rt_block_free(plain);
  rt_block_free(work);
  rt_block_free(out);
}

static bool same_bytes(const char* what, const uint8_t* a, const uint8_t* b, int64_t n) {
  if (memcmp(a, b, n) == 0) return true;
  std::printf("check failed: %s\n", what);
  return false;
}

// Compares two files piece by piece, in the three buffers' room.
static bool same_files(const char* what, const char* path_a, const char* path_b) {
  int a = rt_file_open(path_a), b = rt_file_open(path_b);
  bool same = a >= 0 && b >= 0 && rt_file_length(a) == rt_file_length(b);
  while (same) {
    int32_t na = rt_file_read(a, work, static_cast<int32_t>(large_bytes));
    int32_t nb = rt_file_read(b, out, static_cast<int32_t>(large_bytes));
    same = na == nb && na >= 0 && memcmp(work, out, na) == 0;
    if (na <= 0) break;
  }
  if (a >= 0) rt_file_close(a);
  if (b >= 0) rt_file_close(b);
  if (!same) std::printf("check failed: %s\n", what);
  return same;
}

static bool gave_ok(const char* what, const char* result) {
  if (strcmp(result, result_ok) == 0) return true;
  std::printf("check failed: %s gave \"%s\"\n", what, result);
  return false;
}

static bool check_block_cipher() {
  uint8_t engine_block[8], baseline_block[8];
  memcpy(engine_block, plain, 8);
  memcpy(baseline_block, plain, 8);
  xtea_encipher(key, engine_block);
  baseline_encipher(key.bytes, baseline_block);
  bool ok = same_bytes("xtea_encipher", engine_block, baseline_block, 8);
  xtea_decipher(key, engine_block);
  baseline_decipher(key.bytes, baseline_block);
  return same_bytes("xtea_decipher", engine_block, plain, 8) &&
         same_bytes("baseline_decipher", baseline_block, plain, 8) && ok;
}

static bool check_cbc() {
  // An odd block count, so that every path ends with a partial step.
  const int32_t blocks = static_cast<int32_t>(small_bytes / 8 - 3);
  const int64_t n = 8 * static_cast<int64_t>(blocks);
  baseline_cbc_encrypt(key.bytes, iv, plain, out, blocks);
  memcpy(work, plain, n);
  cbc_encrypt(key, iv, work, blocks);
  bool ok = same_bytes("cbc_encrypt", work, out, n);
  memcpy(work, plain, n);
  const xtea_schedule s = xtea_make_schedule(key);
  tight_chain_encrypt(s.round_key, iv, work, blocks);
  ok &= same_bytes("tight_chain_encrypt", work, out, n);
  for (int p = CBC_PATH_SCALAR; p <= CBC_PATH_AVX512; p++) {
    memcpy(work, out, n);
    if (cbc_decrypt_on(static_cast<cbc_path>(p), key, iv, work, blocks))
      ok &= same_bytes(cbc_path_name(static_cast<cbc_path>(p)), work, plain, n);
  }
  memcpy(work, out, n);
  cbc_decrypt(key, iv, work, blocks);
  ok &= same_bytes("cbc_decrypt", work, plain, n);
  baseline_cbc_decrypt(key.bytes, iv, out, work, blocks);
  return same_bytes("baseline_cbc_decrypt", work, plain, n) && ok;
}

static bool check_crc() {
  const int32_t n = static_cast<int32_t>(large_bytes);
  if (baseline_crc32(plain, n) == rt_crc32(plain, n) &&
      rt_crc32(plain, n) == crc32(0, plain, static_cast<uInt>(n)))
    return true;
  std::printf("check failed: crc32\n");
  return false;
}

// Files each way between the engine and the baseline.
static bool check_files() {
  bool ok = gave_ok("encrypt_file", encrypt_file(plain_file, sealed_file, key_text)) &&
            gave_ok("baseline_decrypt_file",
                    baseline_decrypt_file(sealed_file, baseline_back_file, key_text)) &&
            same_files("baseline_decrypt_file of encrypt_file", baseline_back_file, plain_file);
  return gave_ok("baseline_encrypt_file",
                 baseline_encrypt_file(plain_file, baseline_sealed_file, key_text)) &&
         gave_ok("decrypt_file", decrypt_file(baseline_sealed_file, back_file, key_text)) &&
         same_files("decrypt_file of baseline_encrypt_file", back_file, plain_file) && ok;
}

bool bench_check() {
  bool ok = check_block_cipher();
  ok &= check_cbc();
  ok &= check_crc();
  ok &= check_files();
  memcpy(work, plain, large_bytes);
  std::printf("checks: %s\n", ok ? "engine and baseline agree" : "FAILED");
  return ok;
}

int bench_case_count() { return case_count; }
const bench_case& bench_case_at(int i) { return cases[i]; }
bool bench_case_available(int i) {
  return cases[i].path < 0 || cbc_path_available(static_cast<cbc_path>(cases[i].path));
}
int bench_failed_runs() { return failed_runs; }

static double ratio(const double rate[], int a, int b) {
  return rate[a] > 0 && rate[b] > 0 ? rate[a] / rate[b] : 0;
}

// A ratio shown beside the targets, for comparison.
static void figure(const char* what, double value) {
  if (value <= 0) std::printf("  %-50s   not measured\n", what);
  else std::printf("  %-50s %7.2f\n", what, value);
}

static void target(const char* what, double value, double least) {
  if (value <= 0) std::printf("  %-50s   not measured\n", what);
  else std::printf("  %-50s %7.2f  (>= %.2f: %s)\n", what, value, least, value >= least ? "met" : "NOT met");
}

void bench_report(const double rate[], const char* front_end) {
  std::printf("\nQelv benchmark, %s, %s build; cbc_decrypt takes the %s path\n", front_end,
              sizeof(void*) == 4 ? "32-bit" : "64-bit", cbc_path_name(cbc_chosen_path()));
  std::printf("decipher paths this processor and system offer:");
  for (int p = CBC_PATH_SCALAR; p <= CBC_PATH_AVX512; p++)
    if (cbc_path_available(static_cast<cbc_path>(p))) std::printf(" %s", cbc_path_name(static_cast<cbc_path>(p)));
  std::printf("\n");
  std::printf("%-34s %10s %12s\n", "case", "MB/s", "x baseline");
  for (int i = 0; i < case_count; i++) {
    if (rate[i] <= 0) {
      std::printf("%-34s %10s\n", cases[i].name, "-");
      continue;
    }
    if (cases[i].baseline < 0)
      std::printf("%-34s %10.1f %12s\n", cases[i].name, rate[i] / 1e6, "(baseline)");
    else if (rate[cases[i].baseline] <= 0)
      std::printf("%-34s %10.1f %12s\n", cases[i].name, rate[i] / 1e6, "-");
    else
      std::printf("%-34s %10.1f %12.2f\n", cases[i].name, rate[i] / 1e6,
                  ratio(rate, i, cases[i].baseline));
  }
  if (smoke_run) {
    std::printf("smoke run: tiny sizes, one run each; the figures are not measurements\n");
    return;
  }
#if defined(_WIN32)
  const double decrypt_least = 6;
#else
  const double decrypt_least = 10;
#endif
  int kernel = rate[decrypt_large] > rate[decrypt_small] ? decrypt_large : decrypt_small;
  std::printf("targets:\n");
  target("cbc_decrypt/1MiB vs baseline", ratio(rate, decrypt_small, baseline_decrypt_small), decrypt_least);
  target("cbc_decrypt/64MiB vs baseline", ratio(rate, decrypt_large, baseline_decrypt_large), decrypt_least);
  target("cbc_decrypt/sse2/1MiB vs baseline", ratio(rate, sse2_small, baseline_decrypt_small), 3);
  target("cbc_decrypt/sse2/64MiB vs baseline", ratio(rate, sse2_large, baseline_decrypt_large), 3);
  target("cbc_encrypt/1MiB vs tight_chain", ratio(rate, encrypt_small, tight_small), 0.95);
  target("cbc_encrypt/64MiB vs tight_chain", ratio(rate, encrypt_large, tight_large), 0.95);
  target("cbc_encrypt/1MiB vs baseline", ratio(rate, encrypt_small, baseline_encrypt_small), 1);
  target("cbc_encrypt/64MiB vs baseline", ratio(rate, encrypt_large, baseline_encrypt_large), 1);
  char what[80];
  // The module's one-thread decryption; --paired measures it against the
  // kernel in turns, which other work on the machine disturbs less.
  std::snprintf(what, sizeof what, "decrypt_file/256MiB vs %s", cases[kernel].name);
  target(what, ratio(rate, decrypt_file_case, kernel), 0.8);
  target("encrypt_file/256MiB vs tight_chain/64MiB", ratio(rate, encrypt_file_case, tight_large),
         0.9);
  target("rt_crc32/64MiB vs zlib/crc32/64MiB", ratio(rate, crc_case, zlib_crc_case), 3);
  // verify_file serves only qelv, which allows the worker: the target is
  // taken as qelv runs it, the one-thread figure shown beside it.
  std::snprintf(what, sizeof what, "verify_file/worker/256MiB vs %s", cases[kernel].name);
  target(what, ratio(rate, verify_worker_case, kernel), 0.8);
  std::snprintf(what, sizeof what, "verify_file/256MiB (one thread) vs %s", cases[kernel].name);
  figure(what, ratio(rate, verify_file_case, kernel));
  std::snprintf(what, sizeof what, "decrypt_file/worker/256MiB vs %s", cases[kernel].name);
  figure(what, ratio(rate, decrypt_worker_case, kernel));
  target("decrypt_file/256MiB vs baseline",
         ratio(rate, decrypt_file_case, cases[decrypt_file_case].baseline),
         sizeof(void*) == 4 ? 9 : 15);
}
