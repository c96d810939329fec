// Planning a run: where each output goes (beside its file, --output,
// --out-dir, a tree mirrored under -r), outputs that would overwrite an
// existing file, an input or each other, runs again, and what up to date
// means.

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

TEST_F(Cli, EncryptAndDecryptBesideTheFile) {
  bytes plain = plain_file("a.txt", 1000, 1);
  ASSERT_EQ(run({"encrypt", "--key", test_key, path("a.txt")}), 0) << err;
  EXPECT_EQ(err, "");
  EXPECT_TRUE(starts_with(out, path("a.txt") + " -> " + path("a.txt.dat") + ": 1,000 bytes -> 1,023 bytes, "))
      << out;
  EXPECT_EQ(lines_of(out).size(), 1u);
  EXPECT_EQ(engine_decrypted(path("a.txt.dat")), plain);

  std::remove(path("a.txt").c_str());
  ASSERT_EQ(run({"decrypt", "--key", test_key, path("a.txt.dat")}), 0) << err;
  EXPECT_EQ(read_file(path("a.txt")), plain);
  EXPECT_TRUE(starts_with(out, path("a.txt.dat") + " -> " + path("a.txt") + ": 1,023 bytes -> 1,000 bytes"))
      << out;

  // Without the suffix there is no name to decrypt to.
  ASSERT_EQ(encrypt_file(path("a.txt").c_str(), path("noext").c_str(), test_key), std::string(result_ok));
  auto before = folder_listing(dir);
  EXPECT_EQ(run({"decrypt", "--key", test_key, path("noext")}), 1);
  EXPECT_EQ(err, path("noext") + ": the name does not end in .dat; give --output or --out-dir\n");
  EXPECT_EQ(folder_listing(dir), before);
}

