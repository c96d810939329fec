// Failures in plain words.  The engine answers with the plug-in's result
// texts, which stay as they are for the scripts; the tool says what
// happened instead, looking at the files again for the system's reason:
// "no such file", "disk full (needs 4.2 MB, 1.0 MB free)", "not an
// encrypted file (header claims 1.9 GB, file holds 32 bytes)".

#include "cli_explain.h"

#include <cstdio>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_inputs.h"
#include "cli_inspect.h"
#include "cli_options.h"
#include "cli_paths.h"
#include "cli_print.h"

const char cli_explain_too_short[] = "too short: the format holds files of 2 bytes or more";
const char cli_explain_long_path[] =
    "the path is longer than this system's file functions take (259 characters)";

// Opens file as the engine opens a source and reads a byte: 0, or the
// system's reason it could not.
static int probe_read(const char* file) {
  int source = rt_file_open(file);
  if (source < 0) return rt_last_error();
  char byte;
  int code = rt_file_read(source, &byte, 1) < 0 ? rt_last_error() : 0;
  rt_file_close(source);
  return code;
}

// Makes the temporary file beside output as the engine does, gives it the
// room the output needs and removes it again: 0, or the system's reason
// it could not.
static int probe_create(const char* output, int64_t needed) {
  char path[RT_PATH_CAPACITY];
  int file = rt_temp_create(output, path, sizeof path);
  if (file < 0) return rt_last_error();
  int code = rt_file_reserve(file, needed) ? 0 : rt_last_error();
  rt_file_close(file);
  rt_file_remove(path);
  return code;
}

// Why output cannot be written with needed bytes in it, looked for without
// changing anything the user owns; null when nothing is found.
static const char* probe_write(const char* output, int64_t needed, char* text, int capacity) {
  int64_t available = -1;
  const char* found = cli_explain_output(output, &available, text, capacity);
  if (found != nullptr) return found;
  if (available >= 0 && available < needed) {
    char need[64], free_text[64];
    cli_two_sizes(needed, available, need, free_text, sizeof need);
    return cli_format(text, capacity, "disk full (needs %s, %s free)", need, free_text);
  }
  int code = probe_create(output, needed);
  if (code == 0) return nullptr;
  char reason[256];
  return cli_format(text, capacity, "%s", cli_explain_reason(code, reason, sizeof reason));
}

const char* cli_explain_input(const char* file, char* text, int capacity) {
  if (cli_explain_too_long(file)) return cli_format(text, capacity, "%s", cli_explain_long_path);
  int64_t size = rt_size_query(file);
  if (size == -2) return cli_format(text, capacity, "a folder");
  if (size == 0) return cli_format(text, capacity, "empty");
  if (size > 0) return nullptr;
  // Found without opening it: an open of a named pipe waits for a writer.
  const char* special = cli_paths_special_kind(file);
  if (special != nullptr)
    return cli_format(text, capacity, "not a regular file (%s), which cannot be read whole",
                      special);
  int code = probe_read(file);
  if (code == 0) return cli_format(text, capacity, "not a file that can be read whole");
  if (cli_explain_is_missing(code)) {
    // Say which part is missing: the file, or a folder on the way to it.
    char folder[RT_PATH_CAPACITY];
    snprintf(folder, sizeof folder, "%s", file);
    int end = -1;
    for (int i = 0; folder[i] != '\0'; i++)
      if (cli_paths_is_separator(folder[i])) end = i;
    if (end > 0 && !cli_paths_is_separator(folder[end - 1])) {
      folder[end] = '\0';
      if (rt_size_query(folder) != -2)
        return cli_format(text, capacity, "no such folder %s", folder);
    }
    return cli_format(text, capacity, "no such file");
  }
  char reason[256];
  return cli_format(text, capacity, "%s", cli_explain_reason(code, reason, sizeof reason));
}

// What the header says against what the file holds, for a file the engine
// would not decrypt.
static const char* explain_not_decrypted(const char* file, const char* result, bool writing,
                                         char* text, int capacity) {
  cli_header_facts f;
  cli_inspect_header(file, &f);
  char claims[64], holds[64];
  if (f.readable && !f.whole_header)
    return cli_format(text, capacity, "not an encrypted file (%s, shorter than the %d-byte header)",
                      cli_size_text(f.length, holds, sizeof holds), FILE_HEADER_SIZE);
  if (f.readable && f.implied > f.length) {
    cli_two_sizes(f.implied, f.length, claims, holds, sizeof claims);
    // A file of this format cut short keeps a header that holds together.
    if (f.problems > 1)
      return cli_format(text, capacity, "not an encrypted file (header claims %s, file holds %s)",
                        claims, holds);
    return cli_format(text, capacity, "cut short, or not an encrypted file (header claims %s, "
                      "file holds %s)", claims, holds);
  }
  if (f.readable && (f.problems > 0 || result == result_not_encrypted))
    return cli_format(text, capacity, "not an encrypted file (%s)",
                      f.problems > 0 ? f.problem_text : "the header does not hold together");
  return cli_format(text, capacity, "wrong key, or damaged data: the check value does not "
                    "match%s", writing ? "; nothing was written" : "");
}

// The bytes an output will need: the encrypted length, or the plain length
// the header claims.
static int64_t needed_bytes(const cli_options& o, const cli_item& item) {
  int64_t size = rt_size_query(item.path);
  if (o.command == CMD_ENCRYPT) return size < 0 ? 0 : FILE_HEADER_SIZE + (size + 7) / 8 * 8;
  cli_header_facts f;
  cli_inspect_header(item.path, &f);
  return f.plain_size > 0 ? f.plain_size : 0;
}

void cli_explain(const cli_options& o, const cli_item& item, const char* engine_result,
                 const char* output, char* text, int capacity) {
  char reason[CLI_TEXT_CAPACITY];
  if (engine_result == result_refused) {
    if (cli_explain_input(item.path, reason, sizeof reason) != nullptr)
      cli_format(text, capacity, "%s", reason);
    else if (o.command == CMD_ENCRYPT && rt_size_query(item.path) == 1)
      cli_format(text, capacity, "1 byte, %s", cli_explain_too_short);
    else
      cli_format(text, capacity, "refused (%s)", engine_result);
  } else if (engine_result == result_read_error) {
    int code = probe_read(item.path);
    if (code != 0)
      cli_format(text, capacity, "cannot be read: %s",
                 cli_explain_reason(code, reason, sizeof reason));
    else
      cli_format(text, capacity, "could not be read whole; it reads now, so it may have been "
                 "in use or changed while it was read");
  } else if (engine_result == result_write_error) {
    const char* found = probe_write(output, needed_bytes(o, item), reason, sizeof reason);
    bool temporary = output != item.output;  // bound for a stream
    if (found != nullptr && temporary)
      cli_format(text, capacity, "cannot write the temporary file for the output: %s", found);
    else if (found != nullptr)
      cli_format(text, capacity, "cannot write %s: %s", output, found);
    else
      cli_format(text, capacity, "could not write %s, and looking again found no reason",
                 output);
  } else if (engine_result == result_crc_failure || engine_result == result_not_encrypted) {
    explain_not_decrypted(item.path, engine_result, o.command == CMD_DECRYPT, text, capacity);
  } else if (engine_result == engine_cancelled) {
    cli_format(text, capacity, "stopped by the interrupt; nothing was written");
  } else if (engine_result == result_too_large) {
    cli_format(text, capacity, "out of memory: not even the %d KiB working buffer could be had",
               ENGINE_PIECE_BYTES / 1024);
  } else {
    cli_format(text, capacity, "%s", engine_result);
  }
}
