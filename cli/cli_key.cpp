// The key.  Files key on bytes, and project scripts hand the plug-in their
// key in the system's ANSI code page.  So a key typed here is taken as text
// in the encoding it arrives in (the locale's on POSIX systems, the ANSI
// code page or the console's on Windows, UTF-8 in a key file that is valid
// UTF-8 or starts with a byte-order mark) and spelt in the scripts' code
// page, Windows-1252 unless --key-codepage names another.  A character that
// code page cannot hold stops the run: a different key, silently made,
// would leave the files unreadable.  --key-bytes keeps the bytes as they
// arrive.

#include "cli_key.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "cli_codepage.h"
#include "cli_console.h"
#include "cli_explain.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_run.h"

enum { KEY_POINTS = CLI_KEY_CAPACITY };

// A key line longer than this is no key: a file read up to here without a
// line end (a device such as /dev/zero, a large file of one line) is
// refused rather than read on.
enum { KEY_LINE_MOST = 64 * 1024 };

// Reads one line into buffer, without its line end ("\n" or "\r\n"); a
// longer line is cut to the buffer, and reading stops after KEY_LINE_MOST
// bytes (*too_long then set).  False when the stream holds nothing.
// *zero is set when the line holds a zero byte, which would end the key
// there without a word.
static bool key_read_line(FILE* in, char* buffer, int size, bool* zero = nullptr,
                          bool* too_long = nullptr) {
  int n = 0, c = 0, read = 0;
  bool any = false;
  while ((c = getc(in)) != EOF && c != '\n') {
    any = true;
    if (c == 0 && zero != nullptr) *zero = true;
    if (n < size - 1) buffer[n++] = static_cast<char>(c);
    if (++read >= KEY_LINE_MOST) {
      if (too_long != nullptr) *too_long = true;
      break;
    }
  }
  if (n > 0 && buffer[n - 1] == '\r') n--;
  buffer[n] = '\0';
  return any || c == '\n';
}

bool cli_key_read_line(FILE* in, std::string* line) {
  char buffer[CLI_KEY_CAPACITY];
  bool got = key_read_line(in, buffer, sizeof buffer);
  line->reserve(CLI_KEY_CAPACITY);  // never moved, so the one copy is wiped
  line->assign(buffer);
  memset(buffer, 0, sizeof buffer);
  return got;
}

// Wipes a key's text, which lives no longer than needed.
static void key_wipe(std::string* text) {
  std::fill(text->begin(), text->end(), '\0');
  text->clear();
}

// A line asked for through the face into key: 0, or 2 after a usage
// message.
static int key_ask(cli_run* run, const char* prompt, char* key) {
  std::string typed;
  int got = run->face->ask != nullptr ? run->face->ask(run->face->context, prompt, &typed) : -1;
  snprintf(key, CLI_KEY_CAPACITY, "%s", typed.c_str());
  key_wipe(&typed);
  if (got < 0) return cli_run_usage(run, "no key: give --key-file, --key-env or --key");
  if (got == 0) return cli_run_usage(run, "no key entered");
  return 0;
}

// Tries at the key and its repetition before the run gives up.
enum { KEY_TRIES = 3 };

static int key_from_prompt(cli_run* run, char* key) {
  for (int attempt = 1;; attempt++) {
    int status = key_ask(run, "Key: ", key);
    if (status != 0 || !cli_traits(run->o->command).encrypts) return status;
    // A mistyped key would leave the files unreadable.
    char again[CLI_KEY_CAPACITY];
    status = key_ask(run, "Key again: ", again);
    bool same = status == 0 && strcmp(again, key) == 0;
    memset(again, 0, sizeof again);
    if (same) return 0;
    if (status != 0 || attempt == KEY_TRIES)
      return cli_run_usage(run, "the two keys differ (%d tries); nothing was encrypted", attempt);
    cli_run_say(run, "The two keys differ; type the key again.");
  }
}

// True when text is well-formed UTF-8: no stray continuation bytes, no
// overlong forms, no surrogates, nothing past U+10FFFF.
static bool key_is_utf8(const unsigned char* text) {
  while (*text != 0) {
    unsigned c = *text;
    int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
    if ((c >= 0x80 && c < 0xC2) || c > 0xF4) return false;
    unsigned point = more == 0 ? c : c & (0x3F >> more);
    for (int i = 1; i <= more; i++) {
      if ((text[i] & 0xC0) != 0x80) return false;
      point = point << 6 | (text[i] & 0x3F);
    }
    static const unsigned least[] = {0, 0x80, 0x800, 0x10000};
    if (point < least[more] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
      return false;
    text += more + 1;
  }
  return true;
}

// The first line of the key file ("-": standard input), and whether it is
// UTF-8; any other is the scripts' code page already.  The C library's
// stream, not the runtime's file: a key file may be a pipe (--key-file
// <(...)), which the runtime opens only as a regular file.
static int key_from_file(cli_run* run, const char* path, char* key, bool* utf8) {
  bool from_stdin = strcmp(path, "-") == 0;
  if (!from_stdin && rt_size_query(path) == -2)
    return cli_run_usage(run, "the key file %s is a folder", path);
  if (!from_stdin && rt_path_kind_of(path) == RT_PATH_DEVICE)
    return cli_run_usage(run, "the key file %s is a device, not a file", path);
  FILE* f = from_stdin ? run->request->in : fopen(path, "rb");
  if (f == nullptr)
    return cli_run_usage(run, "cannot read the key file %s: %s", path,
                         from_stdin ? "there is no standard input"
                                    : cli_explain_reason(rt_last_error()).c_str());
  if (from_stdin) cli_console_binary(f);
  bool zero = false, too_long = false;
  key_read_line(f, key, CLI_KEY_CAPACITY, &zero, &too_long);
  bool failed = ferror(f) != 0;
  if (!from_stdin) fclose(f);
  const char* shown = from_stdin ? "(standard input)" : path;
  if (failed) return cli_run_usage(run, "cannot read the key file %s", shown);
  if (too_long)
    return cli_run_usage(run, "the key file %s holds no line end in its first %d KiB; a key is "
                         "its first line", shown, KEY_LINE_MOST / 1024);
  const unsigned char* bytes = reinterpret_cast<unsigned char*>(key);
  if ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))
    return cli_run_usage(run, "the key file %s is UTF-16; save it as UTF-8 or ANSI", shown);
  if (zero)
    return cli_run_usage(run, "the key file %s holds a zero byte in its first line, which no key "
                         "can hold", shown);
  *utf8 = false;
  if (bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    memmove(key, key + 3, strlen(key + 3) + 1);  // the byte-order mark is no part of the key
    *utf8 = true;
  } else if (key_is_utf8(bytes)) {
    *utf8 = true;
  }
  return 0;
}

