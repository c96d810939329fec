// The command line: the help text, the options each command takes, and
// the checks that they go together, read once into cli_options.

#include "cli_options.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "../runtime/runtime.h"
#include "cli_console.h"
#include "cli_paths.h"
#include "cli_print.h"

#ifndef QELV_VERSION
#define QELV_VERSION "unknown"
#endif

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
    "            header implies, whether decryption reads it and whether\n"
    "            encryption wrote it exactly so\n"
    "\n"
    "The promise: encrypt exits 0 only when every FILE has an output that\n"
    "decrypts under the key to exactly its bytes (written by this run, or\n"
    "found up to date), and no run changes or removes a file but its own\n"
    "outputs.  Whatever would leave an output missing fails the run with its\n"
    "reason and what to do.\n"
    "\n"
    "FILE may be a pattern such as data/*.txt, which qelv expands itself when\n"
    "the shell has not, or a folder, with -r.  FILE - is standard input.\n"
    "encrypt and decrypt fail on files too short for the format (empty or\n"
    "1 byte), named pipes and devices, links to folders and names the system\n"
    "cannot open as files; verify and info skip them.  A file that already\n"
    "is an encrypted file (exactly as encryption writes one) is skipped when\n"
    "its output would lie beside it, and fails the run when its output would\n"
    "be missing elsewhere (--out-dir, --output), unless --allow-encrypted;\n"
    "a file that is an output of another FILE of the run is skipped.\n"
    "  --exclude PATTERN   leave the files PATTERN matches out of the run, as\n"
    "                      rsync and .gitignore do: * any characters in a\n"
    "                      name, ? one, ** across folders, a trailing / for\n"
    "                      folders; without / it matches a name in any folder,\n"
    "                      with / the path below the folder named.  A file left\n"
    "                      out is neither worked nor failed, and its output is\n"
    "                      never deleted.  Give it again for more patterns\n"
    "  --exclude-from FILE the patterns in FILE, one a line (# starts a note)\n"
    "\n"
    "Outputs (encrypt, decrypt):\n"
    "  -o, --output PATH   the output of the one FILE; - is standard output\n"
    "  -d, --out-dir DIR   outputs go into DIR (made with its parents when\n"
    "                      missing) under their FILE's name: encrypt adds the\n"
    "                      suffix, decrypt removes it when the name ends in it\n"
    "      --suffix TEXT   the suffix of encrypted names (default .dat): the end\n"
    "                      of a name, never empty, . or .., nor a separator\n"
    "  Without --output or --out-dir an output lies beside its FILE: encrypt\n"
    "  writes FILE plus the suffix; decrypt writes FILE without the suffix and\n"
    "  refuses a FILE whose name does not end in it.\n"
    "  An existing output is kept, and its FILE fails, unless one of these\n"
    "  is given:\n"
    "  -u, --update        skip a FILE whose output is up to date: it is what\n"
    "                      encryption writes for the FILE and deciphers under\n"
    "                      the key, whole, to exactly the FILE's bytes (times\n"
    "                      decide nothing); write the others, replacing their\n"
    "                      outputs.  For build steps: a run over an unchanged\n"
    "                      tree writes nothing, and a damaged output, a changed\n"
    "                      FILE or another key is written again.\n"
    "  -f, --force         overwrite existing outputs\n"
    "      --allow-encrypted  encrypt FILEs that already are encrypted files\n"
    "      --in-place      allow an output to be its own FILE; without --output\n"
    "                      or --out-dir each FILE is replaced by its result\n"
    "  -n, --dry-run       say what would be written, kept up to date, failed\n"
    "                      and deleted, with the same exit status, and change\n"
    "                      nothing\n"
    "  Two files of one run never share an output, and no output overwrites\n"
    "  a FILE of the run other than its own.  An output, or a folder below\n"
    "  --out-dir on its way, that is a symbolic link (or a junction) fails its\n"
    "  FILE: nothing is read or written through it; --force replaces a link\n"
    "  in the output's place itself, never what it points to.\n"
    "  -r, --recursive     take the files in folders and their subfolders; under\n"
    "                      --out-dir the outputs keep the folders below the one\n"
    "                      named, which are made as needed.  decrypt and verify\n"
    "                      take only the names that end in the suffix, and\n"
    "                      fail a folder that holds files but none of those.\n"
    "  encrypt -r -d DIR also names each encrypted file in DIR whose input is\n"
    "  gone (or too short to encrypt) as \"no input\", which fails the run:\n"
    "      --delete        remove those files instead, each listed: only files\n"
    "                      exactly as encryption writes them that end in the\n"
    "                      suffix, never a FILE of the run, nothing in a FILE's\n"
    "                      folder, nothing through a link.  Refused, and nothing\n"
    "                      done, when the run found no input, or when more than\n"
    "                      half of the encrypted files in DIR would go\n"
    "      --max-delete N  let --delete remove up to N files, however many\n"
    "                      that is of DIR's; refused beyond N\n"
    "  verify:\n"
    "      --input-dir DIR the folder the files were encrypted from: a file\n"
    "                      whose input there is gone or does not decrypt to\n"
    "                      exactly, fails, and under -r so does each input\n"
    "                      there without its encrypted file\n"
    "\n"
    "Streams: with FILE - the data is read from standard input (encrypt and\n"
    "decrypt given no FILE read it too, unless it is a terminal), and with\n"
    "-o - (or -o naming a device or pipe) the output goes to standard output.\n"
    "encrypt - encrypts as it reads; decrypt -o - checks the whole file's\n"
    "check value first and sends the plain bytes in a second pass, so a wrong\n"
    "key or damaged data sends nothing.  Only encrypted data is ever put in a\n"
    "temporary file (in TMPDIR, or TMP on Windows), removed whatever happens.\n"
    "Encrypted data is not written to a terminal:\n"
    "      --to-terminal   write it there all the same\n"
    "\n"
    "Key (encrypt, decrypt, verify); only its first 16 bytes count, and\n"
    "spaces are part of it:\n"
    "      --key-file PATH the first line of PATH, without its line end; - is\n"
    "                      standard input\n"
    "      --key-env NAME  the value of the environment variable NAME\n"
    "      --key TEXT      the key itself.  WARNING: a command line is visible\n"
    "                      to other users of this machine; prefer the others.\n"
    "  With none of these the key is asked for on the terminal, without echo\n"
    "  (twice for encrypt).\n"
    "  Project scripts pass their key in the system's ANSI code page, so the\n"
    "  key is taken as text (in the locale's encoding, the ANSI code page in a\n"
    "  Windows command line, UTF-8 in a key file that is valid UTF-8 or starts\n"
    "  with a byte-order mark) and spelt in that code page; a key file in any\n"
    "  other encoding is taken to be in that code page already:\n"
    "      --key-codepage N    the scripts' code page (default 1252, Western);\n"
    "                          a character it lacks is an error\n"
    "      --key-bytes         use the key's bytes as they arrive, unconverted\n"
    "\n"
    "  -j, --jobs N        files worked at once (default: one per processor, at\n"
    "                      most 8); the report keeps the order of the files\n"
    "  -q, --quiet         print only failures, and the summary when a FILE\n"
    "                      was skipped\n"
    "  -h, --help          print this text (/? too, on Windows)\n"
    "      --version       print the version\n"
    "  Short options combine: -rf is -r -f, -qo out.dat is -q -o out.dat.\n"
    "\n"
    "Each written output is listed on standard output with its sizes and time\n"
    "(on standard error when standard output carries the data), each skipped\n"
    "FILE on standard error as FILE: skipped: REASON, each failure as\n"
    "FILE: REASON; a run of several files ends with a summary on standard\n"
    "error.  When standard error is a terminal, a progress line shows the\n"
    "files done, the share of the bytes, the speed, the time left and the\n"
    "file being worked.  Ctrl+C stops the files being worked at once and\n"
    "removes every temporary file of the run.\n"
    "\n"
    "Exit status: 0 every FILE was written, found up to date or skipped as\n"
    "above (and every output --delete named removed), 1 a FILE failed (or\n"
    "standard output was closed, or --delete was refused), 2 a usage error or\n"
    "no usable key; a build step therefore fails when an output would be\n"
    "missing or stale: an input that cannot be taken or is too short, an\n"
    "encrypted file that is empty or does not hold together (decrypt,\n"
    "verify), standard input too short to encrypt, an input that changed\n"
    "while it was read, and an output without input;\n"
    "interrupted: 130 (Ctrl+C), 143 (termination request), 129 (hang-up);\n"
    "130 on Windows.\n"
    "\n"
    "Examples:\n"
    "  export QELV_KEY='project key'\n"
    "  qelv encrypt --key-env QELV_KEY -u -r -d dist data  # build step: data/a/b\n"
    "                          # -> dist/a/b.dat; again: only what changed\n"
    "  qelv encrypt --key-env QELV_KEY -u -r -d dist --exclude '*.psd' \\\n"
    "       --exclude .gitkeep --delete -n data  # what the step would do\n"
    "  qelv verify --key-env QELV_KEY -r dist --input-dir data\n"
    "  qelv decrypt --key-file key.txt -o - dist/a/b.txt.dat | less\n"
    "  tar -c data | qelv encrypt --key-env QELV_KEY -o data.tar.dat -\n"
    "  qelv info dist/*.dat\n"
    "On Windows: set QELV_KEY=project key, and the same commands with \\ in\n"
    "the paths; qelv.exe expands the patterns itself.  qelv.exe runs on\n"
    "Windows Vista and later (the module, Qelv.lmd, on XP SP3 and later).\n";

