// qelv, the command-line tool: encrypt, decrypt, verify and inspect files in
// the encrypted file format, many at a time.  cli_main is the whole program
// except the runtime's start and stop, so that tests can run it in-process.
// The modules below share this header; each function carries its module's
// prefix after cli_.
#pragma once

#include <cstdint>
#include <cstdio>

// Runs one command line; returns the exit status (0 all files succeeded or
// were skipped, 1 a file failed, 2 usage error or no key, or the status
// cli_run_stop was given).  The caller has started the runtime.
int cli_main(int argc, char** argv);

// The streams cli_main reads the key prompt and standard input from and
// writes to; stdin, stdout and stderr unless a test sets others.
void cli_set_streams(FILE* in, FILE* out, FILE* err);
extern FILE* cli_in;
extern FILE* cli_out;
extern FILE* cli_err;

enum cli_command { CMD_ENCRYPT, CMD_DECRYPT, CMD_VERIFY, CMD_INFO };

struct cli_options {
  cli_command command;
  const char* output;   // --output; "-" is standard output
  const char* out_dir;  // --out-dir
  const char* suffix;
  bool force;            // overwrite existing outputs
  bool update;           // skip inputs whose output is up to date, replace the others
  bool allow_encrypted;  // encrypt inputs that already are encrypted files
  bool to_terminal;      // binary output may go to a terminal
  bool in_place, recursive, quiet, help, version, key_bytes;
  const char* key_file;
  const char* key_env;
  const char* key_text;  // an argument itself, so that the platform finds its own copy
  int key_sources;
  unsigned key_codepage;  // the scripts' code page the key is converted to
  int jobs;               // workers; 0: one per processor
};

enum { CLI_PATH_CAPACITY = 4352, CLI_KEY_CAPACITY = 1024, CLI_TEXT_CAPACITY = 5120 };

