// What encrypt.cpp and decrypt.cpp share (pieces.h): the pieces a file is
// worked in, the key rule, and the context's progress count and cancel
// flag.  Each call works through a file a piece at a time, so that memory
// does not grow with the file, and writes Output only through
// output_commit.h, which replaces it whole or not at all.

#include "pieces.h"

#include "file_format.h"

// What a call stopped by its context's flag returns (engine_call.h).
const char engine_cancelled[] = "Error, cancelled";

// True when the text holds a character other than the space (code 32), that
// is, when trimming spaces from both ends leaves something.
bool has_non_space(const char* text) {
  for (; *text != '\0'; text++)
    if (*text != ' ') return true;
  return false;
}

bool engine_key_usable(const char* key) { return has_non_space(key); }

// The count is read by the tool's progress line on another thread, and an
// atomic addition needs no lock.
void count_worked(engine_call* call, int32_t length) {
  if (call->worked != nullptr)
    __atomic_fetch_add(call->worked, static_cast<uint32_t>(length), __ATOMIC_RELAXED);
}

// The flag is set by the tool's interrupt handling on another thread.
bool cancelled(const engine_call* call) {
  return call->cancel != nullptr && __atomic_load_n(call->cancel, __ATOMIC_RELAXED) != 0;
}

bool file_unchanged(int file, const rt_stamp& stamp) {
  rt_stamp now;
  return rt_file_stamp(file, &now) && now.length == stamp.length &&
         now.modified == stamp.modified && now.changed == stamp.changed;
}

const char* call_failed(engine_call* call, engine_step step, int code, const char* result) {
  call->failure = {step, code};
  return result;
}

int32_t piece_room(uint64_t data_length) {
  return static_cast<int32_t>(file_padded_length(piece_length(data_length)));
}

void* piece_alloc(uint64_t data_length) { return rt_block_alloc(piece_room(data_length) + LINE_BYTES); }

uint8_t* piece_in(void* block, int64_t file_offset) {
  uint8_t* start = static_cast<uint8_t*>(block);
  uintptr_t shift = (static_cast<uintptr_t>(file_offset) - reinterpret_cast<uintptr_t>(start)) %
                    LINE_BYTES;
  return start + shift;
}

int32_t piece_length(uint64_t left) {
  return left < PIECE_BYTES ? static_cast<int32_t>(left) : PIECE_BYTES;
}