// Command masks: which commands take an option.
enum {
  FOR_WRITE = 1 << CMD_ENCRYPT | 1 << CMD_DECRYPT,
  FOR_KEY = FOR_WRITE | 1 << CMD_VERIFY,
  FOR_ALL = FOR_KEY | 1 << CMD_INFO
};

enum option_id {
  OPT_OUTPUT, OPT_OUT_DIR, OPT_SUFFIX, OPT_FORCE, OPT_IN_PLACE, OPT_RECURSIVE, OPT_KEY_FILE,
  OPT_KEY_ENV, OPT_KEY, OPT_KEY_CODEPAGE, OPT_KEY_BYTES, OPT_JOBS, OPT_QUIET, OPT_HELP,
  OPT_VERSION, OPT_UPDATE, OPT_ALLOW_ENCRYPTED, OPT_TO_TERMINAL, OPT_DELETE, OPT_INPUT_DIR,
  OPT_EXCLUDE, OPT_EXCLUDE_FROM, OPT_DRY_RUN, OPT_MAX_DELETE
};

struct option_info {
  const char* long_name;
  char short_name;  // 0: none
  bool takes_value;
  int commands;
};

// In option_id order.
static const option_info known_options[] = {
    {"output", 'o', true, FOR_WRITE},      {"out-dir", 'd', true, FOR_WRITE},
    {"suffix", 0, true, FOR_KEY},          {"force", 'f', false, FOR_WRITE},
    {"in-place", 0, false, FOR_WRITE},     {"recursive", 'r', false, FOR_ALL},
    {"key-file", 0, true, FOR_KEY},        {"key-env", 0, true, FOR_KEY},
    {"key", 0, true, FOR_KEY},             {"key-codepage", 0, true, FOR_KEY},
    {"key-bytes", 0, false, FOR_KEY},      {"jobs", 'j', true, FOR_KEY},
    {"quiet", 'q', false, FOR_ALL},        {"help", 'h', false, FOR_ALL},
    {"version", 0, false, FOR_ALL},        {"update", 'u', false, FOR_WRITE},
    {"allow-encrypted", 0, false, 1 << CMD_ENCRYPT},
    {"to-terminal", 0, false, FOR_WRITE},
    {"delete", 0, false, 1 << CMD_ENCRYPT},
    {"input-dir", 0, true, 1 << CMD_VERIFY},
    {"exclude", 0, true, FOR_ALL},          {"exclude-from", 0, true, FOR_ALL},
    {"dry-run", 'n', false, FOR_WRITE},     {"max-delete", 0, true, 1 << CMD_ENCRYPT},
};
enum { OPTION_COUNT = sizeof known_options / sizeof known_options[0] };
// In cli_command order.
static const cli_command_traits commands[] = {
    {"encrypt", true, true, true, false, false, "written", "written"},
    {"decrypt", false, true, true, false, true, "written", "written"},
    {"verify", false, false, true, false, true, "checked out", "verified"},
    {"info", false, false, false, true, false, "", ""},
};
enum { COMMAND_COUNT = sizeof commands / sizeof commands[0] };

