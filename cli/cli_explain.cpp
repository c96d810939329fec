// Failures in plain words.  The engine answers with the plug-in's result
// texts, which stay as they are for the scripts, and keeps beside them the
// step that failed and the system's code there; the tool words that
// record: "no such folder dist", "disk full (needs 4.2 MB, 1.0 MB free)",
// "changed while it was read".  Nothing is opened, made or reserved again
// to find a reason: what is looked at afterwards (a folder's existence, the
// room left on a disk, a header) only tells the record's story in words.

#include "cli_explain.h"

#include <cstdio>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_inspect.h"
#include "cli_paths.h"
#include "cli_print.h"

const char cli_explain_too_short[] = "too short: the format holds files of 2 bytes or more";
const char cli_explain_empty_encrypted[] = "empty, not an encrypted file";
const char cli_explain_long_path[] =
    "the path is longer than this system's file functions take (259 characters)";

// The folder path lies in, as it is written there, without the separator
// after it (a root keeps its own); "" when path names no folder.
static void folder_of(const char* path, char* folder, int capacity) {
  int end = -1;
  for (int i = 0; path[i] != '\0'; i++)
    if (cli_paths_is_separator(path[i])) end = i;
  if (end > 0 && !cli_paths_is_separator(path[end - 1]) && path[end] != ':' &&
      path[end - 1] != ':')
    end--;
  snprintf(folder, capacity, "%.*s", end + 1, path);
}

// "no such folder F" when the folder file lies in is not there, else
// "no such file".
static const char* missing(const char* file, char* text, int capacity) {
  char folder[RT_PATH_CAPACITY];
  folder_of(file, folder, sizeof folder);
  if (folder[0] != '\0' && rt_size_query(folder) != -2)
    return cli_format(text, capacity, "no such folder %s", folder);
  return cli_format(text, capacity, "no such file");
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
  return missing(file, text, capacity);
}

// What the header says against what the file holds, for a file the engine
// would not decrypt.
static const char* explain_not_decrypted(const cli_header_read& header, const char* result,
                                         bool writing, char* text, int capacity) {
  cli_header_facts f;
  cli_inspect_judge(header, &f);
  char claims[64], holds[64];
  if (f.readable && !f.whole_header)
    return cli_format(text, capacity, "not an encrypted file (%s, shorter than the %d-byte header)",
                      cli_size_text(f.length, holds, sizeof holds), FILE_HEADER_SIZE);
  if (f.readable && f.cut_short) {
    cli_two_sizes(f.implied, f.length, claims, holds, sizeof claims);
    // A file of this format cut short keeps a header as encryption wrote it.
    if (f.oddities > 0)
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

// The reading of the source, in words.
static void explain_read(const engine_failure& f, char* text, int capacity) {
  char reason[256];
  if (f.step == STEP_CHANGED)
    cli_format(text, capacity, "changed while it was read; nothing was written");
  else if (f.code != 0)
    cli_format(text, capacity, "cannot be read: %s",
               cli_explain_reason(f.code, reason, sizeof reason));
  else
    cli_format(text, capacity, "could not be read whole: it ended before its length, so it "
               "may have been changed while it was read");
}

// "disk full (needs 4.2 MB, 1.0 MB free)": the room the output needed, and
// what its folder has.
static const char* disk_full(const char* output, int64_t needed, char* text, int capacity) {
  char folder[RT_PATH_CAPACITY], need[64], free_text[64];
  folder_of(output, folder, sizeof folder);
  int64_t available = rt_free_bytes(folder[0] != '\0' ? folder : ".");
  if (available < 0 || needed <= 0) return cli_format(text, capacity, "disk full");
  cli_two_sizes(needed, available, need, free_text, sizeof need);
  return cli_format(text, capacity, "disk full (needs %s, %s free)", need, free_text);
}

// Why output could not be written, from the step that failed.
static const char* write_reason(const engine_failure& f, const char* output, int64_t needed,
                                char* text, int capacity) {
  char folder[RT_PATH_CAPACITY];
  if (f.step == STEP_FOLDER) return cli_format(text, capacity, "it is a folder");
  if (f.code == 0) return cli_format(text, capacity, "the system gave no reason");
  if (cli_explain_is_missing(f.code) && f.step == STEP_CREATE) {
    folder_of(output, folder, sizeof folder);
    return cli_format(text, capacity, "no such folder %s", folder[0] != '\0' ? folder : ".");
  }
  if (cli_explain_is_full(f.code)) return disk_full(output, needed, text, capacity);
  return cli_explain_reason(f.code, text, capacity);
}

// The bytes an output needs: the encrypted length, or the plain length the
// header claims.
static int64_t needed_bytes(const cli_failed_call& c) {
  int64_t size = rt_size_query(c.file);
  if (c.encrypting) return size < 0 ? 0 : FILE_HEADER_SIZE + (size + 7) / 8 * 8;
  int64_t plain_size = cli_inspect_plain_size(*c.header);
  return plain_size > 0 ? plain_size : 0;
}

static void explain_write(const cli_failed_call& c, const engine_failure& f, char* text,
                          int capacity) {
  if (f.step == STEP_EXISTS) {
    cli_format(text, capacity, "%s exists; give --force to overwrite it, or --update to keep "
               "it when it is up to date", c.output);
    return;
  }
  char reason[CLI_TEXT_CAPACITY];
  write_reason(f, c.output, needed_bytes(c), reason, sizeof reason);
  if (c.to_stream)
    cli_format(text, capacity, "cannot write the temporary file for the output: %s", reason);
  else
    cli_format(text, capacity, "cannot write %s: %s", c.output, reason);
}

void cli_explain(const cli_failed_call& c, const engine_failure& failure, char* text,
                 int capacity) {
  char reason[CLI_TEXT_CAPACITY];
  if (c.result == result_refused) {
    if (cli_explain_input(c.file, reason, sizeof reason) != nullptr)
      cli_format(text, capacity, "%s", reason);
    else if (c.encrypting && rt_size_query(c.file) == 1)
      cli_format(text, capacity, "1 byte, %s", cli_explain_too_short);
    else
      cli_format(text, capacity, "refused (%s)", c.result);
  } else if (c.result == result_read_error) {
    explain_read(failure, text, capacity);
  } else if (c.result == result_write_error) {
    explain_write(c, failure, text, capacity);
  } else if (c.result == result_crc_failure || c.result == result_not_encrypted) {
    explain_not_decrypted(*c.header, c.result, c.decrypting, text, capacity);
  } else if (c.result == engine_cancelled) {
    cli_format(text, capacity, "stopped by the interrupt; nothing was written");
  } else if (c.result == result_too_large) {
    cli_format(text, capacity, "out of memory: not even the %d KiB working buffer could be had",
               ENGINE_PIECE_BYTES / 1024);
  } else {
    cli_format(text, capacity, "%s", c.result);
  }
}
