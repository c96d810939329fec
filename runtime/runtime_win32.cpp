// Runtime services on Windows, through the ANSI Win32 API.

#include "runtime.h"
#include "runtime_platform.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

static HANDLE private_heap;

void rt_platform_start() {
  if (private_heap == nullptr) private_heap = HeapCreate(0, 0, 0);
}

void rt_platform_stop() {
  if (private_heap != nullptr) HeapDestroy(private_heap);
  private_heap = nullptr;
}

void* rt_platform_alloc_zeroed(size_t bytes) {
  return private_heap != nullptr ? HeapAlloc(private_heap, HEAP_ZERO_MEMORY, bytes) : nullptr;
}

void* rt_platform_resize(void* area, size_t bytes) {
  return private_heap != nullptr ? HeapReAlloc(private_heap, 0, area, bytes) : nullptr;
}

void rt_platform_free(void* area) {
  if (private_heap != nullptr) HeapFree(private_heap, 0, area);
}

void rt_platform_close_left_open(intptr_t handle) {
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  FlushFileBuffers(h);
  CloseHandle(h);
}

static void release_slot(int slot, HANDLE h) { rt_slot_release(slot, reinterpret_cast<intptr_t>(h)); }

int rt_file_open(const char* path) {
  if (path == nullptr || path[0] == '\0') return -1;
  int slot = rt_slot_claim();
  if (slot < 0) return -1;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
  release_slot(slot, h);
  return h != INVALID_HANDLE_VALUE ? slot : -1;
}

static HANDLE handle_of(int file) { return reinterpret_cast<HANDLE>(rt_slot_handle(file)); }

int32_t rt_file_read(int file, void* buffer, int32_t count) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE || count < 0) return -1;
  int32_t done = 0;
  while (done < count) {
    DWORD n = 0;
    if (!ReadFile(h, static_cast<char*>(buffer) + done, count - done, &n, nullptr)) return -1;
    if (n == 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t rt_file_write(int file, const void* buffer, int32_t count) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE || count < 0) return -1;
  DWORD n = 0;
  if (!WriteFile(h, buffer, static_cast<DWORD>(count), &n, nullptr)) return n > 0 ? n : -1;
  return static_cast<int32_t>(n);
}

int64_t rt_file_length(int file) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE) return -1;
  DWORD high = 0;
  DWORD low = GetFileSize(h, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

bool rt_file_seek(int file, int64_t offset) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE || offset < 0) return false;
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low = SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool rt_file_reserve(int file, int64_t length) {
  int64_t old = rt_file_length(file);
  if (old < 0 || length < 0) return false;
  if (length <= old) return true;
  // SetEndOfFile allocates the clusters for the new length, so a disk that
  // cannot hold the file fails here, before any byte is overwritten.
  if (rt_file_seek(file, length) && SetEndOfFile(handle_of(file))) return true;
  if (rt_file_seek(file, old)) SetEndOfFile(handle_of(file));
  return false;
}


bool rt_file_close(int file) {
  HANDLE h = handle_of(file);
  if (h == INVALID_HANDLE_VALUE) return false;
  release_slot(file, INVALID_HANDLE_VALUE);
  return CloseHandle(h) != 0;
}

bool rt_file_flush(int file) {
  HANDLE h = handle_of(file);
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
}

bool rt_file_remove(const char* path) { return DeleteFileA(path) != 0; }

// The full path of a file's name; false for a name that is too long or ends
// in a separator (a folder).  ReplaceFileA needs full paths: given relative
// ones it fails with ERROR_DIRECTORY, so the moves take them too.
static bool full_path(const char* path, char full[MAX_PATH], char** name_part) {
  if (path == nullptr || path[0] == '\0') return false;
  char* name = nullptr;
  DWORD n = GetFullPathNameA(path, MAX_PATH, full, &name);
  if (name_part != nullptr) *name_part = name;
  return n > 0 && n < MAX_PATH && name != nullptr;
}

