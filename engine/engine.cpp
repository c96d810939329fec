// The result texts, and what encrypt.cpp and decrypt.cpp share (pieces.h):
// the pieces a file is worked in, the key rule, the progress count, the
// cancel flag and the list of temporary files being written.  Each call
// works through a file a piece at a time, so that memory does not grow with
// the file, and writes Output only through output_commit.h, which replaces
// it whole or not at all.

#include "engine.h"

#include <cstring>

#include "pieces.h"

const char result_ok[] = "OK";
const char result_refused[] = "Error, no valid key, filename or file doesn't exist!";
const char result_crc_failure[] = "CRC Failure, data may be corrupt";
const char result_read_error[] = "Error, could not read the file!";
const char result_write_error[] = "Error, could not write the output file!";
const char result_too_large[] = "Error, the file is too large!";
const char result_not_encrypted[] = "Error, not a valid encrypted file!";
const char engine_cancelled[] = "Error, cancelled";

// True when the text holds a character other than the space (code 32), that
// is, when trimming spaces from both ends leaves something.
bool has_non_space(const char* text) {
  for (; *text != '\0'; text++)
    if (*text != ' ') return true;
  return false;
}

bool engine_key_usable(const char* key) { return has_non_space(key); }

// One atomic addition per piece: the tool's progress line reads the count on
// another thread, and an addition needs no lock.
static uint32_t bytes_worked;

void count_worked(int32_t length) {
  __atomic_fetch_add(&bytes_worked, static_cast<uint32_t>(length), __ATOMIC_RELAXED);
}

uint32_t engine_bytes_worked() { return __atomic_load_n(&bytes_worked, __ATOMIC_RELAXED); }

// Set by the tool's interrupt handling from another thread; read once per
// piece.
static int cancel_requested;

void engine_cancel(bool cancel) {
  __atomic_store_n(&cancel_requested, cancel ? 1 : 0, __ATOMIC_RELAXED);
}

bool cancelled() { return __atomic_load_n(&cancel_requested, __ATOMIC_RELAXED) != 0; }

// The temporary files being written, so that the tool can remove what an
// interrupt leaves: a slot is claimed with an atomic exchange (0 free, 1
// being filled, 2 holding a path) by the thread whose call owns it.
static char temp_paths[ENGINE_TEMP_SLOTS][RT_PATH_CAPACITY];
static int temp_state[ENGINE_TEMP_SLOTS];

static int temp_note(const output_file& out) {
  for (int slot = 0; slot < ENGINE_TEMP_SLOTS; slot++) {
    int expected = 0;
    if (!__atomic_compare_exchange_n(&temp_state[slot], &expected, 1, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED))
      continue;
    memcpy(temp_paths[slot], out.temp_path, RT_PATH_CAPACITY);
    __atomic_store_n(&temp_state[slot], 2, __ATOMIC_RELEASE);
    return slot;
  }
  return -1;  // more calls than slots: only the tool's interrupt would miss it
}

static void temp_forget(int slot) {
  if (slot >= 0) __atomic_store_n(&temp_state[slot], 0, __ATOMIC_RELEASE);
}

bool engine_temp_file(int slot, char* path, int capacity) {
  if (slot < 0 || slot >= ENGINE_TEMP_SLOTS || capacity < 1 ||
      __atomic_load_n(&temp_state[slot], __ATOMIC_ACQUIRE) != 2)
    return false;
  int n = 0;
  while (n < capacity - 1 && n < RT_PATH_CAPACITY - 1 && temp_paths[slot][n] != '\0') {
    path[n] = temp_paths[slot][n];
    n++;
  }
  path[n] = '\0';
  return n > 0;
}

bool noted_begin(noted_output* out, const char* target, int64_t length) {
  out->slot = -1;
  if (!output_begin(&out->file, target, length)) return false;
  out->slot = temp_note(out->file);
  return true;
}

bool noted_commit(noted_output* out, const char* target) {
  bool committed = output_commit(&out->file, target);
  temp_forget(out->slot);
  return committed;
}

void noted_discard(noted_output* out) {
  output_discard(&out->file);
  temp_forget(out->slot);
}


void* piece_alloc() { return rt_block_alloc(PIECE_BYTES + LINE_BYTES); }

uint8_t* piece_in(void* block, int64_t file_offset) {
  uint8_t* start = static_cast<uint8_t*>(block);
  uintptr_t shift = (static_cast<uintptr_t>(file_offset) - reinterpret_cast<uintptr_t>(start)) %
                    LINE_BYTES;
  return start + shift;
}


int32_t piece_length(uint64_t left) {
  return left < PIECE_BYTES ? static_cast<int32_t>(left) : PIECE_BYTES;
}

