// qelv: encrypts, decrypts, verifies and inspects files in the encrypted
// file format, for preparing a project's data in batch.  The command line is
// read once into the options below; each file is then processed on its own,
// so that one failure does not stop the others.

#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "../engine/engine.h"
#include "../runtime/runtime.h"
#include "cli.h"

static const char help_text[] =
    "Usage: qelv COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Commands:\n"
    "  encrypt   encrypt each FILE\n"
    "  decrypt   decrypt each FILE; an output is written only when the data\n"
    "            checks out\n"
    "  verify    decrypt each FILE in memory and say whether the key and the\n"
    "            data check out; writes nothing\n"
    "  info      show each FILE's header, its length against the length the\n"
    "            header implies, and whether this format could have written it\n"
    "\n"
    "Outputs (encrypt, decrypt):\n"
    "  -o, --output PATH   the output of the one FILE\n"
    "  -d, --out-dir DIR   outputs go into the existing folder DIR under their\n"
    "                      FILE's name: encrypt adds the suffix, decrypt removes\n"
    "                      it when the name ends in it\n"
    "      --suffix TEXT   the suffix of encrypted names (default .dat)\n"
    "  Without --output or --out-dir an output lies beside its FILE: encrypt\n"
    "  writes FILE plus the suffix; decrypt writes FILE without the suffix and\n"
    "  refuses a FILE whose name does not end in it.\n"
    "  -f, --force         overwrite outputs that exist already\n"
    "      --in-place      allow an output to be its own FILE; without --output\n"
    "                      or --out-dir each FILE is replaced by its result\n"
    "  Two files of one run never share an output, and no output overwrites\n"
    "  a FILE of the run other than its own.\n"
    "\n"
    "Key (encrypt, decrypt, verify); only its first 16 bytes count, and\n"
    "spaces are part of it:\n"
    "      --key-file PATH the first line of PATH, without its line end\n"
    "      --key-env NAME  the value of the environment variable NAME\n"
    "      --key TEXT      the key itself.  WARNING: a command line is visible\n"
    "                      to other users of this machine; prefer the others.\n"
    "  With none of these the key is asked for on the terminal, without echo\n"
    "  (twice for encrypt).\n"
    "\n"
    "  -q, --quiet         print nothing but errors\n"
    "  -h, --help          print this text\n"
    "\n"
    "Each success is listed on standard output with its sizes and time, each\n"
    "failure on standard error as FILE: REASON.  With more than one FILE a\n"
    "progress line is kept on standard error when it is a terminal.\n"
    "\n"
    "Exit status: 0 every FILE succeeded, 1 a FILE failed, 2 a usage error or\n"
    "no usable key.\n";

enum command_id { CMD_ENCRYPT, CMD_DECRYPT, CMD_VERIFY, CMD_INFO };
static const char* const command_names[] = {"encrypt", "decrypt", "verify", "info"};

// Command masks: which commands take an option.
enum { FOR_WRITE = 1 << CMD_ENCRYPT | 1 << CMD_DECRYPT, FOR_KEY = FOR_WRITE | 1 << CMD_VERIFY,
       FOR_ALL = FOR_KEY | 1 << CMD_INFO };

enum option_id { OPT_OUTPUT, OPT_OUT_DIR, OPT_SUFFIX, OPT_FORCE, OPT_IN_PLACE, OPT_KEY_FILE,
                 OPT_KEY_ENV, OPT_KEY, OPT_QUIET, OPT_HELP };

struct option_info {
  const char* long_name;
  char short_name;  // 0: none
  bool takes_value;
  int commands;
};

// In option_id order.
static const option_info known_options[] = {
    {"output", 'o', true, FOR_WRITE},   {"out-dir", 'd', true, FOR_WRITE},
    {"suffix", 0, true, FOR_WRITE},     {"force", 'f', false, FOR_WRITE},
    {"in-place", 0, false, FOR_WRITE},  {"key-file", 0, true, FOR_KEY},
    {"key-env", 0, true, FOR_KEY},      {"key", 0, true, FOR_KEY},
    {"quiet", 'q', false, FOR_ALL},     {"help", 'h', false, FOR_ALL},
};
enum { OPTION_COUNT = sizeof known_options / sizeof known_options[0] };

struct options {
  command_id command;
  const char* output;
  const char* out_dir;
  const char* suffix;
  bool force, in_place, quiet, help;
  const char* key_file;
  const char* key_env;
  const char* key_text;
  int key_sources;
};

static FILE* in_stream;
static FILE* out_stream;
static FILE* err_stream;

void cli_set_streams(FILE* in, FILE* out, FILE* err) {
  in_stream = in;
  out_stream = out;
  err_stream = err;
}

