// The command-line tool's platform pieces on POSIX systems (glibc).

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <iconv.h>
#include <langinfo.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <unistd.h>

#include "cli.h"

bool cli_is_terminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

// The terminal's settings while echo is off, put back by cli_echo_on or by
// an interrupt during the prompt.
static termios saved_terminal;
static int echo_off_fd = -1;
static struct sigaction saved_interrupt;

static void interrupted(int signal_number) {
  if (echo_off_fd >= 0) tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
  sigaction(SIGINT, &saved_interrupt, nullptr);
  raise(signal_number);
}

bool cli_echo_off(FILE* in) {
  int fd = fileno(in);
  if (!isatty(fd) || tcgetattr(fd, &saved_terminal) != 0) return false;
  termios quiet = saved_terminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  echo_off_fd = fd;
  struct sigaction on_interrupt = {};
  on_interrupt.sa_handler = interrupted;
  sigaction(SIGINT, &on_interrupt, &saved_interrupt);
  if (tcsetattr(fd, TCSAFLUSH, &quiet) != 0) {
    cli_echo_on(in);
    return false;
  }
  return true;
}

void cli_echo_on(FILE*) {
  if (echo_off_fd < 0) return;
  tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
  echo_off_fd = -1;
  sigaction(SIGINT, &saved_interrupt, nullptr);
}

bool cli_file_identity(const char* path, uint64_t* volume, uint64_t* file) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *volume = st.st_dev;
  *file = st.st_ino;
  return true;
}

// One file is one device and inode, whatever the path that leads to it.
bool cli_same_file(const char* a, const char* b) {
  uint64_t va, fa, vb, fb;
  return cli_file_identity(a, &va, &fa) && cli_file_identity(b, &vb, &fb) && va == vb && fa == fb;
}

double cli_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

bool cli_is_separator(char c) { return c == '/'; }
const char cli_separator = '/';

int cli_name_compare(const char* a, const char* b, size_t n) { return strncmp(a, b, n); }


void cli_write_text(FILE* stream, const char* text) { fputs(text, stream); }
void cli_binary_mode(FILE*) {}

int cli_processor_count() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

struct thread_start {
  void (*fn)(void*);
  void* arg;
};

static void* thread_main(void* start) {
  auto* s = static_cast<thread_start*>(start);
  s->fn(s->arg);
  free(s);
  return nullptr;
}

bool cli_thread_start(cli_thread* thread, void (*fn)(void*), void* arg) {
  auto* start = static_cast<thread_start*>(malloc(sizeof(thread_start)));
  if (start == nullptr) return false;
  start->fn = fn;
  start->arg = arg;
  pthread_t id;
  if (pthread_create(&id, nullptr, thread_main, start) != 0) {
    free(start);
    return false;
  }
  *thread = static_cast<cli_thread>(id);
  return true;
}

void cli_thread_join(cli_thread thread) { pthread_join(static_cast<pthread_t>(thread), nullptr); }

void cli_sleep_ms(int ms) {
  timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool cli_has_wildcard(const char* arg) { return strpbrk(arg, "*?[") != nullptr; }

// 0 a file (or a path that cannot be looked at), 1 a folder, 2 a link to
// a folder, 3 something else: a named pipe, a device, a socket.
static int kind_of(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || S_ISREG(st.st_mode)) return 0;
  if (!S_ISDIR(st.st_mode)) return 3;
  return lstat(path, &st) == 0 && S_ISLNK(st.st_mode) ? 2 : 1;
}

const char* cli_special_kind(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return nullptr;
  if (S_ISFIFO(st.st_mode)) return "a named pipe";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a device";
}

bool cli_file_time(const char* path, int64_t* time) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *time = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

int cli_write_all(FILE* stream, const void* data, size_t count) {
  if (fflush(stream) != 0) return errno != 0 ? errno : EIO;
  const char* at = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = write(fileno(stream), at, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    at += n;
    count -= static_cast<size_t>(n);
  }
  return 0;
}

