// Every fallible runtime call of encrypt_file and decrypt_file made to fail in
// turn, against the test build of the runtime.  Whatever fails, the result is
// an error text, the source keeps its bytes, Output keeps its old bytes (or
// stays absent), no temporary file is left, no file stays open and no block
// is held.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../runtime/runtime.h"
#include "fault_runtime.h"
#include "test_files.h"

namespace {

const char key[] = "tinderbox";

enum output_case { IN_PLACE, OUTPUT_EXISTING, OUTPUT_ABSENT };

typedef const char* (*engine_entry)(const char*, const char*, const char*);

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

// The folder holds the source and, when present, Output: nothing else.
std::vector<std::string> names_after(const run_setup& s, bool output_there) {
  std::vector<std::string> names = {"p", "e"};  // the fixture's own files
  names.push_back(s.source.substr(s.source.find_last_of("/\\") + 1));
  if (output_there && s.output != s.source)
    names.push_back(s.output.substr(s.output.find_last_of("/\\") + 1));
  std::sort(names.begin(), names.end());
  return names;
}

// Runs call with the n-th runtime call failing, for n = 1, 2, ... until a run
// reaches no n-th call; that last run, and those where a tolerated kind of
// call failed, must succeed.  Each n runs twice: the
// second time the first removal after the failure fails as well.  Returns
// how many calls were failed on purpose; kinds_failed gathers one bit per
// kind of call failed.
int fail_each(engine_entry call, const run_setup& s, const std::string& folder,
              const bytes& expected_output, unsigned& kinds_failed, unsigned tolerated = 0) {
  int failed_count = 0;
  for (int n = 1;; n++) {
    for (int removes : {0, 1}) {
      lay_out(s);
      int64_t held = fault_blocks_held();
      fault_arm(n, removes);
      const char* result = call(s.source.c_str(), s.output.c_str(), key);
      fault_kind kind = fault_failed();
      fault_arm(0);
      SCOPED_TRACE("call " + std::to_string(n) + " (" + fault_kind_name(kind) + ") failed, " +
                   std::to_string(removes) + " removal(s) failed after it");
      EXPECT_EQ(rt_open_file_count(), 0);
      EXPECT_EQ(fault_blocks_held(), held);
      if (tolerated & (1u << kind)) kinds_failed |= 1u << kind;
      if (kind == FAULT_NONE || (tolerated & (1u << kind))) {
        EXPECT_STREQ(result, result_ok);
        EXPECT_EQ(read_file(s.output), expected_output);
        EXPECT_EQ(read_file(s.source), s.output == s.source ? expected_output : s.source_bytes);
        EXPECT_EQ(folder_names(folder), names_after(s, true));
        if (kind == FAULT_NONE && removes == 1) return failed_count;
        continue;
      }
      if (removes == 0) failed_count++;
      kinds_failed |= 1u << kind;
      EXPECT_STRNE(result, result_ok);
      if (s.output_present) EXPECT_EQ(read_file(s.output), s.output_bytes);
      else EXPECT_FALSE(file_exists(s.output));
      EXPECT_EQ(read_file(s.source), s.source_bytes);
      EXPECT_EQ(folder_names(folder), names_after(s, s.output_present));
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
  int removes_before = fault_removes_failed();
  int total = 0;
  unsigned kinds = 0;
  for (output_case where : {IN_PLACE, OUTPUT_EXISTING, OUTPUT_ABSENT}) {
    SCOPED_TRACE("output case " + std::to_string(where));
    run_setup s = setup_for(plain, where);
    int count = fail_each(encrypt_then_decrypt, s, folder, plain, kinds);
    EXPECT_GE(count, 10);  // open, length, alloc, create, reserve, seek, write, read, ...
    total += count;
  }
  // Every kind of call the engine makes was reached and failed.
  EXPECT_EQ(kinds, kinds_of({FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_LENGTH, FAULT_SEEK,
                             FAULT_RESERVE, FAULT_CLOSE, FAULT_ALLOC, FAULT_CREATE,
                             FAULT_FLUSH, FAULT_REPLACE}));
  // Clean-ups met a failed removal, and still left nothing behind.
  EXPECT_GT(fault_removes_failed(), removes_before);
  printf("encrypt: %d runtime calls failed on purpose\n", total);
}

TEST_F(faults, decrypt) {
  int removes_before = fault_removes_failed();
  int total = 0;
  unsigned kinds = 0;
  for (output_case where : {IN_PLACE, OUTPUT_EXISTING, OUTPUT_ABSENT}) {
    SCOPED_TRACE("output case " + std::to_string(where));
    run_setup s = setup_for(encrypted, where);
    int count = fail_each(decrypt_file, s, folder, plain, kinds);
    EXPECT_GE(count, 10);
    total += count;
  }
  EXPECT_EQ(kinds, kinds_of({FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_LENGTH, FAULT_SEEK,
                             FAULT_RESERVE, FAULT_CLOSE, FAULT_ALLOC, FAULT_CREATE,
                             FAULT_FLUSH, FAULT_REPLACE}));
  EXPECT_GT(fault_removes_failed(), removes_before);
  printf("decrypt: %d runtime calls failed on purpose\n", total);
}

// decrypt_file as the tool calls it, with the worker allowed.
static const char* decrypt_with_worker(const char* file, const char* output, const char* key) {
  engine_call call = {};
  call.use_worker = true;
  return decrypt_file_in(&call, file, output, key);
}

// A body of three pieces, with the worker allowed: it reads ahead and
// writes while the engine deciphers.
TEST_F(faults, decrypt_in_pieces) {
  const bytes large_plain = pattern_bytes(2 * ENGINE_PIECE_BYTES + 1001, 5);
  write_file(folder + "p", large_plain);
  ASSERT_STREQ(encrypt_file((folder + "p").c_str(), (folder + "e").c_str(), key), result_ok);
  unsigned kinds = 0;
  for (output_case where : {IN_PLACE, OUTPUT_ABSENT}) {
    SCOPED_TRACE("output case " + std::to_string(where));
    // Without the worker or the second buffer the engine does it all itself.
    fail_each(decrypt_with_worker, setup_for(read_file(folder + "e"), where), folder, large_plain,
              kinds, kinds_of({FAULT_WORKER, FAULT_ALLOC}));
  }
  EXPECT_EQ(kinds & kinds_of({FAULT_WORKER, FAULT_READ, FAULT_WRITE}),
            kinds_of({FAULT_WORKER, FAULT_READ, FAULT_WRITE}));
}

}  // namespace

namespace {

// The new content of a file that another program rewrites mid-call.
struct rewrite {
  std::string path;
  bytes content;
  bool done;
};

void rewrite_file(void* arg) {
  auto* r = static_cast<rewrite*>(arg);
  FILE* f = std::fopen(r->path.c_str(), "wb");
  r->done = f != nullptr && std::fwrite(r->content.data(), 1, r->content.size(), f) ==
                                r->content.size();
  if (f != nullptr) r->done = std::fclose(f) == 0 && r->done;
}

// On Windows a file the engine holds open admits no other writer.
#ifdef _WIN32
const bool writers_shut_out = true;
#else
const bool writers_shut_out = false;
#endif

// What a look at the folder in the middle of a call saw.
struct privacy_look {
  std::string folder;
  int temporary_files;   // ~qelv-*.tmp seen
  std::string readable;  // the files another account may read, with their permissions
};

void look_at_folder(void* arg) {
  auto* look = static_cast<privacy_look*>(arg);
  for (const std::string& name : folder_names(look->folder)) {
    look->temporary_files += name.rfind("~qelv-", 0) == 0;
    if (others_may_read(look->folder + name))
      look->readable += name + " " + permissions_text(look->folder + name) + "; ";
  }
}

}  // namespace

// Plain data is never readable by others: decrypting in place a file that
// only its owner may read, the folder holds no file that another account
// may read, neither once the temporary file is written nor just before it
// takes Output's place; the replaced Output keeps the old file's
// permissions, and a new Output gets those of any new file in its folder.
TEST_F(faults, PlainDataIsNeverReadableByOthers) {
#ifndef _WIN32
  mode_t old_mask = umask(027);  // so that a new file's mode is not the usual one
#endif
  std::string box = make_temp_folder(), sealed = box + "private.dat";
  for (fault_kind when : {FAULT_WRITE, FAULT_REPLACE}) {
    SCOPED_TRACE(fault_kind_name(when));
    write_file(sealed, encrypted);
    make_private(sealed);
    std::string private_permissions = permissions_text(sealed);
    // Wine reports a file's permissions from its mode bits, which its
    // security calls leave as they are: there the source cannot be made
    // private, and may be the one file that others may read.
    bool source_private = !others_may_read(sealed);
#ifndef _WIN32
    ASSERT_TRUE(source_private);
#endif
    privacy_look look = {box, 0, ""};
    fault_arm(0);
    fault_before_first(when, look_at_folder, &look);
    EXPECT_STREQ(decrypt_file(sealed.c_str(), sealed.c_str(), key), result_ok);
    EXPECT_EQ(look.temporary_files, 1);
    EXPECT_EQ(look.readable, source_private ? "" : "private.dat " + private_permissions + "; ");
    EXPECT_EQ(read_file(sealed), plain);
    EXPECT_EQ(permissions_text(sealed), private_permissions);
  }
  write_file(sealed, encrypted);
  fault_arm(0);
  EXPECT_STREQ(decrypt_file(sealed.c_str(), (box + "new").c_str(), key), result_ok);
  write_file(box + "made-plainly", plain);
  EXPECT_EQ(permissions_text(box + "new"), permissions_text(box + "made-plainly"));
  remove_tree(box);
#ifndef _WIN32
  umask(old_mask);
#endif
}

// Another program rewrites File or Output between the size query and the
// open, or between the open and the read: the call works on one consistent
// view of the file or fails with an error text, and the source is never lost.
// The record a failed call keeps names the step that the failing runtime
// call served, for each kind of call failed on purpose, and the system's
// code that call left.
TEST_F(faults, TheFailureRecordNamesTheFailingStep) {
  const std::map<fault_kind, engine_step> step_of = {
      {FAULT_OPEN, STEP_OPEN},       {FAULT_READ, STEP_READ},     {FAULT_ALLOC, STEP_MEMORY},
      {FAULT_CREATE, STEP_CREATE},   {FAULT_RESERVE, STEP_RESERVE}, {FAULT_WRITE, STEP_WRITE},
      {FAULT_SEEK, STEP_WRITE},      {FAULT_FLUSH, STEP_FLUSH},   {FAULT_REPLACE, STEP_REPLACE}};
  std::string source = folder + "p", out = folder + "out";
  write_file(source, plain);
  std::set<fault_kind> seen;
  for (int n = 1; n < 200; n++) {
    write_file(out, pattern_bytes(30, 13));  // an existing Output, so that it is flushed
    engine_call call = {};
    fault_arm(n);
    const char* result = encrypt_file_in(&call, source.c_str(), out.c_str(), key);
    fault_kind kind = fault_failed();
    fault_arm(0);
    if (kind == FAULT_NONE) break;
    SCOPED_TRACE(std::string("call ") + std::to_string(n) + " (" + fault_kind_name(kind) + ")");
    EXPECT_STRNE(result, result_ok);
    auto expected = step_of.find(kind);
    if (expected == step_of.end()) continue;  // a close or a stamp serves more than one step
    EXPECT_EQ(call.failure.step, expected->second);
    // Memory has no system reason; every other failure keeps the one the
    // failing call left, not one a later call made.
    EXPECT_EQ(call.failure.code, kind == FAULT_ALLOC ? 0 : fault_code());
    seen.insert(kind);
  }
  EXPECT_EQ(seen.size(), step_of.size()) << "not every kind of call was failed";
  engine_call call = {};
  EXPECT_STREQ(encrypt_file_in(&call, source.c_str(), (folder + "none/out").c_str(), key),
               result_write_error);
  EXPECT_EQ(call.failure.step, STEP_CREATE);
  EXPECT_NE(call.failure.code, 0) << "the system's code for a missing folder was not kept";
}

// A call that keeps an existing Output (the tool's, without --force) and
// another process that makes Output while the call runs: the commit's
// rename refuses to replace it, the other's file stays whole, the call says
// so in its record, and its temporary file goes.
TEST_F(faults, KeptOutputMadeMeanwhileIsNotReplaced) {
  std::string source = folder + "p", out = folder + "made-meanwhile";
  write_file(source, plain);
  bytes theirs = pattern_bytes(77, 12);
  rewrite other_run = {out, theirs, false};
  fault_arm(0);
  fault_before_first(FAULT_REPLACE, rewrite_file, &other_run);
  engine_call call = {};
  call.keep_existing = true;
  EXPECT_STREQ(encrypt_file_in(&call, source.c_str(), out.c_str(), key), result_write_error);
  EXPECT_TRUE(other_run.done);
  EXPECT_EQ(call.failure.step, STEP_EXISTS);
  EXPECT_EQ(read_file(out), theirs);
  for (const std::string& name : folder_names(folder)) EXPECT_NE(name.substr(0, 6), "~qelv-");
  // Without keep_existing, as the module's scripts expect, Output is replaced.
  fault_arm(0);
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), key), result_ok);
  EXPECT_STREQ(decrypt_file(out.c_str(), (folder + "back").c_str(), key), result_ok);
  EXPECT_EQ(read_file(folder + "back"), plain);
}