// The key's text as code points, from wherever it came.  Returns 0, or 2
// after a usage message.
static int key_points(cli_run* run, const char* bytes, cli_codepage_source encoding,
                      uint32_t* points, int* count) {
  const cli_options& o = *run->o;
  *count = -2;
  if (o.key_text != nullptr)
    *count = cli_codepage_argument_points(o.key_text, points, KEY_POINTS);
  else if (o.key_env != nullptr)
    *count = cli_codepage_environment_points(o.key_env, points, KEY_POINTS);
  if (*count >= 0) return 0;
  int bad_at = 0;
  *count = cli_codepage_decode(bytes, encoding, points, KEY_POINTS, &bad_at);
  if (*count >= 0) return 0;
  if (encoding == TEXT_UTF8) return cli_run_usage(run, "the key is not valid UTF-8");
  // --key-bytes would pass these bytes on as they are, which is another key
  // than the scripts' as soon as the encoding is not their code page.
  return cli_run_usage(
      run,
      "the key is not text in this system's encoding (%s): byte 0x%02X at %d; "
      "set a locale that matches how it was typed (for example LC_ALL=C.UTF-8), or put the "
      "key in a key file, in UTF-8 or in the scripts' code page",
      cli_codepage_local_name().c_str(), static_cast<unsigned char>(bytes[bad_at]),
      bad_at + 1);
}

// Spells the key's characters in the scripts' code page, into key.
// Returns 0, or 2 after a usage message.
static int key_encode(cli_run* run, const uint32_t* points, int count, char* key) {
  const cli_options& o = *run->o;
  int bad_at = 0;
  int n = cli_codepage_encode(points, count, o.key_codepage, key, CLI_KEY_CAPACITY, &bad_at);
  if (n == -2) return cli_run_usage(run, "code page %u is not known on this system", o.key_codepage);
  if (n < 0)
    return cli_run_usage(
        run,
        "the key's character U+%04X (character %d) is not in code page %u, the one the "
        "project scripts spell their key in; give --key-codepage with the scripts' code page",
        static_cast<unsigned>(points[bad_at]), bad_at + 1, o.key_codepage);
  return 0;
}

// Spells the key in the scripts' code page.  Returns 0, or 2 after a usage
// message.
static int key_convert(cli_run* run, char* key, cli_codepage_source encoding) {
  uint32_t points[KEY_POINTS];
  int count = 0;
  int status = key_points(run, key, encoding, points, &count);
  if (status == 0) status = key_encode(run, points, count, key);
  memset(points, 0, sizeof points);  // the key lives no longer than needed
  return status;
}

// The key points of the request in the scripts' code page.
static int key_from_points(cli_run* run, char* key) {
  const cli_request& r = *run->request;
  if (r.key_count > KEY_POINTS) return cli_run_usage(run, "the key is longer than %d characters", KEY_POINTS);
  return key_encode(run, r.key_points, r.key_count, key);
}

int cli_key_obtain(cli_run* run) {
  const cli_options& o = *run->o;
  char* key = run->key;
  int status = 0;
  cli_codepage_source encoding = TEXT_SYSTEM;
  bool converted = !o.key_bytes;
  if (o.key_file != nullptr) {
    bool utf8 = false;
    status = key_from_file(run, o.key_file, key, &utf8);
    encoding = TEXT_UTF8;
    // A key file in any other encoding is taken as written in the scripts'
    // code page, on every system, as a Windows editor saves it.
    if (!utf8) converted = false;
  } else if (o.key_env != nullptr) {
    const char* value = getenv(o.key_env);
    if (value == nullptr)
      return cli_run_usage(run, "the environment variable %s is not set", o.key_env);
    snprintf(key, CLI_KEY_CAPACITY, "%s", value);
  } else if (o.key_text != nullptr) {
    snprintf(key, CLI_KEY_CAPACITY, "%s", o.key_text);
  } else if (run->request->key_points != nullptr) {
    status = key_from_points(run, key);
    converted = false;
  } else {
    status = key_from_prompt(run, key);
    encoding = TEXT_CONSOLE;
  }
  if (status == 0 && converted) status = key_convert(run, key, encoding);
  if (status != 0) return status;
  // The engine's rule, applied once instead of for each file.
  if (!engine_key_usable(key)) return cli_run_usage(run, "the key is empty or only spaces");
  if (strlen(key) > 16) cli_run_note(run, "only the first 16 bytes of the key count");
  return 0;
}
