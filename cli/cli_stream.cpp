// Standard input and output, with no plain byte put on a disk.  Plain
// data from standard input is encrypted as it is read, into the output's
// own temporary file (encrypt_stream).  Encrypted data from standard input
// is first copied into a temporary file, for the engine reads a file twice
// or seeks in it; an encrypted output bound for standard output (or a
// device or pipe) is written into a private temporary folder and copied
// out once whole, for its header comes first and is known last.  A
// decryption bound for a stream checks the CRC in a first pass and sends
// the plain bytes in a second (decrypt_to_stream), so a check value that
// does not match sends nothing.  These temporary files are the tool's own
// (rt_spool_create, rt_spool_folder_make) and go away on every path: at
// the end of the run, and from the interrupt handling.
//
// A device or pipe named as the output is written through the C library's
// stream: the runtime's files are regular files only.

#include "cli_stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../runtime/runtime.h"
#include "cli_console.h"
#include "cli_explain.h"
#include "cli_paths.h"
#include "cli_print.h"
#include "cli_run.h"

// At most one spool file and one output folder per run (one FILE may be
// standard input, and a stream output takes one FILE): the run's
// spool_path and output_folder.

enum { COPY_BYTES = 256 * 1024 };

// Which side of a copy failed.
enum copy_failure { COPY_DONE, COPY_NO_MEMORY, COPY_READ, COPY_WRITE };

bool cli_stream_spool_input(cli_run* run, std::string* path, std::string* why) {
  char* spool_path = run->spool_path;
  FILE* in = run->request->in;
  if (in == nullptr) {
    *why = "there is no standard input";
    return false;
  }
  int spool = rt_spool_create(spool_path, RT_PATH_CAPACITY);
  if (spool < 0) {
    int code = rt_last_error();
    char folder[RT_PATH_CAPACITY] = "";
    rt_spool_folder(folder, sizeof folder);
    *why = cli_format("no temporary file could be made in %s: ", folder) + cli_explain_reason(code);
    return false;
  }
  cli_console_binary(in);
  char* buffer = static_cast<char*>(malloc(COPY_BYTES));
  copy_failure failure = buffer == nullptr ? COPY_NO_MEMORY : COPY_DONE;
  int code = 0;
  size_t n;
  while (failure == COPY_DONE && (n = fread(buffer, 1, COPY_BYTES, in)) > 0)
    if (rt_file_write(spool, buffer, static_cast<int32_t>(n)) != static_cast<int32_t>(n))
      failure = COPY_WRITE;
  if (failure == COPY_DONE && ferror(in)) failure = COPY_READ;
  if (failure == COPY_READ || failure == COPY_WRITE) code = rt_last_error();
  free(buffer);
  if (!rt_file_close(spool) && failure == COPY_DONE) {
    failure = COPY_WRITE;
    code = rt_last_error();
  }
  if (failure == COPY_READ)
    *why = "cannot be read: " + cli_explain_reason(code);
  else if (failure != COPY_DONE)
    *why = cli_format("cannot be copied into the temporary file %s: ", spool_path) +
           (failure == COPY_WRITE ? cli_explain_reason(code) : "out of memory");
  if (failure != COPY_DONE) return false;
  *path = spool_path;
  return true;
}

bool cli_stream_output_path(cli_run* run, std::string* path) {
  char* output_folder = run->output_folder;
  if (output_folder[0] == '\0' && !rt_spool_folder_make(output_folder, RT_PATH_CAPACITY))
    return false;
  *path = cli_paths_join(output_folder, "output");
  return true;
}


// Standard output, or the device or pipe named; null when it cannot be had.
static FILE* open_target(cli_run* run, const char* target) {
  return strcmp(target, "-") == 0 ? run->request->out : fopen(target, "wb");
}

bool cli_stream_copy_out(cli_run* run, const char* file, const char* target, std::string* why) {
  bool to_stdout = strcmp(target, "-") == 0;
  const char* shown = to_stdout ? "standard output" : target;
  int in = rt_file_open(file);
  FILE* out = open_target(run, target);
  copy_failure failure = in < 0 ? COPY_READ : COPY_WRITE;
  int code = rt_last_error();
  if (in >= 0 && out != nullptr) {
    cli_console_binary(out);
    char* buffer = static_cast<char*>(malloc(COPY_BYTES));
    failure = buffer == nullptr ? COPY_NO_MEMORY : COPY_DONE;
    int32_t n = 0;
    while (failure == COPY_DONE && (n = rt_file_read(in, buffer, COPY_BYTES)) > 0)
      if ((code = cli_console_write_all(out, buffer, static_cast<size_t>(n))) != 0)
        failure = COPY_WRITE;
    if (n < 0) failure = COPY_READ;
    free(buffer);
  }
  if (in >= 0) rt_file_close(in);
  if (out != nullptr && !to_stdout && fclose(out) != 0 && failure == COPY_DONE) {
    failure = COPY_WRITE;
    code = rt_last_error();
  }
  rt_file_remove(file);
  if (failure == COPY_READ)
    *why = cli_format("the temporary file %s cannot be read back", file);
  else if (failure != COPY_DONE)
    *why = cli_format("cannot write %s: ", shown) +
           (failure == COPY_WRITE ? cli_explain_reason(code) : "out of memory");
  return failure == COPY_DONE;
}

static int32_t read_input(void* context, void* buffer, int32_t count) {
  auto* in = static_cast<FILE*>(context);
  size_t got = fread(buffer, 1, static_cast<size_t>(count), in);
  return got == 0 && ferror(in) ? -1 : static_cast<int32_t>(got);
}

const char* cli_stream_encrypt_input(cli_run* run, engine_call* call, const char* output,
                                     const char* key) {
  FILE* in = run->request->in;
  if (in == nullptr) return result_read_error;
  cli_console_binary(in);
  return encrypt_stream(call, read_input, in, output, key);
}

struct sending {
  FILE* stream;
  int code;  // of the write that failed
};

static bool send_bytes(void* context, const void* data, int32_t count) {
  auto* s = static_cast<sending*>(context);
  s->code = cli_console_write_all(s->stream, data, static_cast<size_t>(count));
  return s->code == 0;
}

const char* cli_stream_decrypt_out(cli_run* run, engine_call* call, const char* file,
                                   const char* target, const char* key, std::string* why) {
  bool to_stdout = strcmp(target, "-") == 0;
  sending s = {open_target(run, target), 0};
  if (s.stream == nullptr) {
    *why = cli_format("cannot write %s: ", target) + cli_explain_reason(rt_last_error());
    return result_write_error;
  }
  cli_console_binary(s.stream);
  const char* result = decrypt_to_stream(call, file, send_bytes, &s, key);
  if (!to_stdout) fclose(s.stream);
  if (result == result_write_error)
    *why = cli_format("cannot write %s: ", to_stdout ? "standard output" : target) +
           cli_explain_reason(s.code);
  return result;
}