TEST_F(faults, FileChangesSizeBetweenQueryAndRead) {
  std::string source = folder + "moving", out = folder + "out";
  bytes longer = pattern_bytes(5000, 11);

  // Grown before the open: the length taken after the open is the one used.
  write_file(source, plain);
  rewrite grown = {source, longer, false};
  fault_arm(0);
  fault_before_first(FAULT_OPEN, rewrite_file, &grown);
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), key), result_ok);
  EXPECT_TRUE(grown.done);
  fault_arm(0);
  EXPECT_STREQ(decrypt_file(out.c_str(), (folder + "back").c_str(), key), result_ok);
  EXPECT_EQ(read_file(folder + "back"), longer);

  // Shrunk to one byte before the open: refused, as a one-byte file is.
  write_file(source, plain);
  std::remove(out.c_str());
  rewrite one_byte = {source, bytes(1, 'x'), false};
  fault_before_first(FAULT_OPEN, rewrite_file, &one_byte);
  EXPECT_STREQ(encrypt_file(source.c_str(), out.c_str(), key), result_refused);
  EXPECT_FALSE(file_exists(out));

  // Shrunk after the open, before the read: fewer bytes than the length taken.
  write_file(source, plain);
  rewrite cut = {source, bytes(plain.begin(), plain.begin() + 500), false};
  fault_arm(0);
  fault_before_first(FAULT_READ, rewrite_file, &cut);
  const char* result = encrypt_file(source.c_str(), out.c_str(), key);
  EXPECT_EQ(cut.done, !writers_shut_out);
  if (cut.done) {
    EXPECT_STREQ(result, result_read_error);
    EXPECT_FALSE(file_exists(out));
  } else {
    EXPECT_STREQ(result, result_ok);
    EXPECT_EQ(read_file(source), plain);
  }

  // Rewritten with other bytes of the same length after the open, before
  // the read: what was read is neither the old content nor the new, so
  // nothing is written and the call says the file could not be read.
  write_file(source, plain);
  write_file(out, pattern_bytes(40, 5));
  bytes other = plain;
  for (uint8_t& b : other) b ^= 0x5A;
  rewrite same_length = {source, other, false};
  fault_arm(0);
  fault_before_first(FAULT_READ, rewrite_file, &same_length);
  result = encrypt_file(source.c_str(), out.c_str(), key);
  EXPECT_EQ(same_length.done, !writers_shut_out);
  EXPECT_STREQ(result, same_length.done ? result_read_error : result_ok);
  if (same_length.done) {
    EXPECT_EQ(read_file(out), pattern_bytes(40, 5));
  }

  // An encrypted file cut short before the open: the CRC catches it and an
  // existing Output keeps its bytes.
  bytes old_output = pattern_bytes(40, 5);
  write_file(out, old_output);
  write_file(source, encrypted);
  rewrite sealed_cut = {source, bytes(encrypted.begin(), encrypted.begin() + 600), false};
  fault_arm(0);
  fault_before_first(FAULT_OPEN, rewrite_file, &sealed_cut);
  EXPECT_STREQ(decrypt_file(source.c_str(), out.c_str(), key), result_crc_failure);
  EXPECT_EQ(read_file(out), old_output);

  // Bytes appended to an encrypted file after the open are not read.
  bytes padded = encrypted;
  padded.resize(padded.size() + 300, 0xAB);
  write_file(source, encrypted);
  rewrite sealed_grown = {source, padded, false};
  fault_arm(0);
  fault_before_first(FAULT_READ, rewrite_file, &sealed_grown);
  EXPECT_STREQ(decrypt_file(source.c_str(), out.c_str(), key), result_ok);
  EXPECT_EQ(sealed_grown.done, !writers_shut_out);
  EXPECT_EQ(read_file(out), plain);

  // Output rewritten by another program while the call runs, which nothing
  // stops since Output is not held open: replaced whole by the new content.
  bytes long_output = pattern_bytes(9000, 6);
  write_file(out, old_output);
  write_file(source, encrypted);
  rewrite output_grown = {out, long_output, false};
  fault_arm(0);
  fault_before_first(FAULT_RESERVE, rewrite_file, &output_grown);
  EXPECT_STREQ(decrypt_file(source.c_str(), out.c_str(), key), result_ok);
  EXPECT_TRUE(output_grown.done);
  EXPECT_EQ(read_file(out), plain);
  fault_arm(0);
  EXPECT_EQ(rt_open_file_count(), 0);
}
