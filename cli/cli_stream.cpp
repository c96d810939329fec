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
// and go away on every path: at the end of the run, and from the
// platform's interrupt handling.

#include <cstdlib>
#include <cstring>

#include "../engine/engine.h"
#include "cli.h"

// At most one spool file and one output folder per run (one FILE may be
// standard input, and a stream output takes one FILE).
static char spool_path[CLI_PATH_CAPACITY];
static char output_folder[CLI_PATH_CAPACITY];

enum { COPY_BYTES = 256 * 1024 };

// Which side of a copy failed.
enum copy_failure { COPY_DONE, COPY_NO_MEMORY, COPY_READ, COPY_WRITE };

// Copies in to out; *code is the system's reason of a failed read or write.
static copy_failure stream_copy(FILE* in, FILE* out, int* code) {
  char* buffer = static_cast<char*>(malloc(COPY_BYTES));
  if (buffer == nullptr) return COPY_NO_MEMORY;
  copy_failure failure = COPY_DONE;
  size_t n;
  *code = 0;
  while (failure == COPY_DONE && (n = fread(buffer, 1, COPY_BYTES, in)) > 0)
    if ((*code = cli_write_all(out, buffer, n)) != 0) failure = COPY_WRITE;
  if (failure == COPY_DONE && ferror(in)) {
    failure = COPY_READ;
    *code = cli_last_error_code();
  }
  free(buffer);
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
  int code = 0;
  copy_failure failure = stream_copy(cli_in, spool, &code);
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
  int code = cli_last_error_code();
  if (in != nullptr && out != nullptr) {
    cli_binary_mode(out);
    failure = stream_copy(in, out, &code);
  }
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

static int32_t read_input(void* context, void* buffer, int32_t count) {
  auto* in = static_cast<FILE*>(context);
  size_t got = fread(buffer, 1, static_cast<size_t>(count), in);
  return got == 0 && ferror(in) ? -1 : static_cast<int32_t>(got);
}

const char* cli_stream_encrypt_input(const char* output, const char* key) {
  cli_binary_mode(cli_in);
  return encrypt_stream(read_input, cli_in, output, key);
}

struct sending {
  FILE* stream;
  int code;  // of the write that failed
};

static bool send_bytes(void* context, const void* data, int32_t count) {
  auto* s = static_cast<sending*>(context);
  s->code = cli_write_all(s->stream, data, static_cast<size_t>(count));
  return s->code == 0;
}

const char* cli_stream_decrypt_out(const char* file, const char* target, const char* key,
                                   char* text, int capacity) {
  bool to_stdout = strcmp(target, "-") == 0;
  sending s = {to_stdout ? cli_out : fopen(target, "wb"), 0};
  char reason[256];
  if (s.stream == nullptr) {
    cli_format(text, capacity, "cannot write %s: %s", target,
               cli_reason_text(cli_last_error_code(), reason, sizeof reason));
    return result_write_error;
  }
  cli_binary_mode(s.stream);
  const char* result = decrypt_to_stream(file, send_bytes, &s, key);
  if (!to_stdout) fclose(s.stream);
  if (result == result_write_error)
    cli_format(text, capacity, "cannot write %s: %s", to_stdout ? "standard output" : target,
               cli_reason_text(s.code, reason, sizeof reason));
  return result;
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