// ---- cli_print.cpp: what the tool says.
// Prints like fprintf, through the platform's writer, so that names show
// correctly in a Windows console.
void cli_print(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// "qelv: MESSAGE" and a pointer to --help on the error stream; returns 2.
int cli_usage_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "qelv: note: MESSAGE" unless quiet.
void cli_note(const char* format, ...) __attribute__((format(printf, 1, 2)));
void cli_print_set_quiet(bool quiet);
// A size for people: "1 byte", "32 bytes", "1,023 bytes", "4.2 MB", "1.9 GB"
// (powers of ten, like the speeds).
const char* cli_size_text(int64_t bytes, char* text, int capacity);
// "1 file", "2 files": count and the singular or plural.
const char* cli_count_text(int64_t count, const char* one, const char* many, char* text,
                           int capacity);
// Formats into text (cut to capacity) and returns it.
const char* cli_format(char* text, int capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// ---- cli_key.cpp: the key, as the scripts' code page spells it.
// Fills key from the options' one source, converted unless --key-bytes.
// Returns 0, or 2 after a usage message.
int cli_key_obtain(const cli_options& o, char key[CLI_KEY_CAPACITY]);

// ---- cli_inputs.cpp: what a run works on.
// OK: written (or verified); CURRENT: the output was up to date (--update);
// STOPPED: stopped at a piece by an interrupt or a closed standard output,
// nothing written.
enum cli_outcome { OUTCOME_OK, OUTCOME_SKIPPED, OUTCOME_FAILED, OUTCOME_CURRENT, OUTCOME_STOPPED };

struct cli_item {
  char* path;           // the file as given or found; for standard input, its spool file
  const char* shown;    // the name in messages: path, or "(standard input)"
  int relative_at;      // where in path the part kept under --out-dir begins
  char* output;         // the planned output, or null (verify, info, or no name to give)
  const char* planned;  // set while collecting or planning: why the item is not worked
  cli_outcome planned_outcome;
  const char* skip_kind;  // a skip's reason in a word or two, for the closing summary
  bool from_stdin;
  int started;  // set by the worker that takes the item
  // Filled in by the worker; done is set last.
  cli_outcome outcome;
  char* message;  // the reason of a failure or a skip
  int64_t size, output_size;
  double seconds;
  int done;
};

// Which file an input is, whatever its spelling.
struct cli_identity {
  uint64_t volume, file;
  int item;
};

struct cli_batch {
  cli_item* items;
  int count, capacity;
  cli_identity* identities;  // of the inputs when the run began, sorted
  int identity_count;
  char** stale;  // temporary files of the engine's found where the run reads or writes, sorted
  int stale_count;
};

// Turns the FILE arguments into items: patterns expanded, folders walked
// under --recursive and noted otherwise.  Returns 0, or 2 after a usage
// message.
int cli_inputs_collect(const cli_options& o, char** args, int count, cli_batch* batch);
// Plans each item's output, and refuses the later of two items that would
// write one output.
void cli_inputs_plan(const cli_options& o, cli_batch* batch);
// True when the output of item index would harm a file it should not; the
// reason is then in text.  Looks at the disk as it is now.
bool cli_inputs_refuse_output(const cli_options& o, const cli_batch& batch, int index,
                              char* text, int capacity);
// Makes the folders under --out-dir that an output lies in, --out-dir and
// its parents included.
bool cli_inputs_make_folders(const cli_options& o, const char* output, char* text,
                             int capacity);
// Notes in the batch the engine's temporary files ("~qelv-*.tmp") that lie
// in the folders the planned outputs go to; the folders walked were looked
// at while collecting.
void cli_inputs_find_stale(cli_batch* batch);
// True when item's output exists, is at least as new as its input and
// agrees with the input's length (--update).
bool cli_inputs_up_to_date(const cli_options& o, const cli_item& item);
void cli_inputs_free(cli_batch* batch);
bool cli_inputs_ends_with_suffix(const char* name, const char* suffix);

// ---- cli_run.cpp: the workers, the progress line and the report.
int cli_run(const cli_options& o, cli_batch* batch, const char* key);
// For the interrupt handling, from any thread: no further item is taken,
// the engine's calls stop at their next piece, and cli_run returns status
// once the running files have stopped and their temporary files are gone.
// True when a run is there to do so; false when none is going on.
bool cli_run_stop(int status);
// The status cli_run_stop was given, or 0.
int cli_run_stopped();
// The workers still inside an item.
int cli_run_busy();
// Removes the temporary files of the engine's calls in progress.
void cli_run_remove_temp_files();

// ---- cli_explain.cpp: failures in plain words.
// The text of a failed engine call on item: what went wrong, with the
// system's reason where one can be found by looking again.
void cli_explain(const cli_options& o, const cli_item& item, const char* engine_result,
                 const char* output, char* text, int capacity);
// Why file is not one to read: "no such file", "a folder", "empty", ...;
// null when it is a readable file.
const char* cli_explain_input(const char* file, char* text, int capacity);
// The reason a file that is too short for the format is skipped.
extern const char cli_too_short[];
// "header claims 1,500,023 bytes, file holds 1,499,023 bytes": two sizes
// in words, exact where the rounded forms would read alike.
void cli_two_sizes(int64_t a, int64_t b, char* a_text, char* b_text, int capacity);

// ---- cli_stream.cpp: standard input and output, and the tool's own
// temporary files, which hold ciphertext only.
// Copies standard input (encrypted data) into a temporary file; its path
// goes to path.
bool cli_stream_spool_input(char* path, int capacity, char* text, int text_capacity);
// A path in a private temporary folder for an encrypted output bound for a
// stream.
bool cli_stream_output_path(char* path, int capacity);
// Copies file to the stream (standard output for "-", else the device
// target names) and removes it.  False with the reason in text.
bool cli_stream_copy_out(const char* file, const char* target, char* text, int capacity);
// Encrypts standard input into output as it is read.
const char* cli_stream_encrypt_input(const char* output, const char* key);
// Decrypts file to target (a stream), checking the CRC before any byte is
// sent.  The engine's result; a failed write's reason goes to text.
const char* cli_stream_decrypt_out(const char* file, const char* target, const char* key,
                                   char* text, int capacity);
// True when target is standard output or a device, pipe or the like.
bool cli_stream_is_stream(const char* target);
// Removes every temporary file and folder of the tool's own; safe to call
// from the platform's interrupt handling as well.
void cli_stream_cleanup();

// ---- cli_inspect.cpp: reading encrypted files without writing.
const char* cli_verify_file(const char* file, const char* key);
// Prints the header fields of file, under the name shown, to out (null:
// nothing) and judges whether this format could have written it.  Returns
// the engine's result_ok, or its result text that says why not.
const char* cli_info_file(const char* file, const char* shown, FILE* out);
// The facts of a file's header against its length.
struct cli_header_facts {
  int64_t length;   // the file's length
  int64_t implied;  // the length the header implies, -1 for none
  int64_t plain_size;
  bool readable;    // the file could be opened and read
  bool whole_header;
  int problems;     // reasons this format could not have written it
  char problem_text[256];
  int oddities;     // what differs from what the writer writes, which decryption ignores
  char odd_text[256];
};
void cli_inspect_header(const char* file, cli_header_facts* facts);

// ---- Platform pieces: cli_platform_posix.cpp, cli_platform_win32.cpp.
bool cli_is_terminal(FILE* stream);
bool cli_echo_off(FILE* in);  // false: not a terminal, echo unchanged
void cli_echo_on(FILE* in);   // undoes cli_echo_off
// True when both paths exist and name the same file, however spelt.
bool cli_same_file(const char* a, const char* b);
// The volume and file numbers of an existing path; false when it has none.
bool cli_file_identity(const char* path, uint64_t* volume, uint64_t* file);
double cli_seconds();          // a monotonic clock, for timings
bool cli_is_separator(char c); // a character that ends a folder name in a path
extern const char cli_separator;  // the one put between a folder and a name
// Compares names the way the file system does: case-blind on Windows.
int cli_name_compare(const char* a, const char* b, size_t n);
// Writes text to stream: to a Windows console as the characters it means.
void cli_write_text(FILE* stream, const char* text);
void cli_binary_mode(FILE* stream);  // no line-end translation on Windows
int cli_processor_count();

// Threads: a worker runs fn(arg); join waits for it.
typedef uintptr_t cli_thread;
bool cli_thread_start(cli_thread* thread, void (*fn)(void*), void* arg);
void cli_thread_join(cli_thread thread);
void cli_sleep_ms(int ms);

// Folders and patterns.
bool cli_has_wildcard(const char* arg);
// The kind passed to the callbacks below: 0 a file, 1 a folder, 2 a link
// to a folder, 3 something else (a named pipe, a device).
typedef void cli_found(const char* path_or_name, int kind, void* context);
// Calls found(path, kind, context) for each path matching pattern (whose
// wildcards stand in its last part only), in name order.  Returns the count
// of matches, or -1 when the folder cannot be read.
int cli_expand_pattern(const char* pattern, cli_found* found, void* context);
// Calls found(name, kind, context) for each entry of folder but "." and
// "..", in name order; -1 when the folder cannot be read.
int cli_list_folder(const char* folder, cli_found* found, void* context);
bool cli_make_folder(const char* path, char* text, int capacity);  // one level; true if it exists
// The last modification time of path, in the system's units; false when it
// has none.
bool cli_file_time(const char* path, int64_t* time);
// What path is when it exists but is neither a regular file nor a folder
// ("a named pipe", "a device"), found without opening it; null otherwise.
const char* cli_special_kind(const char* path);
// Writes count bytes to stream, past its buffer; 0, or the system's error
// code (for cli_reason_text).
int cli_write_all(FILE* stream, const void* data, size_t count);

// Keys.  The key's characters as Unicode code points.
enum cli_text_encoding {
  TEXT_LOCAL,    // the locale's encoding; on Windows the ANSI code page
  TEXT_CONSOLE,  // typed at the terminal: on Windows the console's input code page
  TEXT_UTF8,
};
// Returns the count of points, or -1 when the bytes are not text in that
// encoding (*bad_at: the offset of the first byte that is not).
int cli_decode_text(const char* bytes, cli_text_encoding from, uint32_t* points, int capacity,
                    int* bad_at);
// The platform's own copy of the argument arg (the very string of argv), or
// of the environment variable name, when it keeps one that no conversion has touched (Windows:
// the wide command line and environment); -2 when it has none (then the
// bytes are used), -1 for an unset variable.
int cli_argument_points(const char* arg, uint32_t* points, int capacity);
int cli_environment_points(const char* name, uint32_t* points, int capacity);
// The points in code page, zero-terminated.  Returns the byte count; -1 when
// the code page lacks point bad_at; -2 when the code page is not known here.
int cli_encode_text(const uint32_t* points, int count, unsigned codepage, char* out,
                    int capacity, int* bad_at);
// The name of TEXT_LOCAL's encoding, for messages.
const char* cli_local_encoding(char* text, int capacity);
// True when the argument arg (the very string of argv) could not be given
// whole in the ANSI code page (Windows, whose file functions here take that
// code page).
bool cli_argument_lossy(const char* arg);

// The system's reasons.  code_of_last is errno or GetLastError.
int cli_last_error_code();
const char* cli_reason_text(int code, char* text, int capacity);
// True for the codes that say a file or a folder on its path does not exist.
bool cli_code_is_missing(int code);
// Reads one byte of file; 0 when it can, else the system's error code.
int cli_probe_read(const char* file);
// Why output cannot be written with needed bytes in it, looked for without
// changing anything the user owns; null when nothing is found.
const char* cli_probe_write(const char* output, int64_t needed, char* text, int capacity);
// True when the path is longer than the system's file functions take here.
bool cli_path_too_long(const char* path);

// Temporary files of the tool's own, in the system's temporary folder
// (TMPDIR, or TEMP on Windows), named qelv-*: a new file, opened for
// writing, or a new folder.  The path goes to path.
bool cli_temp_folder(char* path, int capacity);  // with a separator at the end
FILE* cli_temp_file(char* path, int capacity);
bool cli_temp_folder_make(char* path, int capacity);
bool cli_remove(const char* path, bool folder);
// Takes the interrupts (Ctrl+C, a hang-up, a termination request; on
// Windows Ctrl+Break and the console closing too): each stops the run
// (cli_run_stop), and cli_interrupt_end ends the process once the run has
// cleaned up; when no run answers in time, cleanup runs and the process
// ends from the interrupt's own thread.  A closed pipe becomes a write
// error.  Only the program calls these, not the tests that run cli_main
// in-process.
void cli_guard_interrupts(void (*cleanup)());
// Ends the process as the interrupt would have: by the signal natively
// (status 128 + its number), with status 130 on Windows.
void cli_interrupt_end();
// Whether target is a character device, a pipe or the like.
bool cli_is_device(const char* target);
#ifdef _WIN32
// The arguments made from the wide command line, in the ANSI code page;
// null when they cannot be had (the C library's are used then).
char** cli_platform_arguments(int* argc);
#endif