TEST_F(Cli, OutputAndSuffixOptions) {
  bytes plain = plain_file("b.bin", 77, 2);
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-o", path("one"), path("b.bin")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("one")), plain);
  ASSERT_EQ(run({"decrypt", "--key", test_key, "--output=" + path("two"), path("one")}), 0) << err;
  EXPECT_EQ(read_file(path("two")), plain);

  ASSERT_EQ(run({"encrypt", "--key", test_key, "--suffix", ".qv", path("b.bin")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("b.bin.qv")), plain);
  EXPECT_FALSE(file_exists(path("b.bin.dat")));
  ASSERT_EQ(run({"decrypt", "--key", test_key, "--suffix=.qv", "-o", path("three"), path("b.bin.qv")}), 0);
  std::remove(path("b.bin").c_str());
  ASSERT_EQ(run({"decrypt", "--key", test_key, "--suffix=.qv", path("b.bin.qv")}), 0) << err;
  EXPECT_EQ(read_file(path("b.bin")), plain);
  // Files after "--" are files even when they look like options.
  write_file(path("-x"), plain);
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-o", path("four"), "--", path("-x")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("four")), plain);
}

TEST_F(Cli, OutDirKeepsTheNames) {
  std::filesystem::create_directories(path("src/a"));
  std::filesystem::create_directories(path("enc"));
  std::filesystem::create_directories(path("back"));
  bytes x = plain_file("src/x.txt", 30, 3), y = plain_file("src/a/y", 300, 4);
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-d", path("enc"), path("src/x.txt"), path("src/a/y")}), 0)
      << err;
  EXPECT_EQ(folder_listing(path("enc")), (std::vector<std::string>{"x.txt.dat", "y.dat"}));
  EXPECT_EQ(lines_of(out).size(), 2u);

  // The suffix goes again; a name without it, or that is only the suffix, stays.
  std::filesystem::copy_file(path("enc/y.dat"), path("enc/plainname"));
  std::filesystem::copy_file(path("enc/y.dat"), path("enc/.dat"));
  ASSERT_EQ(run({"decrypt", "--key", test_key, "--out-dir=" + path("back/"), path("enc/x.txt.dat"),
                 path("enc/y.dat"), path("enc/plainname"), path("enc/.dat")}), 0)
      << err;
  EXPECT_EQ(folder_listing(path("back")),
            (std::vector<std::string>{".dat", "plainname", "x.txt", "y"}));
  EXPECT_EQ(read_file(path("back/x.txt")), x);
  EXPECT_EQ(read_file(path("back/y")), y);
  EXPECT_EQ(read_file(path("back/plainname")), y);
}

TEST_F(Cli, ExistingOutputsNeedForce) {
  bytes plain = plain_file("a.txt", 100, 11);
  write_file(path("a.txt.dat"), bytes_of("old"));
  EXPECT_EQ(run({"encrypt", "--key", test_key, path("a.txt")}), 1);
  EXPECT_EQ(err, path("a.txt") + ": " + path("a.txt.dat") + " exists; give --force to overwrite "
                 "it, or --update to keep it when it is up to date\n");
  EXPECT_EQ(read_file(path("a.txt.dat")), bytes_of("old"));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", path("a.txt")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("a.txt.dat")), plain);

  // A failed decryption leaves even a forced output as it was.
  write_file(path("out"), bytes_of("keep me"));
  EXPECT_EQ(run({"decrypt", "--key", "wrong key", "--force", "-o", path("out"), path("a.txt.dat")}), 1);
  EXPECT_EQ(err, path("a.txt.dat") + crc_failed + "; nothing was written\n");
  EXPECT_EQ(read_file(path("out")), bytes_of("keep me"));
  EXPECT_EQ(run({"decrypt", "--key", test_key, "--force", "-o", path("out"), path("a.txt.dat")}), 0);
  EXPECT_EQ(read_file(path("out")), plain);

  std::filesystem::create_directories(path("folder"));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", "-o", path("folder"), path("a.txt")}), 1);
  EXPECT_EQ(err, path("a.txt") + ": the output " + path("folder") + " is a folder\n");
}

// Other spellings of an existing file's path.
static std::vector<std::string> spellings(const std::string& dir, const std::string& name) {
  std::vector<std::string> v = {dir + name, dir + "." + dir.back() + name,
                                dir + "sub" + dir.back() + ".." + dir.back() + name};
#ifdef _WIN32
  std::string upper = dir + name, forward = dir + name;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (char& c : forward) c = c == '\\' ? '/' : c;
  v.push_back(upper);
  v.push_back(forward);
#endif
  return v;
}

TEST_F(Cli, AnOutputOntoItsInputNeedsInPlace) {
  bytes plain = plain_file("a", 100, 12);
  std::filesystem::create_directories(path("sub"));
  for (const std::string& same : spellings(dir, "a")) {
    EXPECT_EQ(run({"encrypt", "--key", test_key, "-o", same, path("a")}), 1) << same;
    EXPECT_EQ(err, path("a") + ": the output is the file itself; give --in-place to replace it\n");
    EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", "-o", path("a"), same}), 1) << same;
    EXPECT_EQ(read_file(path("a")), plain);
  }
  // An empty suffix would make the name beside the file the file itself.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", "--suffix=", path("a")}), 2);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", "--suffix=", "-d", dir, path("a")}), 2);
  EXPECT_EQ(read_file(path("a")), plain);

  // --in-place replaces each file by its result, through any spelling.
  for (const std::string& same : spellings(dir, "a")) {
    ASSERT_EQ(run({"encrypt", "--key", test_key, "--in-place", same}), 0) << same << err;
    EXPECT_EQ(engine_decrypted(path("a")), plain) << same;
    ASSERT_EQ(run({"decrypt", "--key", test_key, "--in-place", "-o", same, path("a")}), 0) << err;
    EXPECT_EQ(read_file(path("a")), plain) << same;
  }
}

TEST_F(Cli, NoOutputIsWrittenTwiceOrOverAnotherInput) {
  bytes plain = plain_file("a", 100, 13);
  // The same file twice in place would be encrypted twice.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "--in-place", path("a"), dir + "." + dir.back() + "a"}),
            1);
  EXPECT_EQ(lines_of(err).size(), 2u);
  EXPECT_NE(err.find("is also an input of this run"), std::string::npos) << err;
  EXPECT_EQ(read_file(path("a")), plain);

  // Two files of one name into one folder: the first wins, even with --force.
  std::filesystem::create_directories(path("one"));
  std::filesystem::create_directories(path("two"));
  std::filesystem::create_directories(path("enc"));
  bytes one = plain_file("one/x", 20, 14);
  plain_file("two/x", 30, 15);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", "-d", path("enc"), path("one/x"), path("two/x")}),
            1);
  EXPECT_EQ(err, path("two/x") + ": the output " + path("enc") + dir.back() +
                     "x.dat is also the output of " + path("one/x") + "\n");
  EXPECT_EQ(engine_decrypted(path("enc/x.dat")), one);
  // The same file given twice is taken once: its output is there.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-u", "-r", "-d", path("enc2"), path("one"),
                 path("one")}), 0) << err;
  EXPECT_EQ(lines_of(out).size(), 1u) << out;
  EXPECT_EQ(summary, "qelv: 2 files: 1 written, 1 skipped (1 given twice)\n") << err;

  // An output that another file of the run still has to read is kept.
  bytes other = plain_file("a.dat", 50, 16);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", path("a"), path("a.dat")}), 1);
  EXPECT_EQ(err, path("a") + ": the output " + path("a.dat") + " is also an input of this run\n");
  EXPECT_EQ(engine_decrypted(path("a.dat.dat")), other);
}

