// Standard input and output.  The engine works on files, so standard input
// is first copied into a temporary file, and an output bound for standard
// output (or a device or pipe) is written by the engine into a private
// temporary folder and copied out only after the engine said "OK": a
// decryption whose check value does not match sends nothing.  These
// temporary files are the tool's own and go away on every path: at the end
// of the run, and from the platform's interrupt handling.

#include <cstdlib>
#include <cstring>

#include "cli.h"

// At most one spool file and one output folder per run (one FILE may be
// standard input, and a stream output takes one FILE).
static char spool_path[CLI_PATH_CAPACITY];
static char output_folder[CLI_PATH_CAPACITY];

enum { COPY_BYTES = 256 * 1024 };

// Which side of a copy failed.
enum copy_failure { COPY_DONE, COPY_NO_MEMORY, COPY_READ, COPY_WRITE };

static copy_failure stream_copy(FILE* in, FILE* out) {
  char* buffer = static_cast<char*>(malloc(COPY_BYTES));
  if (buffer == nullptr) return COPY_NO_MEMORY;
  copy_failure failure = COPY_DONE;
  size_t n;
  while (failure == COPY_DONE && (n = fread(buffer, 1, COPY_BYTES, in)) > 0)
    if (fwrite(buffer, 1, n, out) != n) failure = COPY_WRITE;
  free(buffer);
  if (failure == COPY_DONE && ferror(in)) failure = COPY_READ;
  if (failure == COPY_DONE && fflush(out) != 0) failure = COPY_WRITE;
  return failure;
}

bool cli_stream_spool_input(char* path, int capacity, char* text, int text_capacity) {
  FILE* spool = cli_temp_file(spool_path, sizeof spool_path);
  char reason[256];
  if (spool == nullptr) {
    char folder[CLI_PATH_CAPACITY] = "";
    cli_temp_folder(folder, sizeof folder);
    cli_format(text, text_capacity, "no temporary file could be made in %s: %s", folder,
               cli_reason_text(cli_last_error_code(), reason, sizeof reason));
    return false;
  }
  cli_binary_mode(cli_in);
  copy_failure failure = stream_copy(cli_in, spool);
  int code = cli_last_error_code();
  if (fclose(spool) != 0 && failure == COPY_DONE) {
    failure = COPY_WRITE;
    code = cli_last_error_code();
  }
  if (failure == COPY_READ)
    cli_format(text, text_capacity, "cannot be read: %s",
               cli_reason_text(code, reason, sizeof reason));
  else if (failure != COPY_DONE)
    cli_format(text, text_capacity, "cannot be copied into the temporary file %s: %s",
               spool_path, failure == COPY_WRITE ? cli_reason_text(code, reason, sizeof reason)
                                                 : "out of memory");
  if (failure != COPY_DONE) return false;
  snprintf(path, capacity, "%s", spool_path);
  return true;
}

bool cli_stream_output_path(char* path, int capacity) {
  if (output_folder[0] == '\0' && !cli_temp_folder_make(output_folder, sizeof output_folder))
    return false;
  int n = snprintf(path, capacity, "%s%coutput", output_folder, cli_separator);
  return n > 0 && n < capacity;
}

bool cli_stream_is_stream(const char* target) {
  return target != nullptr && (strcmp(target, "-") == 0 || cli_is_device(target));
}

bool cli_stream_copy_out(const char* file, const char* target, char* text, int capacity) {
  bool to_stdout = strcmp(target, "-") == 0;
  const char* shown = to_stdout ? "standard output" : target;
  char reason[256];
  FILE* in = fopen(file, "rb");
  FILE* out = to_stdout ? cli_out : fopen(target, "wb");
  copy_failure failure = in == nullptr ? COPY_READ : COPY_WRITE;
  if (in != nullptr && out != nullptr) {
    if (to_stdout) cli_binary_mode(out);
    failure = stream_copy(in, out);
  }
  int code = cli_last_error_code();
  if (in != nullptr) fclose(in);
  if (out != nullptr && !to_stdout && fclose(out) != 0 && failure == COPY_DONE) {
    failure = COPY_WRITE;
    code = cli_last_error_code();
  }
  cli_remove(file, false);
  if (failure == COPY_READ)
    cli_format(text, capacity, "the temporary file %s cannot be read back", file);
  else if (failure != COPY_DONE)
    cli_format(text, capacity, "cannot write %s: %s", shown,
               failure == COPY_WRITE ? cli_reason_text(code, reason, sizeof reason)
                                     : "out of memory");
  return failure == COPY_DONE;
}

static void remove_entry(const char* name, int kind, void* context) {
  char path[CLI_PATH_CAPACITY];
  snprintf(path, sizeof path, "%s%c%s", static_cast<const char*>(context), cli_separator, name);
  cli_remove(path, kind == 1);
}

void cli_stream_cleanup() {
  if (spool_path[0] != '\0') cli_remove(spool_path, false);
  spool_path[0] = '\0';
  if (output_folder[0] != '\0') {
    // The output, or the engine's own temporary file when the run was cut
    // short in the middle of a call.
    cli_list_folder(output_folder, remove_entry, output_folder);
    cli_remove(output_folder, true);
  }
  output_folder[0] = '\0';
}