int cli_expand_pattern(const char* pattern, cli_found* found, void* context) {
  glob_t matches = {};
  int status = glob(pattern, 0, nullptr, &matches);  // sorted by name
  if (status == GLOB_NOMATCH) return 0;
  if (status != 0) {
    globfree(&matches);
    return -1;
  }
  int n = static_cast<int>(matches.gl_pathc);
  for (int i = 0; i < n; i++) found(matches.gl_pathv[i], kind_of(matches.gl_pathv[i]), context);
  globfree(&matches);
  return n;
}

static int compare_names(const void* a, const void* b) {
  return strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

int cli_list_folder(const char* folder, cli_found* found, void* context) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  // The names are gathered first, so that the folder is closed before the
  // callbacks (which may walk a subfolder) and they come in name order.
  char** names = nullptr;
  int count = 0, capacity = 0;
  bool complete = true;
  for (dirent* e; (e = readdir(dir)) != nullptr;) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    if (count == capacity) {
      capacity = capacity > 0 ? 2 * capacity : 64;
      void* grown = realloc(names, sizeof(char*) * capacity);
      if (grown == nullptr) {
        complete = false;
        break;
      }
      names = static_cast<char**>(grown);
    }
    names[count] = strdup(e->d_name);
    if (names[count] == nullptr) {
      complete = false;
      break;
    }
    count++;
  }
  closedir(dir);
  if (count > 0) qsort(names, count, sizeof(char*), compare_names);  // names is null when empty
  char path[CLI_PATH_CAPACITY];
  for (int i = 0; i < count; i++) {
    snprintf(path, sizeof path, "%s/%s", folder, names[i]);
    if (complete) found(names[i], kind_of(path), context);
    free(names[i]);
  }
  free(names);
  return complete ? count : -1;
}

bool cli_make_folder(const char* path, char* text, int capacity) {
  if (mkdir(path, 0777) == 0) return true;
  int code = errno;
  struct stat st;
  if (code == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) return true;
  char reason[256];
  cli_format(text, capacity, "cannot make the folder %s: %s", path,
             code == EEXIST ? "a file has that name"
                            : cli_reason_text(code, reason, sizeof reason));
  return false;
}

// ---- Keys: iconv, from the locale's encoding to the scripts' code page.

const char* cli_local_encoding(char* text, int capacity) {
  return cli_format(text, capacity, "%s", nl_langinfo(CODESET));
}

// Converts with one iconv descriptor; returns the bytes made, or -1 with
// the offset of the input that could not be converted in *bad_at.
static int convert(const char* to, const char* from, const char* in, size_t in_length, char* out,
                   size_t capacity, int* bad_at) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -2;
  char* in_at = const_cast<char*>(in);
  char* out_at = out;
  size_t in_left = in_length, out_left = capacity;
  size_t status = iconv(cd, &in_at, &in_left, &out_at, &out_left);
  if (status != static_cast<size_t>(-1)) status = iconv(cd, nullptr, nullptr, &out_at, &out_left);
  iconv_close(cd);
  *bad_at = static_cast<int>(in_at - in);
  return status == static_cast<size_t>(-1) ? -1 : static_cast<int>(out_at - out);
}

int cli_decode_text(const char* bytes, cli_text_encoding from, uint32_t* points, int capacity,
                    int* bad_at) {
  const char* encoding = from == TEXT_UTF8 ? "UTF-8" : nl_langinfo(CODESET);
  int n = convert("UTF-32LE", encoding, bytes, strlen(bytes), reinterpret_cast<char*>(points),
                  sizeof(uint32_t) * capacity, bad_at);
  return n < 0 ? -1 : n / 4;  // x86 and the like: little-endian words
}

int cli_argument_points(const char*, uint32_t*, int) { return -2; }
int cli_environment_points(const char*, uint32_t*, int) { return -2; }
bool cli_argument_lossy(const char*) { return false; }