// Running a batch again touches nothing twice: encrypted inputs are
// skipped; what the run cannot take (an empty file, a folder without -r)
// fails it until it is left out; --force encrypts again on purpose.
TEST_F(Cli, RunsAgainSkipWhatIsEncryptedOrEmpty) {
  std::filesystem::create_directories(path("g/sub"));
  plain_file("g/note1.txt", 7, 31);
  write_file(path("g/empty"), {});
  const std::string all = path("g/*");  // expanded by the tool, as a Windows shell leaves it
  ASSERT_EQ(run({"encrypt", "--key", test_key, all}), 1) << err;
  EXPECT_EQ(lines_of(out).size(), 1u) << out;
  EXPECT_EQ(err, path("g/empty") + ": empty, too short: the format holds files of 2 bytes or "
                                   "more; leave it out with --exclude\n" + path("g/sub") +
                     ": a folder, whose files are taken only under -r; give -r, or leave it out "
                     "with --exclude\n");
  const std::vector<std::string> left_out = {"--exclude", "empty", "--exclude", "sub/"};
  std::vector<std::string> again = {"encrypt", "--key", test_key};
  again.insert(again.end(), left_out.begin(), left_out.end());
  again.push_back(all);
  EXPECT_EQ(run(again), 1);
  EXPECT_NE(err.find(path("g/note1.txt.dat") + ": skipped: the output of " +
                     path("g/note1.txt") + " in this run"), std::string::npos) << err;
  EXPECT_NE(err.find("give --force to overwrite it, or --update"), std::string::npos) << err;
  EXPECT_EQ(err.find("empty"), std::string::npos) << err;
  // --force, as the hint says, overwrites the output and encrypts nothing twice.
  again.insert(again.begin() + 1, "-f");
  EXPECT_EQ(run(again), 0) << err;
  EXPECT_EQ(folder_listing(path("g")),
            (std::vector<std::string>{"empty", "note1.txt", "note1.txt.dat", "sub"}));

  EXPECT_EQ(run({"encrypt", "--key", test_key, "--in-place", path("g/note1.txt")}), 0);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "--in-place", path("g/note1.txt")}), 0);
  EXPECT_EQ(read_file(path("g/note1.txt")).size(), 31u) << "encrypted twice";
  EXPECT_EQ(run({"encrypt", "--key", test_key, "--in-place", "-f", path("g/note1.txt")}), 0);
  EXPECT_EQ(read_file(path("g/note1.txt")).size(), 31u) << "--force encrypted twice";
  EXPECT_EQ(run({"encrypt", "--key", test_key, "--in-place", "--allow-encrypted",
                 path("g/note1.txt")}), 0);
  EXPECT_EQ(read_file(path("g/note1.txt")).size(), 55u);
}