const cli_command_traits& cli_traits(cli_command command) { return commands[command]; }

static int find_long_option(const char* arg, const char** value) {
  *value = nullptr;
  for (int i = 0; i < OPTION_COUNT; i++) {
    const option_info& known = known_options[i];
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

static int find_short_option(char c) {
  for (int i = 0; i < OPTION_COUNT; i++)
    if (known_options[i].short_name != 0 && known_options[i].short_name == c) return i;
  return -1;
}

// value as a whole number from least to most; false when it is none.
static bool number_in(const char* value, long least, long most, long* number) {
  char* end = nullptr;
  *number = strtol(value, &end, 10);
  return end != value && *end == '\0' && *number >= least && *number <= most;
}

// Sets option id; why it cannot be, or empty.
static std::string set_option(cli_options* o, int id, const char* value) {
  long number = 0;
  std::string why;
  switch (id) {
    case OPT_OUTPUT: o->output = value; break;
    case OPT_OUT_DIR: o->out_dir = value; break;
    case OPT_SUFFIX: o->suffix = value; break;
    case OPT_FORCE: o->force = true; break;
    case OPT_IN_PLACE: o->in_place = true; break;
    case OPT_RECURSIVE: o->recursive = true; break;
    case OPT_KEY_FILE: o->key_file = value; o->key_sources++; break;
    case OPT_KEY_ENV: o->key_env = value; o->key_sources++; break;
    case OPT_KEY: o->key_text = value; o->key_sources++; break;
    case OPT_KEY_CODEPAGE:
      if (!number_in(value, 1, 65535, &number))
        return "--key-codepage takes a code page number, such as 1252";
      o->key_codepage = static_cast<unsigned>(number);
      break;
    case OPT_KEY_BYTES: o->key_bytes = true; break;
    case OPT_JOBS:
      if (!number_in(value, 1, CLI_MAX_JOBS, &number))
        return cli_format("--jobs takes a number from 1 to %d", CLI_MAX_JOBS);
      o->jobs = static_cast<int>(number);
      break;
    case OPT_QUIET: o->quiet = true; break;
    case OPT_HELP: o->help = true; break;
    case OPT_VERSION: o->version = true; break;
    case OPT_UPDATE: o->update = true; break;
    case OPT_ALLOW_ENCRYPTED: o->allow_encrypted = true; break;
    case OPT_TO_TERMINAL: o->to_terminal = true; break;
    case OPT_DELETE: o->delete_orphans = true; break;
    case OPT_INPUT_DIR: o->input_dir = value; break;
    case OPT_EXCLUDE: cli_exclude_add(&o->excludes, value, &why); break;
    case OPT_EXCLUDE_FROM: cli_exclude_read(&o->excludes, value, &why); break;
    case OPT_DRY_RUN: o->dry_run = true; break;
    case OPT_MAX_DELETE:
      if (!number_in(value, 0, 1000000000L, &number))
        return "--max-delete takes a count of files, such as 10";
      o->max_delete = number;
      break;
  }
  return why;
}

// Takes option id, whose value (if it takes one) is inline or the next
// argument.  Why it cannot, or empty.
static std::string take_option(cli_options* o, int id, const char* shown, const char* inline_value,
                               int argc, char** argv, int* i) {
  const option_info& known = known_options[id];
  if ((known.commands & 1 << o->command) == 0)
    return cli_format("%s does not apply to %s", shown, commands[o->command].name);
  if (known.takes_value && inline_value == nullptr) {
    if (*i + 1 >= argc) return cli_format("%s needs a value", shown);
    inline_value = argv[++*i];
  }
  return set_option(o, id, inline_value);
}

// A group of short options, "-qf" or "-qo out" or "-oout": each letter is
// an option, and one that takes a value takes the rest of the group, or the
// next argument when it is the last letter.
static std::string take_short_options(cli_options* o, int argc, char** argv, int* i) {
  const char* group = argv[*i];
  for (int k = 1; group[k] != '\0'; k++) {
    int id = find_short_option(group[k]);
    char shown[3] = {'-', group[k], '\0'};
    if (id < 0) return cli_format("unknown option %s (in %s)", shown, group);
    const char* inline_value = nullptr;
    if (known_options[id].takes_value && group[k + 1] != '\0') inline_value = group + k + 1;
    std::string why = take_option(o, id, shown, inline_value, argc, argv, i);
    if (!why.empty() || known_options[id].takes_value) return why;
  }
  return "";
}

static bool is_help_switch(const char* arg) {
  return cli_console_help_switch != nullptr && strcmp(arg, cli_console_help_switch) == 0;
}

// Reads options and files from argv[2] on; why it cannot, or empty.
static std::string parse_arguments(int argc, char** argv, cli_options* o) {
  bool options_end = false;
  for (int i = 2; i < argc; i++) {
    char* arg = argv[i];
    if (!options_end && is_help_switch(arg)) {
      o->help = true;
      continue;
    }
    if (options_end || arg[0] != '-' || arg[1] == '\0') {
      o->files.push_back(arg);
      continue;
    }
    if (strcmp(arg, "--") == 0) {
      options_end = true;
      continue;
    }
    std::string why;
    if (arg[1] == '-') {
      const char* value;
      int id = find_long_option(arg, &value);
      if (id < 0) return cli_format("unknown option %s", arg);
      why = take_option(o, id, arg, value, argc, argv, &i);
    } else {
      why = take_short_options(o, argc, argv, &i);
    }
    if (!why.empty()) return why;
  }
  return "";
}

static bool writes(const cli_options& o) { return cli_traits(o.command).writes; }

// A suffix is the end of a name: it may not lead the output elsewhere.
static bool suffix_is_a_name_ending(const char* suffix) {
  if (suffix[0] == '\0' || strcmp(suffix, ".") == 0 || strcmp(suffix, "..") == 0) return false;
  for (const char* p = suffix; *p != '\0'; p++)
    if (cli_paths_is_separator(*p) || *p == '/' || *p == '\\') return false;
  return true;
}

// The checks of the options one by one; why they do not go together, or
// empty.
static std::string check_outputs(const cli_options& o) {
  if (!suffix_is_a_name_ending(o.suffix))
    return cli_format("--suffix '%s' is not the end of a name: it may not be empty, . or .., nor "
                      "hold a folder separator", o.suffix);
  if (o.max_delete >= 0 && !o.delete_orphans) return "--max-delete goes with --delete";
  if (o.output != nullptr && o.out_dir != nullptr) return "--output and --out-dir exclude each other";
  if (o.output != nullptr && o.output[0] == '\0') return "--output is empty";
  if (o.out_dir != nullptr && o.out_dir[0] == '\0') return "--out-dir is empty";
  // A missing --out-dir is made when the first output is written.
  if (o.out_dir != nullptr && rt_size_query(o.out_dir) >= 0)
    return cli_format("%s: a file, not a folder", o.out_dir);
  if (o.delete_orphans && (!o.recursive || o.out_dir == nullptr))
    return "--delete goes with -r and --out-dir, whose outputs it looks through";
  if (o.input_dir != nullptr && rt_size_query(o.input_dir) != -2)
    return cli_format("--input-dir %s: no such folder", o.input_dir);
  if (o.update && (o.force || o.in_place))
    return cli_format("--update excludes %s", o.force ? "--force" : "--in-place");
  return "";
}

// Read while the code page is 0 unless given.
static std::string check_key(const cli_options& o) {
  if (o.key_sources > 1) return "give one of --key-file, --key-env and --key";
  if (o.key_bytes && o.key_codepage != 0) return "--key-bytes and --key-codepage exclude each other";
  return "";
}

static std::string check_streams(const cli_options& o, FILE* out) {
  bool stdin_input = false;
  for (const char* file : o.files) stdin_input = stdin_input || strcmp(file, "-") == 0;
  bool stdout_output = o.output != nullptr && cli_paths_is_stream(o.output);
  if (o.update && (stdin_input || stdout_output))
    return "--update compares files; it does not apply to standard input or output";
  if (o.dry_run && (stdin_input || stdout_output))
    return "--dry-run names files; it does not apply to standard input or output";
  if (stdin_input && o.key_file != nullptr && strcmp(o.key_file, "-") == 0)
    return "standard input cannot carry both the key and the data";
  // Encrypted data is what a terminal would garble.
  const bool binary_out = cli_traits(o.command).encrypts && stdout_output && !o.to_terminal;
  if (binary_out && strcmp(o.output, "-") == 0 && out != nullptr && cli_console_is_terminal(out))
    return "standard output is a terminal, which encrypted data would garble; redirect it to a "
           "file or pipe, or give --to-terminal";
  if (binary_out && strcmp(o.output, "-") != 0 && cli_console_names_terminal(o.output))
    return cli_format("%s is a terminal, which encrypted data would garble; give another output, "
                      "or --to-terminal", o.output);
  if (stdin_input && writes(o) && o.output == nullptr)
    return "standard input has no name to derive an output from; give -o PATH (or -o - for "
           "standard output)";
  if (stdin_input && cli_traits(o.command).keyed && o.key_sources == 0)
    return "standard input carries the data; give the key with --key-file, --key-env or --key";
  if (o.output != nullptr && strcmp(o.output, "-") == 0 && o.in_place)
    return "--in-place and -o - exclude each other";
  return "";
}

std::string cli_options_check(const cli_options& o, FILE* out) {
  if (o.files.empty()) return "no FILE given";
  std::string why = check_outputs(o);
  if (why.empty()) why = check_streams(o, out);
  return why;
}

cli_options cli_options_for(cli_command command) {
  cli_options o = {};
  o.command = command;
  o.suffix = ".dat";
  o.max_delete = -1;
  o.key_codepage = 1252;
  return o;
}

int cli_options_read(int argc, char** argv, cli_options* o, std::string* text) {
  if (argc < 2) {
    *text = "no COMMAND given";
    return 2;
  }
  const char* name = argv[1];
  if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0 || strcmp(name, "help") == 0 ||
      is_help_switch(name)) {
    *text = help_text;
    return -1;
  }
  if (strcmp(name, "--version") == 0) {
    *text = cli_format("qelv %s\n", QELV_VERSION);
    return -1;
  }
  int command = 0;
  while (command < COMMAND_COUNT && strcmp(name, commands[command].name) != 0) command++;
  if (command == COMMAND_COUNT) {
    *text = cli_format("unknown command %s", name);
    return 2;
  }
  *o = cli_options_for(static_cast<cli_command>(command));
  o->key_codepage = 0;  // 0 until given, so that --key-bytes with it is caught
  *text = parse_arguments(argc, argv, o);
  if (!text->empty()) return 2;
  if (o->help || o->version) {
    *text = o->help ? std::string(help_text) : cli_format("qelv %s\n", QELV_VERSION);
    return -1;
  }
  *text = check_key(*o);
  if (o->key_codepage == 0) o->key_codepage = 1252;
  return text->empty() ? 0 : 2;
}