// Keys are single lines; only 16 bytes of one count, the rest is read and
// dropped.
enum { KEY_BUFFER_SIZE = 1024, PATH_BUFFER_SIZE = 4096 };
static char key[KEY_BUFFER_SIZE];

// A failure text made for one file, valid until the next is made.
static char failure_text[PATH_BUFFER_SIZE + 128];

static int usage_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("qelv: ", err_stream);
  vfprintf(err_stream, format, args);
  fputs("\nTry 'qelv --help'.\n", err_stream);
  va_end(args);
  return 2;
}

static int find_option(const char* arg, const char** value) {
  *value = nullptr;
  for (int i = 0; i < OPTION_COUNT; i++) {
    const option_info& known = known_options[i];
    if (arg[1] != '-') {
      if (known.short_name != 0 && arg[1] == known.short_name && arg[2] == '\0') return i;
      continue;
    }
    size_t n = strlen(known.long_name);
    if (strncmp(arg + 2, known.long_name, n) != 0) continue;
    if (arg[2 + n] == '\0') return i;
    if (arg[2 + n] == '=' && known.takes_value) {
      *value = arg + 3 + n;
      return i;
    }
  }
  return -1;
}

static void set_option(options* o, int id, const char* value) {
  switch (id) {
    case OPT_OUTPUT: o->output = value; break;
    case OPT_OUT_DIR: o->out_dir = value; break;
    case OPT_SUFFIX: o->suffix = value; break;
    case OPT_FORCE: o->force = true; break;
    case OPT_IN_PLACE: o->in_place = true; break;
    case OPT_KEY_FILE: o->key_file = value; o->key_sources++; break;
    case OPT_KEY_ENV: o->key_env = value; o->key_sources++; break;
    case OPT_KEY: o->key_text = value; o->key_sources++; break;
    case OPT_QUIET: o->quiet = true; break;
    case OPT_HELP: o->help = true; break;
  }
}

// Reads options and files from argv[2] on.  The files are moved to the front
// of that range (a file never lands on an argument not yet read) and counted
// in *file_count.  Returns 0, or 2 after a usage message.
static int parse_arguments(int argc, char** argv, options* o, int* file_count) {
  int files = 0;
  bool options_end = false;
  for (int i = 2; i < argc; i++) {
    char* arg = argv[i];
    if (options_end || arg[0] != '-' || arg[1] == '\0') {
      argv[2 + files++] = arg;
      continue;
    }
    if (strcmp(arg, "--") == 0) {
      options_end = true;
      continue;
    }
    const char* value;
    int id = find_option(arg, &value);
    if (id < 0) return usage_error("unknown option %s", arg);
    const option_info& known = known_options[id];
    if ((known.commands & 1 << o->command) == 0)
      return usage_error("%s does not apply to this command", arg);
    if (known.takes_value && value == nullptr) {
      if (i + 1 >= argc) return usage_error("%s needs a value", arg);
      value = argv[++i];
    }
    set_option(o, id, value);
  }
  *file_count = files;
  return 0;
}

static int check_options(const options& o, int file_count) {
  if (o.help) return 0;
  if (file_count == 0) return usage_error("no FILE given");
  if (o.output != nullptr && o.out_dir != nullptr)
    return usage_error("--output and --out-dir exclude each other");
  if (o.output != nullptr && file_count > 1)
    return usage_error("--output takes one FILE; use --out-dir for more");
  if (o.output != nullptr && o.output[0] == '\0') return usage_error("--output is empty");
  if (o.out_dir != nullptr && rt_size_query(o.out_dir) != -2)
    return usage_error("--out-dir %s is not a folder", o.out_dir);
  if (o.key_sources > 1)
    return usage_error("give one of --key-file, --key-env and --key");
  return 0;
}

// Reads one line into buffer, without its line end ("\n" or "\r\n"); a
// longer line is cut to the buffer.  False when the stream holds nothing.
static bool read_line(FILE* in, char* buffer, int size) {
  int n = 0, c = 0;
  bool any = false;
  while ((c = getc(in)) != EOF && c != '\n') {
    any = true;
    if (n < size - 1) buffer[n++] = static_cast<char>(c);
  }
  if (n > 0 && buffer[n - 1] == '\r') n--;
  buffer[n] = '\0';
  return any || c == '\n';
}

static bool prompt_hidden(const char* prompt, char* buffer, int size) {
  fputs(prompt, err_stream);
  fflush(err_stream);
  bool hidden = cli_echo_off(in_stream);
  bool got = read_line(in_stream, buffer, size);
  if (hidden) cli_echo_on(in_stream);
  fputs("\n", err_stream);  // the Enter key was not echoed
  return got;
}

