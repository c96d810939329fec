// Outputs without inputs and nothing missing passing for a success.

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

// An output whose input is gone (or emptied) is named by the build step and
// by verify given the input folder, and fails them; --delete removes it,
// and never a file that is not of this format.
TEST_F(Cli, OutputsWithoutInputsAreFound) {
  std::filesystem::create_directories(path("data/sub"));
  plain_file("data/sub/text5.txt", 300, 64);
  plain_file("data/a.txt", 200, 65);
  const std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "-d",
                                         path("dist"), path("data")};
  ASSERT_EQ(run(step), 0) << err;
  bytes foreign = bytes_of("not an encrypted file, though its name ends so");
  write_file(path("dist/sub/notes.dat"), foreign);
  std::filesystem::remove(path("data/sub/text5.txt"));
  const std::string sep(1, dir.back());  // the platform's, as a folder's files are named
  const std::string gone = path("dist") + sep + "sub" + sep + "text5.txt.dat";
  const std::string said =
      gone + ": no input (" + path("data") + sep + "sub" + sep + "text5.txt is gone)\n";
  EXPECT_EQ(run(step), 1);
  EXPECT_EQ(err, said);
  EXPECT_EQ(summary, "qelv: 2 files: 1 up to date, 1 without input\n");
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("dist"), "--input-dir", path("data")}),
            1);
  EXPECT_NE(err.find(said), std::string::npos) << err;
  EXPECT_TRUE(file_exists(gone));

  std::vector<std::string> deleting = step;
  deleting.push_back("--delete");
  EXPECT_EQ(run(deleting), 0) << err;
  EXPECT_EQ(out, gone + ": deleted: no input (" + path("data") + sep + "sub" + sep +
                     "text5.txt is gone)\n");
  EXPECT_FALSE(file_exists(gone));
  EXPECT_EQ(read_file(path("dist/sub/notes.dat")), foreign);
  // notes.dat is no encrypted file; a.txt.dat checks out against its input.
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("dist"), "--input-dir", path("data")}),
            1);
  EXPECT_EQ(lines_of(out).size(), 1u) << out;
  EXPECT_EQ(run({"encrypt", "--key", test_key, "--delete", "-r", path("data")}), 2);
}

// Nothing missing passes for a success: standard input too short to
// encrypt fails and keeps an existing output; empty standard input and an
// empty encrypted file fail decrypt and verify, as the module refuses them.
TEST_F(Cli, NothingMissingIsASuccess) {
  bytes kept = plain_file("keep.dat", 40, 62);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", "-o", path("keep.dat"), "-"}), 1);
  EXPECT_EQ(err, "(standard input): fewer than 2 bytes, too short: the format holds files of 2 "
                 "bytes or more; nothing was written\n");
  EXPECT_EQ(read_file(path("keep.dat")), kept);
  EXPECT_EQ(run({"decrypt", "--key", test_key, "-o", path("n.out"), "-"}), 1);
  EXPECT_EQ(err, "(standard input): empty, not an encrypted file\n");
  EXPECT_FALSE(file_exists(path("n.out")));
  std::filesystem::create_directories(path("dist"));
  plain_file("p", 100, 63);
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-o", path("dist/p.dat"), path("p")}), 0) << err;
  write_file(path("dist/zero.dat"), {});
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("dist")}), 1);
  EXPECT_EQ(err, path("dist") + dir.back() + "zero.dat: empty, not an encrypted file\n");
  EXPECT_EQ(summary, "qelv: 2 files: 1 checked out, 1 failed\n");
  EXPECT_EQ(run({"decrypt", "--key", test_key, "-r", "-d", path("back"), path("dist")}), 1);
  EXPECT_FALSE(file_exists(path("back/zero")));
}