// -r walks folders; under --out-dir the outputs keep the folders below the
// one named.  decrypt and verify take only the encrypted names.
TEST_F(Cli, RecursiveRunsMirrorTheTree) {
  std::filesystem::create_directories(path("src/x/y"));
  std::filesystem::create_directories(path("enc"));
  std::filesystem::create_directories(path("back"));
  bytes a = plain_file("src/a.txt", 10, 32), b = plain_file("src/x/b.txt", 20, 33),
        c = plain_file("src/x/y/c.txt", 30, 34);
  write_file(path("src/x/y/empty"), {});
  // A folder without -r would leave every output missing: a usage error.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-d", path("enc"), path("src")}), 2);
  EXPECT_EQ(err, "qelv: " + path("src") + " is a folder; give -r to take the files in it\n"
                 "Try 'qelv --help'.\n");
  EXPECT_EQ(folder_listing(path("enc")), std::vector<std::string>{}) << "a folder without -r";
  // An input too short for the format fails the run, written or not.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-r", "-d", path("enc"), path("src")}), 1) << err;
  EXPECT_EQ(lines_of(out).size(), 3u);
  std::string empty_found = path("src/x/y/empty");  // as the tool joins names
  std::replace(empty_found.begin() + dir.size(), empty_found.end(), '/', dir.back());
  EXPECT_EQ(err, empty_found + ": empty, too short: the format holds files of 2 bytes or more; "
                               "leave it out with --exclude\n");
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-r", "-u", "--exclude", "x/y/empty", "-d",
                 path("enc"), path("src")}), 0) << err;
  plain_file("enc/x/readme", 5, 35);  // not an encrypted name: left alone by decrypt -r
  ASSERT_EQ(run({"decrypt", "--key", test_key, "-r", "-d", path("back/"), path("enc")}), 0) << err;
  EXPECT_EQ(read_file(path("back/a.txt")), a);
  EXPECT_EQ(read_file(path("back/x/b.txt")), b);
  EXPECT_EQ(read_file(path("back/x/y/c.txt")), c);
  EXPECT_FALSE(file_exists(path("back/x/readme")));
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("enc")}), 0) << err;
  EXPECT_EQ(lines_of(out).size(), 3u);
  // A tree encrypted in place keeps its names: taking none of them from it
  // is no success.
  ASSERT_EQ(run({"encrypt", "--key", test_key, "--in-place", "-r", "--exclude", "empty",
                 path("src")}), 0) << err;
  for (const char* command : {"decrypt", "verify"}) {
    std::vector<std::string> args = {command, "--key", test_key, "-r", path("src")};
    if (command[0] == 'd') args.insert(args.begin() + 1, "--in-place");
    EXPECT_EQ(run(args), 1) << command;
    EXPECT_EQ(err, path("src") + ": 4 files in it, none ending in .dat: decrypt and verify take "
                                 "only those from a folder; give --suffix, or name the files\n");
  }
}