int cli_encode_text(const uint32_t* points, int count, unsigned codepage, char* out,
                    int capacity, int* bad_at) {
  char name[32];
  if (codepage == 65001) snprintf(name, sizeof name, "UTF-8");
  else snprintf(name, sizeof name, "CP%u", codepage);
  iconv_t probe = iconv_open(name, "UTF-32LE");
  if (probe == reinterpret_cast<iconv_t>(-1)) return -2;
  iconv_close(probe);
  // One point at a time, so that the one the code page lacks is known.
  int used = 0;
  for (int i = 0; i < count; i++) {
    int ignored;
    int n = convert(name, "UTF-32LE", reinterpret_cast<const char*>(points + i), 4, out + used,
                    capacity - 1 - used, &ignored);
    if (n < 0) {
      *bad_at = i;
      out[0] = '\0';
      return -1;
    }
    used += n;
  }
  out[used] = '\0';
  return used;
}

// ---- The system's reasons.

int cli_last_error_code() { return errno; }

bool cli_code_is_missing(int code) { return code == ENOENT || code == ENOTDIR; }

const char* cli_reason_text(int code, char* text, int capacity) {
  switch (code) {
    case ENOENT: return cli_format(text, capacity, "no such file or folder");
    case ENOTDIR: return cli_format(text, capacity, "a part of the path is not a folder");
    case EACCES:
    case EPERM: return cli_format(text, capacity, "permission denied");
    case EROFS: return cli_format(text, capacity, "read-only file system");
    case ENOSPC: return cli_format(text, capacity, "disk full");
    case EDQUOT: return cli_format(text, capacity, "disk quota exceeded");
    case EFBIG: return cli_format(text, capacity, "larger than this process may write");
    case EISDIR: return cli_format(text, capacity, "a folder");
    case ENAMETOOLONG: return cli_format(text, capacity, "the name is too long");
    case EIO: return cli_format(text, capacity, "input/output error (a device failed)");
    case EPIPE: return cli_format(text, capacity, "the reading end was closed");
    case EBUSY:
    case ETXTBSY: return cli_format(text, capacity, "in use");
    default: return cli_format(text, capacity, "%s", strerror(code));
  }
}

int cli_probe_read(const char* file) {
  int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char byte;
  int code = read(fd, &byte, 1) < 0 ? errno : 0;
  close(fd);
  return code;
}

bool cli_path_too_long(const char*) { return false; }  // the system says so itself

// Makes a file beside output, as the engine does, and gives it the room
// the output needs; the file is removed again.  Returns 0 or errno.
static int probe_create(const char* folder, int64_t needed) {
  char path[CLI_PATH_CAPACITY + 32];
  for (unsigned attempt = 0; attempt < 16; attempt++) {
    snprintf(path, sizeof path, "%s/~qelv-%08x.tmp", folder,
             static_cast<unsigned>(getpid() * 2654435761u + attempt * 40503u + time(nullptr)));
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return errno;
    int code = needed > 0 ? posix_fallocate(fd, 0, needed) : 0;
    if (code == EINVAL || code == EOPNOTSUPP) code = 0;  // no allocation here: nothing known
    close(fd);
    unlink(path);
    return code;
  }
  return 0;
}

