// Every fallible runtime call of encrypt_file and decrypt_file made to fail in
// turn, against the test build of the runtime.  Whatever fails, the result is
// an error text, the source keeps its bytes, no file stays open and no block
// is held; Output keeps its old bytes (or stays absent) unless the failure
// came after its room was reserved.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "fault_runtime.h"
#include "test_files.h"

namespace {

const char key[] = "tinderbox";

enum output_case { IN_PLACE, OUTPUT_EXISTING, OUTPUT_ABSENT };

typedef const char* (*engine_call)(const char*, const char*, const char*);

struct run_setup {
  std::string source, output;
  bytes source_bytes, output_bytes;  // output_bytes unused when absent
  bool output_present;
};

void lay_out(const run_setup& s) {
  write_file(s.source, s.source_bytes);
  if (s.output != s.source) {
    std::remove(s.output.c_str());
    if (s.output_present) write_file(s.output, s.output_bytes);
  }
}

// Runs call with the n-th runtime call failing, for n = 1, 2, ... until a run
// reaches no n-th call; that last run must succeed.  Returns how many calls
// were failed on purpose.
// kinds_failed gathers one bit per kind of call failed.
int fail_each(engine_call call, const run_setup& s, const bytes& expected_output,
              unsigned& kinds_failed) {
  int failed_count = 0;
  for (int n = 1;; n++) {
    lay_out(s);
    int64_t held = fault_blocks_held();
    fault_arm(n);
    const char* result = call(s.source.c_str(), s.output.c_str(), key);
    fault_kind kind = fault_failed();
    bool after_reserve = fault_after_reserve();
    fault_arm(0);
    SCOPED_TRACE("call " + std::to_string(n) + " (" + fault_kind_name(kind) + ") failed");
    EXPECT_EQ(rt_open_file_count(), 0);
    EXPECT_EQ(fault_blocks_held(), held);
    if (kind == FAULT_NONE) {
      EXPECT_STREQ(result, result_ok);
      EXPECT_EQ(read_file(s.output), expected_output);
      if (s.output != s.source) {
        EXPECT_EQ(read_file(s.source), s.source_bytes);
      }
      return failed_count;
    }
    failed_count++;
    kinds_failed |= 1u << kind;
    EXPECT_STRNE(result, result_ok);
    // A write, cut or close into reserved room may leave Output part written;
    // the error text says so.
    bool may_damage = after_reserve && (kind == FAULT_WRITE || kind == FAULT_CUT ||
                                        kind == FAULT_CLOSE);
    if (may_damage) {
      EXPECT_STREQ(result, result_write_error);
    } else if (after_reserve && kind == FAULT_SEEK && s.output_present) {
      // Nothing written, but the room stays: the old bytes lead Output.
      EXPECT_STREQ(result, result_write_error);
      bytes now = read_file(s.output);
      EXPECT_EQ(bytes(now.begin(), now.begin() + std::min(now.size(), s.output_bytes.size())),
                s.output_bytes);
    } else {
      if (s.output_present) EXPECT_EQ(read_file(s.output), s.output_bytes);
      else EXPECT_FALSE(file_exists(s.output));
    }
    if (s.output != s.source) {
      EXPECT_EQ(read_file(s.source), s.source_bytes);
    }
    if (n > 1000) {
      ADD_FAILURE() << "calls never run out";
      return failed_count;
    }
  }
}

unsigned kinds_of(std::initializer_list<fault_kind> kinds) {
  unsigned bits = 0;
  for (fault_kind k : kinds) bits |= 1u << k;
  return bits;
}

class faults : public testing::Test {
 protected:
  void SetUp() override {
    folder = make_temp_folder();
    plain = pattern_bytes(1001, 7);
    // A valid encrypted file, made with no fault armed.
    write_file(folder + "p", plain);
    ASSERT_STREQ(encrypt_file((folder + "p").c_str(), (folder + "e").c_str(), key), result_ok);
    encrypted = read_file(folder + "e");
  }
  void TearDown() override { remove_tree(folder); }

  run_setup setup_for(const bytes& source_bytes, output_case where) {
    run_setup s;
    s.source = folder + "source";
    s.output = where == IN_PLACE ? s.source : folder + "output";
    s.source_bytes = source_bytes;
    s.output_present = where != OUTPUT_ABSENT;
    s.output_bytes = where == IN_PLACE ? source_bytes : pattern_bytes(40, 3);
    return s;
  }

  std::string folder;
  bytes plain, encrypted;
};

// The encrypted output differs from run to run (the initial value is drawn),
// so it is checked by decrypting it.
const char* encrypt_then_decrypt(const char* file, const char* output, const char* k) {
  const char* result = encrypt_file(file, output, k);
  if (strcmp(result, result_ok) != 0 || fault_failed() != FAULT_NONE) return result;
  fault_arm(0);
  return decrypt_file(output, output, k);
}

TEST_F(faults, encrypt) {
  int total = 0;
  unsigned kinds = 0;
  for (output_case where : {IN_PLACE, OUTPUT_EXISTING, OUTPUT_ABSENT}) {
    SCOPED_TRACE("output case " + std::to_string(where));
    run_setup s = setup_for(plain, where);
    int count = fail_each(encrypt_then_decrypt, s, plain, kinds);
    EXPECT_GE(count, 6);  // open, length, alloc, read, close, open, reserve, ...
    total += count;
  }
  // Every kind of call the engine makes was reached and failed.
  EXPECT_EQ(kinds, kinds_of({FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_LENGTH, FAULT_SEEK,
                             FAULT_RESERVE, FAULT_CUT, FAULT_CLOSE, FAULT_ALLOC}));
  printf("encrypt: %d runtime calls failed on purpose\n", total);
}

TEST_F(faults, decrypt) {
  int total = 0;
  unsigned kinds = 0;
  for (output_case where : {IN_PLACE, OUTPUT_EXISTING, OUTPUT_ABSENT}) {
    SCOPED_TRACE("output case " + std::to_string(where));
    run_setup s = setup_for(encrypted, where);
    int count = fail_each(decrypt_file, s, plain, kinds);
    EXPECT_GE(count, 6);
    total += count;
  }
  // Decryption takes the length from the header, never from the file.
  EXPECT_EQ(kinds, kinds_of({FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_SEEK, FAULT_RESERVE,
                             FAULT_CUT, FAULT_CLOSE, FAULT_ALLOC}));
  printf("decrypt: %d runtime calls failed on purpose\n", total);
}

}  // namespace
