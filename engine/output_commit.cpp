#include "output_commit.h"

#include "engine_call.h"

// Where the content stands: the temporary file's path is valid while the
// state is 1, published with release order for the tool's other thread.
static void temp_published(output_file* out, int state) {
  __atomic_store_n(&out->call->temp_state, state, __ATOMIC_RELEASE);
}

// Notes the step that failed with the system's code, read at once.
static void fail(output_file* out, engine_step step) {
  int code = rt_last_error();
  out->failed = true;
  if (out->call->failure.step == STEP_NONE) out->call->failure = {step, code};
}

// A temporary file that cannot be removed at the first attempt (a virus
// scanner may hold a new file open for a moment) gets one more.
static void remove_temp(output_file* out) {
  temp_published(out, 0);
  if (!rt_file_remove(out->call->temp_path)) rt_file_remove(out->call->temp_path);
}

bool output_begin(output_file* out, engine_call* call, const char* target, int64_t length) {
  *out = {call, -1, false};
  call->temp_path[0] = '\0';
  const int64_t there = rt_size_query(target);
  if (there == -2) {  // a folder is never replaced
    call->failure = {STEP_FOLDER, 0};
    return false;
  }
  if (call->keep_existing && there >= 0) {
    call->failure = {STEP_EXISTS, 0};
    return false;
  }
  out->file = rt_temp_create(target, call->temp_path, RT_PATH_CAPACITY, !call->replace_link);
  if (out->file < 0) {
    fail(out, STEP_CREATE);
    return false;
  }
  temp_published(out, 1);
  if (!rt_file_reserve(out->file, length)) fail(out, STEP_RESERVE);
  else if (!rt_file_seek(out->file, 0)) fail(out, STEP_WRITE);
  if (!out->failed) return true;
  output_discard(out);
  return false;
}

void output_write(output_file* out, const void* data, int32_t count) {
  if (!out->failed && count > 0 && rt_file_write(out->file, data, count) != count)
    fail(out, STEP_WRITE);
}

void output_write_at(output_file* out, int64_t offset, const void* data, int32_t count) {
  if (!out->failed && !rt_file_seek(out->file, offset)) fail(out, STEP_WRITE);
  output_write(out, data, count);
}

bool output_commit(output_file* out, const char* target) {
  bool replacing = rt_size_query(target) >= 0;
  if (!out->failed && replacing && !rt_file_flush(out->file)) fail(out, STEP_FLUSH);
  if (!rt_file_close(out->file)) fail(out, STEP_CLOSE);
  out->file = -1;
  if (!out->failed && rt_file_replace(out->call->temp_path, target, out->call->keep_existing,
                                      !out->call->replace_link)) {
    temp_published(out, 0);
    return true;
  }
  if (!out->failed) fail(out, out->call->keep_existing && rt_size_query(target) >= 0 ? STEP_EXISTS
                                                                                     : STEP_REPLACE);
  remove_temp(out);
  return false;
}

void output_discard(output_file* out) {
  if (out->file >= 0) rt_file_close(out->file);
  out->file = -1;
  if (out->call->temp_path[0] != '\0') remove_temp(out);
  out->call->temp_path[0] = '\0';
}
