// What the engine's own files share: the pieces a file is worked in, the
// key rule, and the context's progress count and cancel flag.  Nothing
// outside engine/ includes this.
#pragma once

#include <cstdint>

#include "engine.h"
#include "../runtime/runtime.h"
#include "engine_call.h"

// The working set of a call: one piece (two with the worker).  1 MiB
// measured best of 256 KiB to 2 MiB in both builds once pieces sit at the
// data's offset within a cache line: few enough system calls (under Wine
// each costs more), still in the processor's caches between the read and
// the CRC.
const int32_t PIECE_BYTES = ENGINE_PIECE_BYTES;
static_assert(PIECE_BYTES % 8 == 0, "pieces hold whole blocks");

// The piece's buffer has room to put the piece at the same place within a
// cache line as the file data read into it.  The system's copy out of the
// file cache runs at a third of its speed on some processors (measured on
// the development machine: 3 GB/s against 12) when the copy's target lies
// a few bytes after its source within a line, and the body starts
// FILE_HEADER_SIZE bytes into an encrypted file.
enum { LINE_BYTES = 64 };

// A block with room for one piece of data_length bytes at the most (a
// whole piece for a longer one, whole blocks for a shorter one) placed as
// piece_in places it.  A small file's call takes a small block: zeroing a
// whole piece for it would cost more than its work.
void* piece_alloc(uint64_t data_length);
// The room a piece of data_length bytes at the most needs: whole blocks.
int32_t piece_room(uint64_t data_length);
// The piece within block for reads that start at file_offset (and go on in
// whole pieces, which keep the same place within a line).
uint8_t* piece_in(void* block, int64_t file_offset);
// The length of the next piece when left bytes are left.
int32_t piece_length(uint64_t left);

// True when the text holds a character other than the space (code 32), that
// is, when trimming spaces from both ends leaves something.
bool has_non_space(const char* text);

// Adds a piece's length to the context's count.
void count_worked(engine_call* call, int32_t length);
// Whether the context's flag asks the call to stop; read once per piece.
bool cancelled(const engine_call* call);

// Whether an open file is still as stamp found it: a source that another
// process wrote meanwhile (which POSIX does not deny) would make an output
// that is neither the old content nor the new.
bool file_unchanged(int file, const rt_stamp& stamp);

// Notes in the context where the call failed; returns result.  The code is
// the system's, read by the caller at once after the failing call.
const char* call_failed(engine_call* call, engine_step step, int code, const char* result);
