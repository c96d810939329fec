// The system's words on POSIX systems: errno codes in plain words, and what
// stat, access and statvfs say of an output that could not be written.

#include "cli_explain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "../runtime/runtime.h"
#include "cli_print.h"

bool cli_explain_is_missing(int code) { return code == ENOENT || code == ENOTDIR; }

const char* cli_explain_reason(int code, char* text, int capacity) {
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

bool cli_explain_too_long(const char*) { return false; }  // the system says so itself

const char* cli_explain_output(const char* output, int64_t* available, char* text, int capacity) {
  char folder[RT_PATH_CAPACITY], reason[256];
  snprintf(folder, sizeof folder, "%s", output);
  char* slash = strrchr(folder, '/');
  if (slash == nullptr) snprintf(folder, sizeof folder, ".");
  else if (slash == folder) folder[1] = '\0';
  else *slash = '\0';
  struct stat st;
  if (stat(folder, &st) != 0) {
    if (errno == ENOENT) return cli_format(text, capacity, "no such folder %s", folder);
    return cli_format(text, capacity, "%s: %s", folder,
                      cli_explain_reason(errno, reason, sizeof reason));
  }
  if (!S_ISDIR(st.st_mode)) return cli_format(text, capacity, "%s is not a folder", folder);
  if (stat(output, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return cli_format(text, capacity, "it is a folder");
    if (access(output, W_OK) != 0)
      return cli_format(text, capacity, "%s",
                        errno == EACCES ? "the file is read-only"
                                        : cli_explain_reason(errno, reason, sizeof reason));
  }
  if (access(folder, W_OK | X_OK) != 0)
    return cli_format(text, capacity, "%s", cli_explain_reason(errno, reason, sizeof reason));
  struct statvfs fs;
  if (statvfs(folder, &fs) == 0) {
    if (fs.f_flag & ST_RDONLY) return cli_format(text, capacity, "read-only file system");
    *available = static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
  }
  return nullptr;
}
