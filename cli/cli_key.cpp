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

static bool key_prompt_hidden(const char* prompt, char* buffer, int size) {
  cli_print(cli_err, "%s", prompt);
  fflush(cli_err);
  bool hidden = cli_console_echo_off(cli_in);
  bool got = key_read_line(cli_in, buffer, size);
  if (hidden) cli_console_echo_on();
  cli_print(cli_err, "\n");  // the Enter key was not echoed
  return got;
}

// Tries at the key and its repetition before the run gives up.
enum { KEY_TRIES = 3 };

static int key_from_prompt(const cli_options& o, char* key) {
  if (!cli_console_is_terminal(cli_in))
    return cli_usage_error("no key: give --key-file, --key-env or --key");
  for (int attempt = 1;; attempt++) {
    if (!key_prompt_hidden("Key: ", key, CLI_KEY_CAPACITY)) return cli_usage_error("no key entered");
    if (!cli_traits(o.command).encrypts) return 0;
    // A mistyped key would leave the files unreadable.
    static char again[CLI_KEY_CAPACITY];
    bool got = key_prompt_hidden("Key again: ", again, sizeof again);
    bool same = got && strcmp(again, key) == 0;
    memset(again, 0, sizeof again);
    if (same) return 0;
    if (!got || attempt == KEY_TRIES)
      return cli_usage_error("the two keys differ (%d tries); nothing was encrypted", attempt);
    cli_print(cli_err, "The two keys differ; type the key again.\n");
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
static int key_from_file(const char* path, char* key, bool* utf8) {
  bool from_stdin = strcmp(path, "-") == 0;
  if (!from_stdin && rt_size_query(path) == -2)
    return cli_usage_error("the key file %s is a folder", path);
  const char* special = from_stdin ? nullptr : cli_paths_special_kind(path);
  if (special != nullptr && strcmp(special, "a device") == 0)
    return cli_usage_error("the key file %s is a device, not a file", path);
  FILE* f = from_stdin ? cli_in : fopen(path, "rb");
  if (f == nullptr)
    return cli_usage_error("cannot read the key file %s: %s", path,
                           cli_explain_reason(rt_last_error()).c_str());
  if (from_stdin) cli_console_binary(f);
  bool zero = false, too_long = false;
  key_read_line(f, key, CLI_KEY_CAPACITY, &zero, &too_long);
  bool failed = ferror(f) != 0;
  if (!from_stdin) fclose(f);
  const char* shown = from_stdin ? "(standard input)" : path;
  if (failed) return cli_usage_error("cannot read the key file %s", shown);
  if (too_long)
    return cli_usage_error("the key file %s holds no line end in its first %d KiB; a key is "
                           "its first line", shown, KEY_LINE_MOST / 1024);
  const unsigned char* bytes = reinterpret_cast<unsigned char*>(key);
  if ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))
    return cli_usage_error("the key file %s is UTF-16; save it as UTF-8 or ANSI", shown);
  if (zero)
    return cli_usage_error("the key file %s holds a zero byte in its first line, which no key "
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
static int key_points(const cli_options& o, const char* bytes, cli_codepage_source encoding,
                      uint32_t* points, int* count) {
  *count = -2;
  if (o.key_text != nullptr)
    *count = cli_codepage_argument_points(o.key_text, points, KEY_POINTS);
  else if (o.key_env != nullptr)
    *count = cli_codepage_environment_points(o.key_env, points, KEY_POINTS);
  if (*count >= 0) return 0;
  int bad_at = 0;
  *count = cli_codepage_decode(bytes, encoding, points, KEY_POINTS, &bad_at);
  if (*count >= 0) return 0;
  if (encoding == TEXT_UTF8) return cli_usage_error("the key is not valid UTF-8");
  // --key-bytes would pass these bytes on as they are, which is another key
  // than the scripts' as soon as the encoding is not their code page.
  return cli_usage_error(
      "the key is not text in this system's encoding (%s): byte 0x%02X at %d; "
      "set a locale that matches how it was typed (for example LC_ALL=C.UTF-8), or put the "
      "key in a key file, in UTF-8 or in the scripts' code page",
      cli_codepage_local_name().c_str(), static_cast<unsigned char>(bytes[bad_at]),
      bad_at + 1);
}

// Spells the key's characters in the scripts' code page, into key.
// Returns 0, or 2 after a usage message.
static int key_encode(const cli_options& o, const uint32_t* points, int count, char* key) {
  int bad_at = 0;
  int n = cli_codepage_encode(points, count, o.key_codepage, key, CLI_KEY_CAPACITY, &bad_at);
  if (n == -2) return cli_usage_error("code page %u is not known on this system", o.key_codepage);
  if (n < 0)
    return cli_usage_error(
        "the key's character U+%04X (character %d) is not in code page %u, the one the "
        "project scripts spell their key in; give --key-codepage with the scripts' code page",
        static_cast<unsigned>(points[bad_at]), bad_at + 1, o.key_codepage);
  return 0;
}

// Spells the key in the scripts' code page.  Returns 0, or 2 after a usage
// message.
static int key_convert(const cli_options& o, char* key, cli_codepage_source encoding) {
  static uint32_t points[KEY_POINTS];
  int count = 0;
  int status = key_points(o, key, encoding, points, &count);
  if (status == 0) status = key_encode(o, points, count, key);
  memset(points, 0, sizeof points);  // the key lives no longer than needed
  return status;
}

// A key handed over by the program around the tool, until it is taken.
static uint32_t handed_points[KEY_POINTS];
static int handed_count = -1;

bool cli_key_hand_over(const uint32_t* points, int count) {
  memset(handed_points, 0, sizeof handed_points);
  handed_count = -1;
  if (count < 0) return true;
  if (count > KEY_POINTS) return false;
  memcpy(handed_points, points, sizeof(uint32_t) * count);
  handed_count = count;
  return true;
}

// The handed key in the scripts' code page, wiped once taken.
static int key_from_hand(const cli_options& o, char* key) {
  int status = key_encode(o, handed_points, handed_count, key);
  cli_key_hand_over(nullptr, -1);
  return status;
}

int cli_key_obtain(const cli_options& o, char key[CLI_KEY_CAPACITY]) {
  int status = 0;
  cli_codepage_source encoding = TEXT_SYSTEM;
  bool converted = !o.key_bytes;
  if (o.key_file != nullptr) {
    bool utf8 = false;
    status = key_from_file(o.key_file, key, &utf8);
    encoding = TEXT_UTF8;
    // A key file in any other encoding is taken as written in the scripts'
    // code page, on every system, as a Windows editor saves it.
    if (!utf8) converted = false;
  } else if (o.key_env != nullptr) {
    const char* value = getenv(o.key_env);
    if (value == nullptr)
      return cli_usage_error("the environment variable %s is not set", o.key_env);
    snprintf(key, CLI_KEY_CAPACITY, "%s", value);
  } else if (o.key_text != nullptr) {
    snprintf(key, CLI_KEY_CAPACITY, "%s", o.key_text);
  } else if (handed_count >= 0) {
    status = key_from_hand(o, key);
    converted = false;
  } else {
    status = key_from_prompt(o, key);
    encoding = TEXT_CONSOLE;
  }
  if (status == 0 && converted) status = key_convert(o, key, encoding);
  if (status != 0) return status;
  // The engine's rule, applied once instead of for each file.
  if (!engine_key_usable(key)) return cli_usage_error("the key is empty or only spaces");
  if (strlen(key) > 16) cli_note("only the first 16 bytes of the key count");
  return 0;
}