int rt_temp_create(const char* target, char* temp_path, int temp_path_capacity) {
  char full[MAX_PATH];
  char* name = nullptr;
  if (temp_path_capacity < 1 || !full_path(target, full, &name)) return -1;
  int folder_length = static_cast<int>(name - full);
  int slot = rt_slot_claim();
  if (slot < 0) return -1;
  for (uint32_t attempt = 0; attempt < 64; attempt++) {
    int n = snprintf(temp_path, temp_path_capacity, "%.*s~qelv-%08x.tmp", folder_length, full,
                     static_cast<unsigned>(rt_temp_name_value(attempt)));
    if (n < 0 || n >= temp_path_capacity || n >= MAX_PATH) break;
    HANDLE h = CreateFileA(temp_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      release_slot(slot, h);
      return slot;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  release_slot(slot, INVALID_HANDLE_VALUE);
  temp_path[0] = '\0';
  return -1;
}

// MoveFileExA with MOVEFILE_REPLACE_EXISTING is one rename on the volume, so
// Output is old or new at every instant.  ReplaceFileA would also carry the
// old file's security over, but it is not one step: Wine moves the old file
// away and deletes it before moving the new one in, and a process killed in
// between leaves no Output at all.  The new file takes the old one's
// attributes and the folder's inherited permissions.
bool rt_file_replace(const char* temp_path, const char* target) {
  char from[MAX_PATH], to[MAX_PATH];
  if (!full_path(temp_path, from, nullptr) || !full_path(target, to, nullptr)) return false;
  DWORD attributes = GetFileAttributesA(to);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // A folder is never replaced; a read-only file is refused, as opening it
    // for writing would be.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
    DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept != 0 && !SetFileAttributesA(from, kept)) return false;
  }
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}


// "C:", "C:\" and "C:/" name a drive's root, which the file search does not
// find but which counts as a directory when the drive exists.
static bool is_drive_root(const char* path) {
  size_t n = strlen(path);
  bool letter = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
  return letter && (n == 2 || (n == 3 && (path[2] == '\\' || path[2] == '/')));
}

int64_t rt_size_query(const char* path) {
  if (path == nullptr || path[0] == '\0' || strpbrk(path, "*?") != nullptr) return -1;
  if (is_drive_root(path)) {
    char root[4] = {path[0], ':', '\\', '\0'};
    UINT type = GetDriveTypeA(root);
    return type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR ? -1 : -2;
  }
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  FindClose(search);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
  return (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

struct rt_worker {
  HANDLE thread, given, done;  // the thread; semaphores counting 0 or 1
  void (*job)(void*);          // null: end the thread
  void* arg;
};

static DWORD WINAPI worker_main(void* arg) {
  rt_worker* w = static_cast<rt_worker*>(arg);
  for (;;) {
    WaitForSingleObject(w->given, INFINITE);
    if (w->job == nullptr) return 0;
    w->job(w->arg);
    ReleaseSemaphore(w->done, 1, nullptr);
  }
}

static void close_worker_handles(rt_worker* w) {
  if (w->thread != nullptr) CloseHandle(w->thread);
  if (w->given != nullptr) CloseHandle(w->given);
  if (w->done != nullptr) CloseHandle(w->done);
}

// A job needs little stack (a read), and a 32-bit host's address space is
// scarce: 64 KiB reserved instead of the default megabyte.
enum { WORKER_STACK_BYTES = 64 * 1024 };

rt_worker* rt_worker_start() {
  rt_worker* w = static_cast<rt_worker*>(rt_block_alloc(sizeof(rt_worker)));  // zeroed
  if (w == nullptr) return nullptr;
  w->given = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  w->done = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  if (w->given != nullptr && w->done != nullptr)
    w->thread = CreateThread(nullptr, WORKER_STACK_BYTES, worker_main, w,
                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (w->thread != nullptr) return w;
  close_worker_handles(w);
  rt_block_free(w);
  return nullptr;
}

void rt_worker_give(rt_worker* w, void (*job)(void*), void* arg) {
  w->job = job;
  w->arg = arg;
  ReleaseSemaphore(w->given, 1, nullptr);  // orders the two stores before the job
}

void rt_worker_wait(rt_worker* w) { WaitForSingleObject(w->done, INFINITE); }

void rt_worker_stop(rt_worker* w) {
  if (w == nullptr) return;
  w->job = nullptr;
  ReleaseSemaphore(w->given, 1, nullptr);
  WaitForSingleObject(w->thread, INFINITE);
  close_worker_handles(w);
  rt_block_free(w);
}

uint32_t rt_process_id() { return GetCurrentProcessId(); }

uint32_t rt_tick_ms() { return GetTickCount(); }

