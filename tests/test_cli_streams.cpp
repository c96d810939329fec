// Standard input and output: data read and sent with no plain byte put on a
// disk, named pipes refused without waiting, and no encrypted data to a
// terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../cli/cli.h"
#include "../cli/cli_key.h"
#include "../cli/cli_run.h"
#include "../engine/engine.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "cli_fixture.h"
#include "cli_terminal.h"
#include "test_files.h"

#ifdef _WIN32
#include <windows.h>

#include <cctype>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <csignal>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

// Where the system finds its temporary folder.
#ifdef _WIN32
static const char temp_variable[] = "TMP";
#else
static const char temp_variable[] = "TMPDIR";
#endif

// Standard input and output, through temporary files that never stay.
TEST_F(Cli, StreamsInAndOut) {
  std::string temp = make_temp_folder(), old_temp = env_or_empty(temp_variable);
  set_env(temp_variable, temp.c_str());
  bytes plain = plain_file("p", 300000, 41);
  FILE* in = fopen(path("p").c_str(), "rb");
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-o", path("s.dat"), "-"}, in), 0) << err;
  fclose(in);
  EXPECT_EQ(engine_decrypted(path("s.dat")), plain);
  EXPECT_TRUE(starts_with(out, "(standard input) -> " + path("s.dat"))) << out;

  ASSERT_EQ(run({"decrypt", "--key", test_key, "-o", "-", path("s.dat")}), 0) << err;
  EXPECT_EQ(read_file(streams + "out"), plain);
  EXPECT_TRUE(starts_with(err, path("s.dat") + " -> (standard output): ")) << err;
  // A wrong key sends nothing at all.
  EXPECT_EQ(run({"decrypt", "--key", "wrong key", "-o", "-", path("s.dat")}), 1);
  EXPECT_EQ(read_file(streams + "out"), bytes());
  in = fopen(path("s.dat").c_str(), "rb");
  ASSERT_EQ(run({"decrypt", "--key", test_key, "-o", "-", "-"}, in), 0) << err;
  fclose(in);
  EXPECT_EQ(read_file(streams + "out"), plain);
  // With no FILE, standard input from a file or a pipe is the input.
  in = fopen(path("p").c_str(), "rb");
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-o", path("t.dat")}, in), 0) << err;
  fclose(in);
  in = fopen(path("t.dat").c_str(), "rb");
  ASSERT_EQ(run({"decrypt", "--key", test_key, "-o", path("t")}, in), 0) << err;
  fclose(in);
  EXPECT_EQ(read_file(path("t")), plain);
  EXPECT_EQ(run({"verify", "--key", test_key}), 2) << "verify names its files";
  EXPECT_EQ(folder_names(temp), std::vector<std::string>{});
  set_env(temp_variable, old_temp.c_str());
  remove_tree(temp);
}

// No plain byte is put in a temporary file: with no temporary folder to be
// had at all, standard input is encrypted and decrypt -o - still works; a
// wrong key sends nothing; the key may come from standard input.
TEST_F(Cli, StreamsPutNoPlainDataOnDisk) {
  std::string old_temp = env_or_empty(temp_variable);
  set_env(temp_variable, path("no-such-folder").c_str());
  bytes plain = plain_file("p", 2500000, 54);
  FILE* in = fopen(path("p").c_str(), "rb");
  int status = run({"encrypt", "--key", test_key, "-o", path("s.dat"), "-"}, in);
  fclose(in);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(engine_decrypted(path("s.dat")), plain);
  EXPECT_EQ(run({"decrypt", "--key", test_key, "-o", "-", path("s.dat")}), 0) << err;
  EXPECT_EQ(read_file(streams + "out"), plain);
  EXPECT_EQ(run({"decrypt", "--key", "wrong key", "-o", "-", path("s.dat")}), 1);
  EXPECT_EQ(read_file(streams + "out"), bytes());
  set_env(temp_variable, old_temp.c_str());

  write_file(path("key"), bytes_of(std::string(test_key) + "\n"));
  in = fopen(path("key").c_str(), "rb");
  status = run({"verify", "--key-file", "-", path("s.dat")}, in);
  fclose(in);
  EXPECT_EQ(status, 0) << err;
}

#ifndef _WIN32
// A named pipe is refused at once, never opened (an open waits for a
// writer); in a folder run it fails the run, for its output would be
// missing, until it is left out.
TEST_F(Cli, NamedPipesAreRefusedWithoutWaiting) {
  std::filesystem::create_directories(path("d"));
  plain_file("d/a", 100, 57);
  ASSERT_EQ(mkfifo(path("d/fifo").c_str(), 0600), 0);
  const std::string fifo = path("d/fifo");
  const std::string refused = fifo + ": not a regular file (a named pipe), which cannot be read whole\n";
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-o", path("x.dat"), fifo}), 1);
  EXPECT_EQ(err, refused);
  EXPECT_EQ(run({"decrypt", "--key", test_key, "-o", path("x"), fifo}), 1);
  EXPECT_EQ(err, refused);
  EXPECT_EQ(run({"verify", "--key", test_key, fifo}), 1);
  EXPECT_EQ(err, refused);
  EXPECT_EQ(run({"info", fifo}), 1);
  EXPECT_EQ(err, refused);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-r", "-d", path("enc"), path("d")}), 1) << err;
  EXPECT_EQ(err, fifo + ": not a regular file (a named pipe, a device or the like), which cannot "
                        "be read whole; leave it out with --exclude\n");
  EXPECT_EQ(summary, "qelv: 2 files: 1 written, 1 failed\n");
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-r", "-u", "--exclude", "fifo", "-d", path("enc"),
                 path("d")}), 0) << err;
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("d")}), 0) << err;
  EXPECT_EQ(err, fifo + ": skipped: not a regular file (a named pipe, a device or the like), "
                        "which cannot be read whole\n") << "verify writes nothing: a skip";
}

// Encrypted data is not written to a terminal unless asked for.
TEST_F(CliTerminal, NoEncryptedDataToATerminal) {
  plain_file("a", 100, 58);
  FILE* terminal_out = fdopen(dup(t.slave), "w");
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-o", "-", path("a")}, nullptr, nullptr, terminal_out),
            2);
  EXPECT_NE(err.find("give --to-terminal"), std::string::npos) << err;
  EXPECT_EQ(run({"encrypt", "--key", test_key, "--to-terminal", "-o", "-", path("a")}, nullptr,
                nullptr, terminal_out), 0) << err;
  fclose(terminal_out);
  read_available(&t, 100);
  EXPECT_GE(t.transcript.size(), 127u);
  // A terminal named by -o is guarded as standard output is.
  std::string tty = ttyname(t.slave);
  size_t shown = t.transcript.size();
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-o", tty, path("a")}), 2);
  EXPECT_NE(err.find(tty + " is a terminal"), std::string::npos) << err;
  read_available(&t, 100);
  EXPECT_EQ(t.transcript.size(), shown) << "encrypted data reached the terminal";
}

#endif