const char* cli_probe_write(const char* output, int64_t needed, char* text, int capacity) {
  char folder[CLI_PATH_CAPACITY], reason[256], need[64], free_text[64];
  snprintf(folder, sizeof folder, "%s", output);
  char* slash = strrchr(folder, '/');
  if (slash == nullptr) snprintf(folder, sizeof folder, ".");
  else if (slash == folder) folder[1] = '\0';
  else *slash = '\0';
  struct stat st;
  if (stat(folder, &st) != 0) {
    if (errno == ENOENT) return cli_format(text, capacity, "no such folder %s", folder);
    return cli_format(text, capacity, "%s: %s", folder,
                      cli_reason_text(errno, reason, sizeof reason));
  }
  if (!S_ISDIR(st.st_mode)) return cli_format(text, capacity, "%s is not a folder", folder);
  if (stat(output, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return cli_format(text, capacity, "it is a folder");
    if (access(output, W_OK) != 0)
      return cli_format(text, capacity, "%s",
                        errno == EACCES ? "the file is read-only"
                                        : cli_reason_text(errno, reason, sizeof reason));
  }
  if (access(folder, W_OK | X_OK) != 0)
    return cli_format(text, capacity, "%s", cli_reason_text(errno, reason, sizeof reason));
  struct statvfs fs;
  if (statvfs(folder, &fs) == 0) {
    if (fs.f_flag & ST_RDONLY) return cli_format(text, capacity, "read-only file system");
    int64_t available = static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
    if (available < needed) {
      cli_two_sizes(needed, available, need, free_text, sizeof need);
      return cli_format(text, capacity, "disk full (needs %s, %s free)", need, free_text);
    }
  }
  int code = probe_create(folder, needed);
  if (code != 0)
    return cli_format(text, capacity, "%s", cli_reason_text(code, reason, sizeof reason));
  return nullptr;
}

// ---- Temporary files of the tool's own.

bool cli_temp_folder(char* path, int capacity) {
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  size_t n = strlen(folder);
  int written = snprintf(path, capacity, "%s%s", folder, folder[n - 1] == '/' ? "" : "/");
  return written > 0 && written < capacity;
}

FILE* cli_temp_file(char* path, int capacity) {
  if (!cli_temp_folder(path, capacity) || strlen(path) + 12 >= static_cast<size_t>(capacity)) {
    path[0] = '\0';
    return nullptr;
  }
  strcat(path, "qelv-XXXXXX");
  int fd = mkostemp(path, O_CLOEXEC);
  FILE* f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (f == nullptr) {
    int code = errno;
    if (fd >= 0) {
      close(fd);
      unlink(path);
    }
    path[0] = '\0';
    errno = code;
  }
  return f;
}

bool cli_temp_folder_make(char* path, int capacity) {
  if (!cli_temp_folder(path, capacity) || strlen(path) + 12 >= static_cast<size_t>(capacity)) {
    path[0] = '\0';
    return false;
  }
  strcat(path, "qelv-XXXXXX");
  if (mkdtemp(path) != nullptr) return true;
  path[0] = '\0';
  return false;
}

bool cli_remove(const char* path, bool folder) {
  return (folder ? rmdir(path) : unlink(path)) == 0;
}

bool cli_is_device(const char* target) {
  struct stat st;
  return stat(target, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// ---- Interrupts.  The signals that end a run are blocked in every thread
// and taken by one thread of their own, which may then do what a signal
// handler may not: stop the run and wait for it, or clean up itself.

static void (*guard_cleanup)();
static sigset_t guarded;
static int interrupt_signal;  // the signal taken, for cli_interrupt_end

void cli_interrupt_end() {
  int signal_number = __atomic_load_n(&interrupt_signal, __ATOMIC_ACQUIRE);
  if (signal_number == 0) signal_number = SIGINT;
  if (echo_off_fd >= 0) tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
  // End as the signal would have ended the process without the guard.
  signal(signal_number, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);
}

static void* guard_main(void*) {
  int signal_number = 0;
  while (sigwait(&guarded, &signal_number) != 0) {
  }
  __atomic_store_n(&interrupt_signal, signal_number, __ATOMIC_RELEASE);
  if (echo_off_fd >= 0) tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
  // A run stops its files, removes their temporary files, says what was
  // not done and ends the process through cli_interrupt_end; this thread
  // waits for that, and does what it can itself when no run answers.
  if (cli_run_stop(128 + signal_number)) cli_sleep_ms(10000);
  guard_cleanup();
  cli_interrupt_end();
  return nullptr;
}

void cli_guard_interrupts(void (*cleanup)()) {
  // A reader that goes away makes the next write fail with EPIPE, which is
  // reported, instead of ending the process before it cleans up.
  signal(SIGPIPE, SIG_IGN);
  guard_cleanup = cleanup;
  sigemptyset(&guarded);
  sigaddset(&guarded, SIGINT);
  sigaddset(&guarded, SIGTERM);
  sigaddset(&guarded, SIGHUP);
  // Threads made later inherit the mask, so only the guard takes these.
  pthread_sigmask(SIG_BLOCK, &guarded, nullptr);
  pthread_t guard;
  if (pthread_create(&guard, nullptr, guard_main, nullptr) == 0) pthread_detach(guard);
  else pthread_sigmask(SIG_UNBLOCK, &guarded, nullptr);
}