static int key_from_prompt(const options& o) {
  if (!cli_is_terminal(in_stream))
    return usage_error("no key: give --key-file, --key-env or --key");
  if (!prompt_hidden("Key: ", key, sizeof key)) return usage_error("no key entered");
  if (o.command == CMD_ENCRYPT) {
    // A mistyped key would leave the files unreadable.
    static char again[KEY_BUFFER_SIZE];
    bool got = prompt_hidden("Key again: ", again, sizeof again);
    bool same = got && strcmp(again, key) == 0;
    memset(again, 0, sizeof again);
    if (!same) return usage_error("the two keys differ");
  }
  return 0;
}

static int key_from_file(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return usage_error("cannot read the key file %s", path);
  read_line(f, key, sizeof key);
  fclose(f);
  return 0;
}

static int key_from_environment(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr) return usage_error("the environment variable %s is not set", name);
  snprintf(key, sizeof key, "%s", value);
  return 0;
}

// Takes the key from its one source and applies the engine's rule early: a
// key of nothing but spaces is refused once, not for each file.
static int obtain_key(const options& o) {
  int status = 0;
  if (o.key_file != nullptr) status = key_from_file(o.key_file);
  else if (o.key_env != nullptr) status = key_from_environment(o.key_env);
  else if (o.key_text != nullptr) snprintf(key, sizeof key, "%s", o.key_text);
  else status = key_from_prompt(o);
  if (status != 0) return status;
  if (strspn(key, " ") == strlen(key)) return usage_error("the key is empty or only spaces");
  if (strlen(key) > 16 && !o.quiet)
    fputs("qelv: note: only the first 16 bytes of the key count\n", err_stream);
  return 0;
}

static bool ends_with(const char* text, const char* end) {
  size_t n = strlen(text), m = strlen(end);
  return n >= m && strcmp(text + n - m, end) == 0;
}

static const char* name_in_path(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; p++)
    if (cli_is_separator(*p)) name = p + 1;
  return name;
}

// Makes the failure text of one file.
static const char* failed(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(failure_text, sizeof failure_text, format, args);
  va_end(args);
  return failure_text;
}

// The output path of file under the options, into buffer.  Returns null, or
// the failure text when there is none.
static const char* output_path(const options& o, const char* file, char* buffer, size_t size) {
  bool encrypt = o.command == CMD_ENCRYPT;
  size_t suffix_length = strlen(o.suffix);
  int n;
  if (o.output != nullptr) {
    n = snprintf(buffer, size, "%s", o.output);
  } else if (o.out_dir != nullptr) {
    const char* name = name_in_path(file);
    size_t dir_length = strlen(o.out_dir);
    bool needs_separator = dir_length > 0 && !cli_is_separator(o.out_dir[dir_length - 1]);
    size_t name_length = strlen(name);
    const char separator[2] = {cli_separator, '\0'};
    // A name that is only the suffix keeps it: it would be left empty.
    if (!encrypt && name_length > suffix_length && ends_with(name, o.suffix))
      name_length -= suffix_length;
    n = snprintf(buffer, size, "%s%s%.*s%s", o.out_dir,
                 needs_separator ? separator : "",
                 static_cast<int>(name_length), name, encrypt ? o.suffix : "");
  } else if (o.in_place) {
    n = snprintf(buffer, size, "%s", file);
  } else if (encrypt) {
    n = snprintf(buffer, size, "%s%s", file, o.suffix);
  } else {
    size_t name_length = strlen(name_in_path(file));
    if (name_length <= suffix_length || !ends_with(file, o.suffix)) {
      return failed("the name does not end in %s; give --output or --out-dir", o.suffix);
    }
    n = snprintf(buffer, size, "%.*s", static_cast<int>(strlen(file) - suffix_length), file);
  }
  return n < 0 || static_cast<size_t>(n) >= size ? failed("the output path would be too long")
                                                   : nullptr;
}

// Refuses an output that would harm a file it should not: the file's own
// input without --in-place, an existing file without --force, a folder, an
// input of another file of the run, or the output of an earlier one.  The
// last two cost a look at every file of the run, so they are made only when
// the output exists, that is, only when overwriting was allowed.
static const char* check_output(const options& o, char** files, int count, int index,
                                const char* output) {
  bool own_input = cli_same_file(files[index], output);
  int64_t size = rt_size_query(output);
  if (own_input && !o.in_place)
    return failed("the output is the file itself; give --in-place to replace it");
  if (size == -2) return failed("the output %s is a folder", output);
  if (size < 0) return nullptr;
  if (!own_input && !o.force) return failed("%s exists; give --force to overwrite it", output);
  static char other_output[PATH_BUFFER_SIZE];
  for (int j = 0; j < count; j++) {
    if (j != index && cli_same_file(output, files[j]))
      return failed("the output %s is also an input of this run", output);
    if (j < index && output_path(o, files[j], other_output, sizeof other_output) == nullptr &&
        cli_same_file(output, other_output))
      return failed("the output %s is also the output of %s", output, files[j]);
  }
  return nullptr;
}

