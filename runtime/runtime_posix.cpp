// Runtime services on POSIX systems.  POSIX has no share modes, so "other
// writers denied" is not enforced here; everything else matches the Windows
// layer.

#include "runtime.h"
#include "runtime_platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE 1  // linux/fs.h, which clashes with the C library's headers
#endif

const char rt_path_separator = '/';

void rt_platform_start() {}
void rt_platform_stop() {}
void* rt_platform_alloc_zeroed(size_t bytes) { return calloc(1, bytes); }
void* rt_platform_resize(void* area, size_t bytes) { return realloc(area, bytes); }
void rt_platform_free(void* area) { free(area); }
void rt_platform_close_left_open(intptr_t handle) { close(static_cast<int>(handle)); }

int rt_file_open(const char* path) {
  if (path == nullptr || path[0] == '\0') return -1;
  int slot = rt_slot_claim();
  if (slot < 0) return -1;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
  }
  rt_slot_release(slot, fd);
  return fd >= 0 ? slot : -1;
}

static int fd_of(int file) { return static_cast<int>(rt_slot_handle(file)); }

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
    errno = err;  // posix_fallocate returns its reason; rt_last_error reads errno
    return false;
  }
  return true;
}


bool rt_file_stamp(int file, rt_stamp* stamp) {
  struct stat st;
  int fd = fd_of(file);
  if (fd < 0 || fstat(fd, &st) != 0) return false;
  stamp->length = st.st_size;
  stamp->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp->changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return true;
}

bool rt_file_close(int file) {
  int fd = fd_of(file);
  if (fd < 0) return false;
  rt_slot_release(file, RT_NO_HANDLE);
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

int rt_platform_temp_folder(const char* target, char* path, int capacity, bool follow_link) {
  if (target == nullptr || target[0] == '\0') return -1;
  char resolved[PATH_MAX];
  const char* file = follow_link ? resolve_target(target, resolved) : target;
  const char* slash = strrchr(file, '/');
  int length = slash != nullptr ? static_cast<int>(slash - file + 1) : 0;
  if (length >= capacity) return -1;
  memcpy(path, file, length);
  return length;
}

int rt_platform_create_private(const char* path, intptr_t* handle) {
  // Its owner's alone until the commit: it may hold plain data.
  int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  *handle = fd;
  if (fd >= 0) return 1;
  return errno == EEXIST ? 0 : -1;
}

// The process's file-creation mask.  umask() reads it only by setting it,
// which would give a file that another thread creates meanwhile the wrong
// mode, so it is read from /proc where there is one.
static mode_t creation_mask() {
  FILE* f = fopen("/proc/self/status", "re");
  if (f != nullptr) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && fgets(line, sizeof line, f) != nullptr)
      found = sscanf(line, "Umask: %o", &mask) == 1;
    fclose(f);
    if (found) return static_cast<mode_t>(mask);
  }
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}

// Renames from to to unless to exists, in one step: renameat2 where the
// file system has it, else a hard link made and the old name removed; a
// file system with neither (a FAT stick) gets a check and then a rename,
// which another process could come between.
static bool rename_keeping(const char* from, const char* to) {
  if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (link(from, to) == 0) {
    unlink(from);
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return false;
  struct stat st;
  if (lstat(to, &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(from, to) == 0;
}

bool rt_file_replace(const char* temp_path, const char* target, bool keep_existing,
                     bool follow_link) {
  char resolved[PATH_MAX];
  const char* path = follow_link ? resolve_target(target, resolved) : target;
  struct stat st;
  if (keep_existing) {
    if (chmod(temp_path, 0666 & ~creation_mask()) != 0) return false;
    return rename_keeping(temp_path, target);
  }
  // One look: what a followed link names, or the link itself.
  const bool found = (follow_link ? stat(path, &st) : lstat(path, &st)) == 0;
  if (found && S_ISLNK(st.st_mode)) {
    // The link itself goes; the new file gets what any new file there gets.
    if (chmod(temp_path, 0666 & ~creation_mask()) != 0) return false;
  } else if (found) {
    // An open for writing would have refused these; a rename would not.
    if (!S_ISREG(st.st_mode) || access(path, W_OK) != 0) return false;
    // The new file takes the old one's owner where allowed, then its mode.
    if (st.st_uid != geteuid() || st.st_gid != getegid()) {
      int ignored = chown(temp_path, st.st_uid, st.st_gid);
      (void)ignored;
    }
    if (chmod(temp_path, st.st_mode & 07777) != 0) return false;
  } else if (chmod(temp_path, 0666 & ~creation_mask()) != 0) {
    return false;  // a new file gets the mode any new file there gets
  }
  return rename(temp_path, path) == 0;
}


int64_t rt_size_query(const char* path) {
  // '*' and '?' are letters in a name here, not a pattern.
  if (path == nullptr || path[0] == '\0') return -1;
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return -2;
  if (!S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

uint32_t rt_process_id() { return static_cast<uint32_t>(getpid()); }

uint32_t rt_tick_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(ts.tv_sec * 1000u + ts.tv_nsec / 1000000);
}

int rt_last_error() { return errno; }

rt_path_kind rt_path_kind_of(const char* path) {
  struct stat st;
  if (path == nullptr || path[0] == '\0' || stat(path, &st) != 0) return RT_PATH_NONE;
  if (S_ISREG(st.st_mode)) return RT_PATH_FILE;
  if (S_ISDIR(st.st_mode)) return RT_PATH_FOLDER;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return RT_PATH_PIPE;
  return RT_PATH_DEVICE;
}

rt_path_facts rt_path_facts_of(const char* path) {
  rt_path_facts facts = {-1, false, false, 0, 0};
  struct stat st;
  if (path == nullptr || path[0] == '\0' || lstat(path, &st) != 0) return facts;
  facts.link = S_ISLNK(st.st_mode);
  if (facts.link && stat(path, &st) != 0) return facts;  // a link to nothing
  facts.size = S_ISREG(st.st_mode) ? st.st_size : S_ISDIR(st.st_mode) ? -2 : -1;
  facts.has_identity = true;
  facts.volume = st.st_dev;
  facts.file = st.st_ino;
  return facts;
}

bool rt_is_link(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

bool rt_file_identity(const char* path, uint64_t* volume, uint64_t* file) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *volume = st.st_dev;
  *file = st.st_ino;
  return true;
}

bool rt_file_time(const char* path, int64_t* time) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *time = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

int64_t rt_free_bytes(const char* folder) {
  struct statvfs fs;
  if (statvfs(folder, &fs) != 0) return -1;
  if (fs.f_flag & ST_RDONLY) return 0;
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

int rt_platform_make_folder(const char* path, bool only_owner) {
  if (mkdir(path, only_owner ? 0700 : 0777) == 0) return 1;
  return errno == EEXIST ? 0 : -1;
}

bool rt_folder_remove(const char* path) { return rmdir(path) == 0; }

bool rt_spool_folder(char* path, int capacity) {
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  size_t n = strlen(folder);
  int written = snprintf(path, capacity, "%s%s", folder, folder[n - 1] == '/' ? "" : "/");
  return written > 0 && written < capacity;
}