// A build step run again: what is up to date is skipped, a changed input is
// encrypted again, and a run over an unchanged tree writes nothing; the
// output folder is made on the first run, and every run ends with a summary.
TEST_F(Cli, UpdateRewritesOnlyWhatChanged) {
  std::filesystem::create_directories(path("src/x"));
  plain_file("src/a.txt", 3000, 50);
  bytes b = plain_file("src/x/b.txt", 5000, 51);
  write_file(path("src/empty"), {});
  plain_file("src/one", 1, 52);
  // Too short for the format, they fail the step until it leaves them out.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-u", "-r", "-d", path("dist/data"), path("src")}),
            1);
  EXPECT_EQ(summary, "qelv: 4 files: 2 written, 2 failed\n") << err;
  const std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r",
                                         "--exclude", "empty", "--exclude", "one", "-d",
                                         path("dist/data"), path("src")};
  std::filesystem::remove_all(path("dist"));
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(lines_of(out).size(), 2u) << out;
  EXPECT_EQ(summary, "qelv: 2 files: 2 written\n") << err;
  const std::string a_out = path("dist/data/a.txt.dat"), b_out = path("dist/data/x/b.txt.dat");
  bytes a_first = read_file(a_out), b_first = read_file(b_out);

  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(summary, "qelv: 2 files: 2 up to date\n") << err;
  EXPECT_EQ(read_file(a_out), a_first) << "an output up to date was written again";

  // A changed input, and an output that is newer but holds another length.
  bytes a = plain_file("src/a.txt", 3100, 53);
  auto later = std::filesystem::last_write_time(a_out) + std::chrono::seconds(2);
  std::filesystem::last_write_time(path("src/a.txt"), later);
  ASSERT_EQ(encrypt_file(path("src/a.txt").c_str(), b_out.c_str(), test_key), std::string(result_ok));
  std::filesystem::last_write_time(b_out, later + std::chrono::seconds(2));
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(summary, "qelv: 2 files: 2 written\n") << err;
  EXPECT_EQ(engine_decrypted(a_out), a);
  EXPECT_EQ(engine_decrypted(b_out), b);

  // decrypt -u the same way.
  ASSERT_EQ(run({"decrypt", "--key", test_key, "-u", "-r", "-d", path("back"), path("dist")}), 0);
  EXPECT_EQ(read_file(path("back/data/a.txt")), a);
  ASSERT_EQ(run({"decrypt", "--key", test_key, "-u", "-r", "-d", path("back"), path("dist")}), 0);
  EXPECT_EQ(summary, "qelv: 2 files: 2 up to date\n");

  // A temporary file left by a killed run is said once, with the command
  // that removes it, and kept: its writer may still be running.
  write_file(path("dist/data/~qelv-0badf00d.tmp"), bytes(100, 1));
  ASSERT_EQ(run(step), 0) << err;
  std::vector<std::string> lines = lines_of(err);
  ASSERT_EQ(lines.size(), 1u) << err;  // the note alone
  EXPECT_TRUE(starts_with(lines[0], "qelv: note: 1 temporary file left by a qelv that was stopped "
                                    "(or in use by one still running) lies where"))
      << lines[0];
  std::string stale = path("dist/data") + dir.back() + "~qelv-0badf00d.tmp";
#ifdef _WIN32
  EXPECT_NE(lines[0].find("remove it with: del " + stale), std::string::npos) << lines[0];
#else
  EXPECT_NE(lines[0].find("remove it with: rm " + stale), std::string::npos) << lines[0];
#endif
  EXPECT_TRUE(file_exists(stale));
}

