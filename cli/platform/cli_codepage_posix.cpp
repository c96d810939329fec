// Code pages on POSIX systems: the key typed or given in the locale's
// encoding, converted by iconv.  The command line and the environment are
// bytes here, with no other copy to consult.

#include "../cli_codepage.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>

#include "../cli_print.h"

void cli_codepage_start(int*, char***) {
  setlocale(LC_CTYPE, "");  // a key typed here is text in the locale's encoding
}

std::string cli_codepage_local_name() {
  return nl_langinfo(CODESET);
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

int cli_codepage_decode(const char* bytes, cli_codepage_source from, uint32_t* points,
                        int capacity, int* bad_at) {
  const char* encoding = from == TEXT_UTF8 ? "UTF-8" : nl_langinfo(CODESET);
  int n = convert("UTF-32LE", encoding, bytes, strlen(bytes), reinterpret_cast<char*>(points),
                  sizeof(uint32_t) * capacity, bad_at);
  return n < 0 ? -1 : n / 4;  // x86 and the like: little-endian words
}

int cli_codepage_argument_points(const char*, uint32_t*, int) { return -2; }
int cli_codepage_environment_points(const char*, uint32_t*, int) { return -2; }
bool cli_codepage_argument_lossy(const char*) { return false; }

int cli_codepage_encode(const uint32_t* points, int count, unsigned codepage, char* out,
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
