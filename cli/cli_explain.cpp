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
static std::string folder_of(const char* path) {
  int end = -1;
  for (int i = 0; path[i] != '\0'; i++)
    if (cli_paths_is_separator(path[i])) end = i;
  if (end > 0 && !cli_paths_is_separator(path[end - 1]) && path[end] != ':' &&
      path[end - 1] != ':')
    end--;
  return std::string(path, end + 1);
}

// "no such folder F" when the folder file lies in is not there, else
// "no such file".
static std::string missing(const char* file) {
  std::string folder = folder_of(file);
  if (!folder.empty() && rt_size_query(folder.c_str()) != -2) return "no such folder " + folder;
  return "no such file";
}

const char* cli_explain_special(const char* path) {
  switch (rt_path_kind_of(path)) {
    case RT_PATH_PIPE: return "a named pipe";
    case RT_PATH_DEVICE: return "a device";
    default: return nullptr;
  }
}

std::string cli_explain_input(const char* file) {
  if (cli_explain_too_long(file)) return cli_explain_long_path;
  int64_t size = rt_size_query(file);
  if (size == -2) return "a folder";
  if (size == 0) return "empty";
  if (size > 0) return "";
  // Found without opening it: an open of a named pipe waits for a writer.
  const char* special = cli_explain_special(file);
  if (special != nullptr)
    return cli_format("not a regular file (%s), which cannot be read whole", special);
  if (rt_is_link(file)) return "a link to nothing: what it names is not there";
  return missing(file);
}

// What the header says against what the file holds, for a file the engine
// would not decrypt.
static std::string explain_not_decrypted(const cli_header_read& header, const char* result,
                                         bool writing) {
  cli_header_facts f;
  cli_inspect_judge(header, &f);
  std::string claims, holds;
  if (f.readable && !f.whole_header)
    return cli_format("not an encrypted file (%s, shorter than the %d-byte header)",
                      cli_size_text(f.length).c_str(), FILE_HEADER_SIZE);
  if (f.readable && f.cut_short) {
    cli_two_sizes(f.implied, f.length, &claims, &holds);
    // A file of this format cut short keeps a header as encryption wrote it.
    if (!f.odd_text.empty())
      return "not an encrypted file (header claims " + claims + ", file holds " + holds + ")";
    return "cut short, or not an encrypted file (header claims " + claims + ", file holds " +
           holds + ")";
  }
  if (f.readable && (!f.problem_text.empty() || result == result_not_encrypted))
    return "not an encrypted file (" +
           (!f.problem_text.empty() ? f.problem_text : "the header does not hold together") + ")";
  return std::string("wrong key, or damaged data: the check value does not match") +
         (writing ? "; nothing was written" : "");
}

// The reading of the source, in words.
static std::string explain_read(const engine_failure& f) {
  if (f.step == STEP_CHANGED) return "changed while it was read; nothing was written";
  if (f.code != 0) return "cannot be read: " + cli_explain_reason(f.code);
  return "could not be read whole: it ended before its length, so it may have been changed "
         "while it was read";
}

// "disk full (needs 4.2 MB, 1.0 MB free)": the room the output needed, and
// what its folder has.
static std::string disk_full(const char* output, int64_t needed) {
  std::string folder = folder_of(output), need, free_text;
  int64_t available = rt_free_bytes(!folder.empty() ? folder.c_str() : ".");
  if (available < 0 || needed <= 0) return "disk full";
  cli_two_sizes(needed, available, &need, &free_text);
  return "disk full (needs " + need + ", " + free_text + " free)";
}

// Why output could not be written, from the step that failed.
static std::string write_reason(const engine_failure& f, const char* output, int64_t needed) {
  if (f.step == STEP_FOLDER) return "it is a folder";
  if (f.code == 0) return "the system gave no reason";
  if (cli_explain_is_missing(f.code) && f.step == STEP_CREATE) {
    std::string folder = folder_of(output);
    return "no such folder " + (!folder.empty() ? folder : std::string("."));
  }
  if (cli_explain_is_full(f.code)) return disk_full(output, needed);
  return cli_explain_reason(f.code);
}

// The bytes an output needs: the encrypted length, or the plain length the
// header claims.
static int64_t needed_bytes(const cli_failed_call& c) {
  int64_t size = rt_size_query(c.file);
  if (c.encrypting) return size < 0 ? 0 : FILE_HEADER_SIZE + file_padded_length(size);
  int64_t plain_size = cli_inspect_plain_size(*c.header);
  return plain_size > 0 ? plain_size : 0;
}

static std::string explain_write(const cli_failed_call& c, const engine_failure& f) {
  if (f.step == STEP_EXISTS)
    return cli_format("%s exists; give --force to overwrite it, or --update to keep it when it "
                      "is up to date", c.output);
  std::string reason = write_reason(f, c.output, needed_bytes(c));
  if (c.to_stream) return "cannot write the temporary file for the output: " + reason;
  return cli_format("cannot write %s: ", c.output) + reason;
}

std::string cli_explain(const cli_failed_call& c, const engine_failure& failure) {
  if (c.result == result_refused) {
    std::string reason = cli_explain_input(c.file);
    if (!reason.empty()) return reason;
    if (c.encrypting && rt_size_query(c.file) == 1)  // the one size too short that is not empty
      return std::string("1 byte, ") + cli_explain_too_short;
    return cli_format("refused (%s)", c.result);
  }
  if (c.result == result_read_error) return explain_read(failure);
  if (c.result == result_write_error) return explain_write(c, failure);
  if (c.result == result_crc_failure || c.result == result_not_encrypted)
    return explain_not_decrypted(*c.header, c.result, c.decrypting);
  if (c.result == engine_cancelled) return "stopped by the interrupt; nothing was written";
  if (c.result == result_too_large)
    return cli_format("out of memory: not even the %d KiB working buffer could be had",
                      ENGINE_PIECE_BYTES / 1024);
  return c.result;
}
