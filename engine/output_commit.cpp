#include "output_commit.h"

// A temporary file that cannot be removed at the first attempt (a virus
// scanner may hold a new file open for a moment) gets one more.
static void remove_temp(output_file* out) {
  if (!rt_file_remove(out->temp_path)) rt_file_remove(out->temp_path);
}

bool output_begin(output_file* out, const char* target, int64_t length) {
  out->failed = false;
  out->temp_path[0] = '\0';
  out->file = -1;
  if (rt_size_query(target) == -2) return false;  // a folder is never replaced
  out->file = rt_temp_create(target, out->temp_path, RT_PATH_CAPACITY);
  if (out->file < 0) return false;
  if (!rt_file_reserve(out->file, length) || !rt_file_seek(out->file, 0)) {
    output_discard(out);
    return false;
  }
  return true;
}

void output_write(output_file* out, const void* data, int32_t count) {
  if (!out->failed && count > 0 && rt_file_write(out->file, data, count) != count)
    out->failed = true;
}

void output_write_at(output_file* out, int64_t offset, const void* data, int32_t count) {
  if (!out->failed && !rt_file_seek(out->file, offset)) out->failed = true;
  output_write(out, data, count);
}

bool output_commit(output_file* out, const char* target) {
  bool replacing = rt_size_query(target) >= 0;
  bool ready = !out->failed && (!replacing || rt_file_flush(out->file));
  ready = rt_file_close(out->file) && ready;
  out->file = -1;
  if (ready && rt_file_replace(out->temp_path, target)) return true;
  remove_temp(out);
  return false;
}

void output_discard(output_file* out) {
  if (out->file >= 0) rt_file_close(out->file);
  out->file = -1;
  if (out->temp_path[0] != '\0') remove_temp(out);
  out->temp_path[0] = '\0';
}
