// The one place where a caller's Output is written: its new content goes to
// a temporary file beside it, which then takes Output's place in one step,
// so that Output holds either its old bytes or the whole new content, never
// a mixture, whatever fails and whenever the process dies.
//
//   what fails, or where the process dies   Output after       temporary file
//   ----------------------------------------------------------------------------
//   making the temporary file               as it was          none
//   reserving room, a write or a seek       as it was          removed
//   flushing or closing it                  as it was          removed
//   the replace step (one rename)           as it was          removed
//   removing the temporary file             as it was          tried twice, then left
//   process killed before the replace       as it was          left: ~qelv-*.tmp
//   process killed after the replace        the new content    none
//
// The caller writes the content in order (output_write), may go back to
// fill in a field it learnt late (output_write_at), and ends with exactly
// one of output_commit and output_discard.
#pragma once

#include <cstdint>

#include "../runtime/runtime.h"

struct engine_call;

// The temporary file's path is kept in the call's context, where the tool
// finds it while the call runs.
struct output_file {
  engine_call* call;
  int file;     // the open temporary file, -1 once closed
  bool failed;  // a write failed: the content can no longer be committed
};

// Makes the temporary file for target with room for length bytes.  False,
// with nothing left behind and the failure noted in the call, when target
// is a folder or the file cannot be made or given its room (a full disk is
// found here, before any work).
bool output_begin(output_file* out, engine_call* call, const char* target, int64_t length);

// Appends count bytes.  A failure is noted and later writes do nothing.
void output_write(output_file* out, const void* data, int32_t count);

// Writes count bytes at offset and leaves the position there.
void output_write_at(output_file* out, int64_t offset, const void* data, int32_t count);

// Puts the content in target's place.  Before an existing file is replaced,
// the new content is flushed to the disk, so that a power failure cannot
// lose the old bytes either.  With the call's keep_existing, a target that
// exists (or comes to exist meanwhile) is kept and the call fails with
// STEP_EXISTS.  False, with the failure noted, when target is as it was.
bool output_commit(output_file* out, const char* target);

// Closes and removes the temporary file; target is as it was.
void output_discard(output_file* out);
