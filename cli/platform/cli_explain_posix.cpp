// The system's words on POSIX systems: errno codes in plain words.

#include "../cli_explain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../cli_print.h"

bool cli_explain_is_missing(int code) { return code == ENOENT || code == ENOTDIR; }
bool cli_explain_is_full(int code) { return code == ENOSPC || code == EDQUOT; }

std::string cli_explain_reason(int code) {
  switch (code) {
    case ENOENT: return "no such file or folder";
    case ENOTDIR: return "a part of the path is not a folder";
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "read-only file system";
    case ENOSPC: return "disk full";
    case EDQUOT: return "disk quota exceeded";
    case EFBIG: return "larger than this process may write";
    case EISDIR: return "a folder";
    case ENAMETOOLONG: return "the name is too long";
    case EIO: return "input/output error (a device failed)";
    case EPIPE: return "the reading end was closed";
    case EBUSY:
    case ETXTBSY: return "in use";
    default: return strerror(code);
  }
}

bool cli_explain_too_long(const char*) { return false; }  // the system says so itself
