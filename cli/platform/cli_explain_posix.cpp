// The system's words on POSIX systems: errno codes in plain words.

#include "../cli_explain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../cli_print.h"

bool cli_explain_is_missing(int code) { return code == ENOENT || code == ENOTDIR; }
bool cli_explain_is_full(int code) { return code == ENOSPC || code == EDQUOT; }

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