// What a success reports: the sizes before and after, and the time taken.
struct file_report {
  const char* output;  // null: nothing written
  int64_t size, output_size;
  double seconds;
};

static const char* write_one(const options& o, char** files, int count, int index,
                             file_report* report) {
  static char output[PATH_BUFFER_SIZE];
  const char* file = files[index];
  const char* refusal = output_path(o, file, output, sizeof output);
  if (refusal == nullptr) refusal = check_output(o, files, count, index, output);
  if (refusal != nullptr) return refusal;
  double start = cli_seconds();
  const char* result = o.command == CMD_ENCRYPT ? encrypt_file(file, output, key)
                                                : decrypt_file(file, output, key);
  report->seconds = cli_seconds() - start;
  report->output = output;
  report->output_size = rt_size_query(output);
  return result;
}

static const char* verify_one(const char* file, file_report* report) {
  double start = cli_seconds();
  const char* result = cli_verify_file(file, key);
  report->seconds = cli_seconds() - start;
  return result;
}

static void print_success(const options& o, const char* file, const file_report& r) {
  if (o.command == CMD_VERIFY)
    fprintf(out_stream, "%s: key and data check out, %" PRId64 " bytes, %.3f s\n", file, r.size,
            r.seconds);
  else if (o.command != CMD_INFO)
    fprintf(out_stream, "%s -> %s: %" PRId64 " -> %" PRId64 " bytes, %.3f s\n", file, r.output,
            r.size, r.output_size, r.seconds);
  fflush(out_stream);
}

// The progress line on standard error: written over in place, and wiped
// before any other line is printed.
static int progress_width;

static void progress_show(int done, int count, int64_t bytes_done, int64_t bytes_all) {
  progress_width = fprintf(err_stream, "\r%d/%d files, %" PRId64 "/%" PRId64 " bytes", done,
                           count, bytes_done, bytes_all);
  fflush(err_stream);
}

static void progress_wipe() {
  if (progress_width > 0) fprintf(err_stream, "\r%*s\r", progress_width - 1, "");
  progress_width = 0;
}

static int64_t size_or_zero(const char* file) {
  int64_t size = rt_size_query(file);
  return size > 0 ? size : 0;
}

static int run_files(const options& o, char** files, int count) {
  int64_t bytes_all = 0, bytes_done = 0;
  for (int i = 0; i < count; i++) bytes_all += size_or_zero(files[i]);
  bool progress = count > 1 && !o.quiet && cli_is_terminal(err_stream);
  int failures = 0;
  for (int i = 0; i < count; i++) {
    if (progress) progress_show(i, count, bytes_done, bytes_all);
    file_report report = {};
    report.size = size_or_zero(files[i]);
    const char* result;
    if (o.command == CMD_ENCRYPT || o.command == CMD_DECRYPT) {
      result = write_one(o, files, count, i, &report);
      progress_wipe();
    } else if (o.command == CMD_VERIFY) {
      result = verify_one(files[i], &report);
      progress_wipe();
    } else {
      progress_wipe();  // the fields are printed while they are read
      result = cli_info_file(files[i], o.quiet ? nullptr : out_stream);
      fflush(out_stream);
    }
    bytes_done += report.size;
    if (result == result_ok && !o.quiet) print_success(o, files[i], report);
    if (result != result_ok) {
      fprintf(err_stream, "%s: %s\n", files[i], result);
      failures++;
    }
  }
  if (progress) {
    progress_show(count, count, bytes_done, bytes_all);
    fputs("\n", err_stream);
    progress_width = 0;
  }
  return failures > 0 ? 1 : 0;
}

int cli_main(int argc, char** argv) {
  if (in_stream == nullptr) cli_set_streams(stdin, stdout, stderr);
  if (argc < 2) return usage_error("no COMMAND given");
  const char* name = argv[1];
  if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0 || strcmp(name, "help") == 0) {
    fputs(help_text, out_stream);
    return 0;
  }
  options o = {};
  o.suffix = ".dat";
  int command = 0;
  while (command < 4 && strcmp(name, command_names[command]) != 0) command++;
  if (command == 4) return usage_error("unknown command %s", name);
  o.command = static_cast<command_id>(command);

  int file_count = 0;
  int status = parse_arguments(argc, argv, &o, &file_count);
  if (status == 0) status = check_options(o, file_count);
  if (status != 0) return status;
  if (o.help) {
    fputs(help_text, out_stream);
    return 0;
  }
  if (o.command != CMD_INFO) status = obtain_key(o);
  if (status == 0) status = run_files(o, argv + 2, file_count);
  memset(key, 0, sizeof key);  // the key lives no longer than the run
  return status;
}
