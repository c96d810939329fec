// The runtime with faults on demand.  The platform runtime is compiled a
// second time with its fallible functions renamed real_rt_*; the functions
// here take their public names, count each call and either fail the chosen
// one or forward it.  Nothing of this reaches the shipped runtime.

#include "fault_runtime.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include "../runtime/runtime.h"

void* real_rt_block_alloc(int64_t size);
void* real_rt_block_grow(void* block, int64_t new_size);
void real_rt_block_free(void* block);
int real_rt_file_open(const char* path);
int32_t real_rt_file_read(int file, void* buffer, int32_t count);
int32_t real_rt_file_write(int file, const void* buffer, int32_t count);
int64_t real_rt_file_length(int file);
bool real_rt_file_stamp(int file, rt_stamp* stamp);
bool real_rt_file_seek(int file, int64_t offset);
bool real_rt_file_reserve(int file, int64_t length);
bool real_rt_file_close(int file);
bool real_rt_file_flush(int file);
bool real_rt_file_remove(const char* path);
int real_rt_temp_create(const char* target, char* temp_path, int temp_path_capacity,
                        bool follow_link);
bool real_rt_file_replace(const char* temp_path, const char* target, bool keep_existing,
                          bool follow_link);
rt_worker* real_rt_worker_start();

static int fail_at = 0;
static int calls = 0;
static fault_kind failed = FAULT_NONE;
static int64_t blocks_held = 0;
static fault_kind action_kind = FAULT_NONE;
static void (*action)(void*) = nullptr;
static void* action_arg = nullptr;

static int removes_to_fail = 0;
static int removes_failed = 0;

int fault_removes_failed() { return removes_failed; }

void fault_arm(int n, int removes_too) {
  fail_at = n;
  removes_to_fail = removes_too;
  calls = 0;
  failed = FAULT_NONE;
  action_kind = FAULT_NONE;
}

void fault_before_first(fault_kind kind, void (*fn)(void*), void* arg) {
  action_kind = kind;
  action = fn;
  action_arg = arg;
}

int fault_calls() { return calls; }
fault_kind fault_failed() { return failed; }
int64_t fault_blocks_held() { return blocks_held; }

const char* fault_kind_name(fault_kind kind) {
  static const char* const names[] = {"none",  "open",  "read",   "write",   "length",
                                      "seek",  "reserve", "close",   "alloc",
                                      "create", "flush", "replace", "worker"};
  return names[kind];
}

int fault_code() {
#ifdef _WIN32
  return ERROR_IO_DEVICE;
#else
  return EIO;
#endif
}

// Counts one call; true when this one is to fail, which then leaves
// fault_code as the system's reason, as a failing system call would.
static bool fails(fault_kind kind) {
  if (kind == action_kind) {
    action_kind = FAULT_NONE;
    action(action_arg);
  }
  if (__atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST) != fail_at) return false;
  failed = kind;
#ifdef _WIN32
  SetLastError(static_cast<DWORD>(fault_code()));
#else
  errno = fault_code();
#endif
  return true;
}

void* rt_block_alloc(int64_t size) {
  if (fails(FAULT_ALLOC)) return nullptr;
  void* block = real_rt_block_alloc(size);
  if (block != nullptr) blocks_held++;
  return block;
}

void* rt_block_grow(void* block, int64_t new_size) {
  if (fails(FAULT_ALLOC)) return nullptr;
  void* grown = real_rt_block_grow(block, new_size);
  if (block == nullptr && grown != nullptr) blocks_held++;
  return grown;
}

void rt_block_free(void* block) {
  if (block != nullptr) blocks_held--;
  real_rt_block_free(block);
}

int rt_file_open(const char* path) { return fails(FAULT_OPEN) ? -1 : real_rt_file_open(path); }

int32_t rt_file_read(int file, void* buffer, int32_t count) {
  return fails(FAULT_READ) ? -1 : real_rt_file_read(file, buffer, count);
}

int32_t rt_file_write(int file, const void* buffer, int32_t count) {
  return fails(FAULT_WRITE) ? -1 : real_rt_file_write(file, buffer, count);
}

int64_t rt_file_length(int file) {
  return fails(FAULT_LENGTH) ? -1 : real_rt_file_length(file);
}

// A file's stamp is its length with its times: failed as a length is.
bool rt_file_stamp(int file, rt_stamp* stamp) {
  return !fails(FAULT_LENGTH) && real_rt_file_stamp(file, stamp);
}

bool rt_file_seek(int file, int64_t offset) {
  return !fails(FAULT_SEEK) && real_rt_file_seek(file, offset);
}

bool rt_file_reserve(int file, int64_t length) {
  return !fails(FAULT_RESERVE) && real_rt_file_reserve(file, length);
}

// A close that reports an error still gives the file up, as the platform's
// own close does.
bool rt_file_close(int file) {
  bool fail = fails(FAULT_CLOSE);
  bool closed = real_rt_file_close(file);
  return closed && !fail;
}

bool rt_file_flush(int file) { return !fails(FAULT_FLUSH) && real_rt_file_flush(file); }

// A removal after the chosen failure is the clean-up of that failure; it can
// fail too, on request.
bool rt_file_remove(const char* path) {
  if (failed != FAULT_NONE && removes_to_fail > 0) {
    removes_to_fail--;
    removes_failed++;
    return false;
  }
  return real_rt_file_remove(path);
}

int rt_temp_create(const char* target, char* temp_path, int temp_path_capacity,
                   bool follow_link) {
  if (fails(FAULT_CREATE)) {
    if (temp_path_capacity > 0) temp_path[0] = '\0';
    return -1;
  }
  return real_rt_temp_create(target, temp_path, temp_path_capacity, follow_link);
}

bool rt_file_replace(const char* temp_path, const char* target, bool keep_existing,
                     bool follow_link) {
  return !fails(FAULT_REPLACE) &&
         real_rt_file_replace(temp_path, target, keep_existing, follow_link);
}

rt_worker* rt_worker_start() { return fails(FAULT_WORKER) ? nullptr : real_rt_worker_start(); }
