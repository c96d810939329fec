// Runtime services on POSIX systems.  POSIX has no share modes, so "other
// writers denied" is not enforced here; everything else matches the Windows
// layer.

#include "runtime.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

enum { MAX_OPEN_FILES = 16 };
static int open_files[MAX_OPEN_FILES];
// A slot taken by an open that has not finished yet.
static const int SLOT_CLAIMED = -2;

// The command-line tool runs engine calls on several threads at once, so a
// free slot is claimed with one atomic compare-and-exchange: no lock, and a
// caller on one thread wins the first free slot at its first try.  A slot is
// then used and given back by its one owner.
static int claim_slot() {
  for (int slot = 0; slot < MAX_OPEN_FILES; slot++) {
    int expected = -1;
    if (__atomic_compare_exchange_n(&open_files[slot], &expected, SLOT_CLAIMED, false,
                                    __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
      return slot;
  }
  return -1;
}

static void release_slot(int slot, int fd) {
  __atomic_store_n(&open_files[slot], fd, __ATOMIC_RELEASE);
}

void rt_start() {
  for (int& fd : open_files) fd = -1;
}

void rt_stop() {
  for (int& fd : open_files) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

static bool size_fits(int64_t size) { return size >= 0 && size <= INT32_MAX; }

// A header before each block records its size, so that growing can zero the
// added bytes, and how the block was obtained.  It keeps the data 16-byte
// aligned.
struct block_header { int64_t size; int64_t mapped_bytes; };

// Large blocks are mapped on their own, in 2 MiB pages where the system
// has them.  A block of hundreds of megabytes in 4 KiB pages costs a page
// fault per page when it is first written, and then misses in the address
// cache all through the deciphering that follows each read; together that
// takes longer than the deciphering itself.  Where large pages cannot be
// asked for, the pages are made present at once instead, which saves the
// faults.
static const int64_t MAPPED_BLOCK_BYTES = int64_t{8} << 20;

static block_header* map_block(int64_t size) {
  int64_t bytes = static_cast<int64_t>(sizeof(block_header)) + size;
  void* area = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  bool huge = false;
#ifdef MADV_HUGEPAGE
  huge = madvise(area, bytes, MADV_HUGEPAGE) == 0;
#endif
#ifdef MADV_POPULATE_WRITE
  if (!huge) madvise(area, bytes, MADV_POPULATE_WRITE);  // a hint: failure costs only speed
#endif
  auto* h = static_cast<block_header*>(area);
  h->size = size;  // fresh mappings read as zero
  h->mapped_bytes = bytes;
  return h;
}

void* rt_block_alloc(int64_t size) {
  if (!size_fits(size)) return nullptr;
  if (size >= MAPPED_BLOCK_BYTES) {
    block_header* h = map_block(size);
    return h != nullptr ? h + 1 : nullptr;
  }
  auto* h = static_cast<block_header*>(calloc(1, sizeof(block_header) + size));
  if (h == nullptr) return nullptr;
  h->size = size;
  h->mapped_bytes = 0;
  return h + 1;
}

void rt_block_free(void* block) {
  if (block == nullptr) return;
  block_header* h = static_cast<block_header*>(block) - 1;
  if (h->mapped_bytes > 0) munmap(h, h->mapped_bytes);
  else free(h);
}

void* rt_block_grow(void* block, int64_t new_size) {
  if (block == nullptr) return rt_block_alloc(new_size);
  if (!size_fits(new_size)) return nullptr;
  block_header* h = static_cast<block_header*>(block) - 1;
  int64_t old_size = h->size;
  if (h->mapped_bytes > 0 || new_size >= MAPPED_BLOCK_BYTES) {
    // A mapped block on either side: a new block, zeroed, takes the bytes.
    void* grown = rt_block_alloc(new_size);
    if (grown == nullptr) return nullptr;
    memcpy(grown, block, old_size < new_size ? old_size : new_size);
    rt_block_free(block);
    return grown;
  }
  auto* n = static_cast<block_header*>(realloc(h, sizeof(block_header) + new_size));
  if (n == nullptr) return nullptr;
  if (new_size > old_size)
    memset(reinterpret_cast<char*>(n + 1) + old_size, 0, new_size - old_size);
  n->size = new_size;
  return n + 1;
}

int rt_file_open(const char* path) {
  if (path == nullptr || path[0] == '\0') return -1;
  int slot = claim_slot();
  if (slot < 0) return -1;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
  }
  release_slot(slot, fd);
  return fd >= 0 ? slot : -1;
}

// An atomic load: other threads claim other slots of the table meanwhile.
static int fd_of(int file) {
  return file >= 0 && file < MAX_OPEN_FILES ? __atomic_load_n(&open_files[file], __ATOMIC_ACQUIRE)
                                            : -1;
}

int32_t rt_file_read(int file, void* buffer, int32_t count) {
  int fd = fd_of(file);
  if (fd < 0 || count < 0) return -1;
  int32_t done = 0;
  while (done < count) {
    ssize_t n = read(fd, static_cast<char*>(buffer) + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t rt_file_write(int file, const void* buffer, int32_t count) {
  int fd = fd_of(file);
  if (fd < 0 || count < 0) return -1;
  int32_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, static_cast<const char*>(buffer) + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? done : -1;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t rt_file_length(int file) {
  struct stat st;
  int fd = fd_of(file);
  if (fd < 0 || fstat(fd, &st) != 0) return -1;
  return st.st_size;
}

bool rt_file_seek(int file, int64_t offset) {
  int fd = fd_of(file);
  return fd >= 0 && offset >= 0 && lseek(fd, offset, SEEK_SET) == offset;
}

bool rt_file_reserve(int file, int64_t length) {
  int fd = fd_of(file);
  if (fd < 0 || length < 0) return false;
  int64_t old = rt_file_length(file);
  if (old < 0) return false;
  if (length <= old) return true;
  int err = posix_fallocate(fd, 0, length);
  if (err == EINVAL || err == EOPNOTSUPP) {
    // A file system without allocation: extending is the most it can do.
    return ftruncate(fd, length) == 0;
  }
  if (err != 0) {
    // Whatever the failed attempt added is not ours to keep.
    int ignored = ftruncate(fd, old);
    (void)ignored;
    return false;
  }
  return true;
}


bool rt_file_close(int file) {
  int fd = fd_of(file);
  if (fd < 0) return false;
  release_slot(file, -1);
  return close(fd) == 0;
}

bool rt_file_flush(int file) {
  int fd = fd_of(file);
  return fd >= 0 && fsync(fd) == 0;
}

bool rt_file_remove(const char* path) { return unlink(path) == 0; }

// The file a target names: a symbolic link is followed, so that the file it
// points to is replaced and the link stays.  Returns target itself when it
// is no link (or a dangling one).
static const char* resolve_target(const char* target, char resolved[PATH_MAX]) {
  struct stat st;
  if (lstat(target, &st) == 0 && S_ISLNK(st.st_mode) && realpath(target, resolved) != nullptr)
    return resolved;
  return target;
}

int rt_temp_create(const char* target, char* temp_path, int temp_path_capacity) {
  if (target == nullptr || target[0] == '\0' || temp_path_capacity < 1) return -1;
  char resolved[PATH_MAX];
  const char* path = resolve_target(target, resolved);
  const char* slash = strrchr(path, '/');
  int folder_length = slash != nullptr ? static_cast<int>(slash - path + 1) : 0;
  int slot = claim_slot();
  if (slot < 0) return -1;
  for (uint32_t attempt = 0; attempt < 64; attempt++) {
    int n = snprintf(temp_path, temp_path_capacity, "%.*s~qelv-%08x.tmp", folder_length, path,
                     static_cast<unsigned>(rt_temp_name_value(attempt)));
    if (n < 0 || n >= temp_path_capacity) break;
    int fd = open(temp_path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      release_slot(slot, fd);
      return slot;
    }
    if (errno != EEXIST) break;
  }
  release_slot(slot, -1);
  temp_path[0] = '\0';
  return -1;
}

bool rt_file_replace(const char* temp_path, const char* target) {
  char resolved[PATH_MAX];
  const char* path = resolve_target(target, resolved);
  struct stat st;
  if (stat(path, &st) == 0) {
    // An open for writing would have refused these; a rename would not.
    if (!S_ISREG(st.st_mode) || access(path, W_OK) != 0) return false;
    // The new file takes the old one's owner where allowed, then its mode.
    if (st.st_uid != geteuid() || st.st_gid != getegid()) {
      int ignored = chown(temp_path, st.st_uid, st.st_gid);
      (void)ignored;
    }
    if (chmod(temp_path, st.st_mode & 07777) != 0) return false;
  }
  return rename(temp_path, path) == 0;
}

int rt_open_file_count() {
  int n = 0;
  for (int fd : open_files) n += fd >= 0;
  return n;
}

int64_t rt_size_query(const char* path) {
  if (path == nullptr || path[0] == '\0' || strpbrk(path, "*?") != nullptr) return -1;
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return -2;
  if (!S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

struct rt_worker {
  pthread_t thread;
  sem_t given, done;
  void (*job)(void*);  // null: end the thread
  void* arg;
};

// A semaphore wait that a signal handler cannot cut short.
static void wait_for(sem_t* s) {
  while (sem_wait(s) != 0 && errno == EINTR) {
  }
}

static void* worker_main(void* arg) {
  rt_worker* w = static_cast<rt_worker*>(arg);
  for (;;) {
    wait_for(&w->given);
    if (w->job == nullptr) return nullptr;
    w->job(w->arg);
    sem_post(&w->done);
  }
}

rt_worker* rt_worker_start() {
  rt_worker* w = static_cast<rt_worker*>(rt_block_alloc(sizeof(rt_worker)));
  if (w == nullptr) return nullptr;
  bool made = sem_init(&w->given, 0, 0) == 0;
  if (made && sem_init(&w->done, 0, 0) != 0) {
    sem_destroy(&w->given);
    made = false;
  }
  if (made && pthread_create(&w->thread, nullptr, worker_main, w) != 0) {
    sem_destroy(&w->given);
    sem_destroy(&w->done);
    made = false;
  }
  if (made) return w;
  rt_block_free(w);
  return nullptr;
}

void rt_worker_give(rt_worker* w, void (*job)(void*), void* arg) {
  w->job = job;
  w->arg = arg;
  sem_post(&w->given);  // the semaphore orders the two stores before the job
}

void rt_worker_wait(rt_worker* w) { wait_for(&w->done); }

void rt_worker_stop(rt_worker* w) {
  if (w == nullptr) return;
  w->job = nullptr;
  sem_post(&w->given);
  pthread_join(w->thread, nullptr);
  sem_destroy(&w->given);
  sem_destroy(&w->done);
  rt_block_free(w);
}

uint32_t rt_process_id() { return static_cast<uint32_t>(getpid()); }

uint32_t rt_tick_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(ts.tv_sec * 1000u + ts.tv_nsec / 1000000);
}