// Up to date is told by content, never by times: an older copy of the same
// length put back with its old time, a change whose time is set back, and
// another key are each written again, and an unchanged tree writes nothing.
TEST_F(Cli, UpToDateMeansTheSameContentUnderTheSameKey) {
  std::filesystem::create_directories(path("data/sub"));
  bytes old_text = plain_file("data/sub/text3.txt", 700, 60);
  plain_file("data/other.txt", 900, 61);
  auto old_time = std::filesystem::last_write_time(path("data/sub/text3.txt"));
  const std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "-d",
                                         path("dist"), path("data")};
  ASSERT_EQ(run(step), 0) << err;
  const std::string out3 = path("dist/sub/text3.txt.dat");
  bytes first = read_file(out3);

  // Changed, then given back its old time: same length, other content.
  bytes changed = old_text;
  for (size_t i = 0; i < changed.size(); i += 50) changed[i] ^= 0x21;
  write_file(path("data/sub/text3.txt"), changed);
  std::filesystem::last_write_time(path("data/sub/text3.txt"), old_time);
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(summary, "qelv: 2 files: 1 written, 1 up to date\n") << err;
  EXPECT_EQ(engine_decrypted(out3), changed);

  // The older copy put back with its time (cp -p): written again as well.
  write_file(path("data/sub/text3.txt"), old_text);
  std::filesystem::last_write_time(path("data/sub/text3.txt"), old_time);
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(summary, "qelv: 2 files: 1 written, 1 up to date\n") << err;
  EXPECT_EQ(engine_decrypted(out3), old_text);

  // Another key: every output is written again, and opens with that key.
  std::vector<std::string> other_key = step;
  other_key[2] = "another key";
  ASSERT_EQ(run(other_key), 0) << err;
  EXPECT_EQ(summary, "qelv: 2 files: 2 written\n") << err;
  EXPECT_EQ(engine_decrypted(out3, "another key"), old_text);

  // Nothing changed: nothing written, not even touched.
  bytes now = read_file(out3);
  auto written_at = std::filesystem::last_write_time(out3);
  ASSERT_EQ(run(other_key), 0) << err;
  EXPECT_EQ(summary, "qelv: 2 files: 2 up to date\n") << err;
  EXPECT_EQ(read_file(out3), now);
  EXPECT_EQ(std::filesystem::last_write_time(out3), written_at);
  EXPECT_NE(now, first);
}

#ifdef _WIN32
// A handle that opens but gives no file information (the NUL device) has
// no identity: it is never taken for another file.
TEST_F(Cli, NoIdentityWithoutFileInformation) {
  uint64_t volume = 0, file = 0;
  EXPECT_FALSE(rt_file_identity("NUL", &volume, &file));
}

// Names as Windows compares them: the suffix in any case; and a path beyond
// what the file functions take is said to be so.
TEST_F(Cli, WindowsNames) {
  bytes plain = plain_file("a.txt", 50, 43);
  ASSERT_EQ(run({"encrypt", "--key", test_key, "--suffix", ".DAT", path("a.txt")}), 0) << err;
  std::filesystem::rename(path("a.txt.DAT"), path("B.TXT.Dat"));
  ASSERT_EQ(run({"decrypt", "--key", test_key, path("B.TXT.Dat")}), 0) << err;
  EXPECT_EQ(read_file(path("B.TXT")), plain);
  std::string long_name = path(std::string(250, 'n'));
  EXPECT_EQ(run({"encrypt", "--key", test_key, long_name}), 1);
  EXPECT_EQ(err, long_name + ": the path is longer than this system's file functions take (259 "
                             "characters)\n");
}

#endif

#ifndef _WIN32
// On Linux '*' and '?' are letters in a name: an argument that names an
// existing file is that file, and only one that names none is a pattern.
TEST_F(Cli, StarsAndQuestionMarksInLinuxNames) {
  bytes odd = plain_file("a*b?.txt", 40, 51);
  plain_file("axbc.txt", 40, 52);
  ASSERT_EQ(run({"encrypt", "--key", test_key, path("a*b?.txt")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("a*b?.txt.dat")), odd);
  EXPECT_FALSE(file_exists(path("axbc.txt.dat")));
  ASSERT_EQ(run({"decrypt", "--key", test_key, "-o", path("back?*"), path("a*b?.txt.dat")}), 0)
      << err;
  EXPECT_EQ(read_file(path("back?*")), odd);
  std::remove(path("a*b?.txt").c_str());
  ASSERT_EQ(run({"encrypt", "--key", test_key, path("a*b?.txt")}), 0) << err;
  EXPECT_TRUE(file_exists(path("axbc.txt.dat")));
}

#endif
