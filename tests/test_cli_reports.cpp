// What a run says: each file's line and the reasons of failures in plain
// words, info's fields and judgements, usage errors, --quiet, sizes,
// escaped names, the summary, and the note on stale temporary files.

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

// Encrypted files and the variants of them that the reader must judge.
static std::vector<std::pair<std::string, bytes>> damaged_variants(const bytes& good) {
  std::vector<std::pair<std::string, bytes>> v;
  auto with = [&](const char* name, auto change) {
    bytes b = good;
    change(b);
    v.push_back({name, b});
  };
  v.push_back({"good", good});
  with("body-bit", [](bytes& b) { b[40] ^= 0x10; });
  with("iv-bit", [](bytes& b) { b[12] ^= 0x01; });
  with("crc-bit", [](bytes& b) { b[18] ^= 0x80; });
  with("constants", [](bytes& b) { b[21] = 7; b[22] = 9; });
  with("extra", [](bytes& b) { b.push_back(1); b.push_back(2); });
  with("cut-body", [](bytes& b) { b.resize(b.size() - 9); });
  with("cut-header", [](bytes& b) { b.resize(10); });
  with("size-zero", [](bytes& b) { memset(b.data(), 0, 8); });
  with("pad-negative", [](bytes& b) { b[8] = 0x80; });
  with("size-huge", [](bytes& b) { b[5] = 0x01; });
  with("one-byte", [](bytes& b) { b.resize(1); });
  with("empty", [](bytes& b) { b.clear(); });
  return v;
}

TEST_F(Cli, VerifyJudgesLikeDecryptAndWritesNothing) {
  bytes plain = plain_file("p", 100, 5);
  ASSERT_EQ(encrypt_file(path("p").c_str(), path("e").c_str(), test_key), std::string(result_ok));
  bytes good = read_file(path("e"));
  for (const auto& [name, content] : damaged_variants(good)) {
    write_file(path(name), content);
    std::string probe = streams + "probe";
    std::string expected = decrypt_file(path(name).c_str(), probe.c_str(), test_key);
    std::remove(probe.c_str());
    auto before = folder_listing(dir);
    int status = run({"verify", "--key", test_key, path(name)});
    EXPECT_EQ(folder_listing(dir), before) << name;
    if (expected == result_ok) {
      EXPECT_EQ(status, 0) << name;
      EXPECT_TRUE(starts_with(out, path(name) + ": key and data check out, ")) << out;
      EXPECT_EQ(err, "");
    } else {
      // An empty file too: the module refuses it, so a build step that
      // verifies must not pass with it.
      EXPECT_EQ(status, 1) << name;
      EXPECT_TRUE(starts_with(err, path(name) + ": ")) << name;
      EXPECT_EQ(lines_of(err).size(), 1u) << err;
      EXPECT_EQ(out, "");
    }
  }
  // The variants cover every kind of verdict, not only one.
  EXPECT_EQ(run({"verify", "--key", test_key, path("good"), path("extra"), path("body-bit"),
                 path("size-zero"), path("size-huge"), path("missing")}), 1);
  EXPECT_EQ(lines_of(out).size(), 2u);
  // Each verdict in plain words, with what the header says against the file.
  EXPECT_EQ(err, path("body-bit") + crc_failed + "\n" + path("size-zero") +
                     ": not an encrypted file (plain_size below 1)\n" +
                     path("size-huge") +
                     ": cut short, or not an encrypted file (header claims 1.1 TB, file holds "
                     "127 bytes)\n" +
                     path("missing") + ": no such file\n");
  EXPECT_EQ(run({"verify", "--key", "pumpkinjaR", path("good")}), 1);
  EXPECT_EQ(err, path("good") + crc_failed + "\n");
}

static std::string hex_of(const uint8_t* p, int n) {
  std::string s;
  char two[3];
  for (int i = 0; i < n; i++) {
    snprintf(two, sizeof two, "%02x", p[i]);
    s += two;
  }
  return s;
}

TEST_F(Cli, InfoShowsTheHeaderAndJudgesTheLayout) {
  // 12 plain bytes: the last block holds 4 of them, so any change to it
  // alters a 32-bit run of the plain data, which CRC-32 always finds.
  plain_file("p", 12, 6);
  ASSERT_EQ(encrypt_file(path("p").c_str(), path("e").c_str(), test_key), std::string(result_ok));
  bytes good = read_file(path("e"));
  file_header h = header_load(good.data());
  char crc[9];
  snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(h.plain_crc));
  const std::string written = "  written     by encryption: header and length exactly as it "
                              "writes them";
  ASSERT_EQ(run({"info", path("e")}), 0) << err;
  EXPECT_EQ(out, path("e") + "\n  plain_size  12\n  pad_count   4\n  iv          " +
                     hex_of(h.iv, 8) + "\n  plain_crc   " + crc +
                     "\n  constants   2 0\n  length      39 bytes, header implies 39\n"
                     "  format      consistent\n" + written + "\n");
  EXPECT_EQ(err, "");

  // Each damage: decryption's verdict (the format line), then whether
  // encryption could have written the file, which only "iv-all-ones" passes.
  struct judged { const char* name; int at; int value; int resize; const char* verdict;
                  const char* not_written; };
  const judged cases[] = {
      {"iv-all-ones", 9, -1, 0, "consistent", nullptr},  // r1 or r2 drawn as 0
      {"cut", -1, 0, 38, "cut short: file shorter than its plain data needs",
       "file shorter than its plain data needs"},
      // What decryption ignores is said, and the file is one it reads: the
      // same verdict as verify's and decrypt's.
      {"long", -1, 0, 40, "consistent; decryption ignores: 1 byte after the data",
       "1 byte after the data"},
      {"pad", 8, 3, 0, "not this format: pad_count 3 leaves plain bytes outside the whole blocks",
       "pad_count 3 leaves plain bytes outside the whole blocks; pad_count 3 is not the 4 "
       "encryption writes; 1 byte after the data"},
      {"pad-more", 8, 8, 0, "consistent; decryption ignores: pad_count 8 is not the 4 "
                            "encryption writes", "pad_count 8 is not the 4 encryption writes"},
      {"const", 21, 1, 0, "consistent; decryption ignores: constant bytes are not 2 and 0",
       "constant bytes are not 2 and 0"},
      {"iv-high", 16, 0x7f, 0,
       "consistent; decryption ignores: iv outside the values the writer draws",
       "iv outside the values the writer draws"},
      // (with the pad_count of 1 byte, 7)
      {"size-one", 0, 1, 0, "consistent; decryption ignores: plain_size 1, which encryption "
                            "never writes; 8 bytes after the data",
       "plain_size 1, which encryption never writes; 8 bytes after the data"},
      {"size-zero", 0, 0, 0, "not this format: plain_size below 1", "plain_size below 1"},
  };
  for (const judged& c : cases) {
    bytes b = good;
    if (c.value == -1) memset(b.data() + c.at, 0xff, 8);
    else if (c.at >= 0) b[c.at] = static_cast<uint8_t>(c.value);
    if (c.resize > 0) b.resize(c.resize, 0);
    if (strcmp(c.name, "size-one") == 0) b[8] = 7;
    write_file(path(c.name), b);
    bool fine = starts_with(c.verdict, "consistent");
    EXPECT_EQ(run({"info", path(c.name)}), fine ? 0 : 1) << c.name;
    std::vector<std::string> lines = lines_of(out);
    ASSERT_GE(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[lines.size() - 2], std::string("  format      ") + c.verdict) << c.name;
    EXPECT_EQ(lines.back(), c.not_written == nullptr
                                ? written
                                : std::string("  written     not as encryption writes: ") +
                                      c.not_written)
        << c.name;
    // The failure line says the same in words; only a file cut short may be one.
    std::string verdict = c.verdict;
    std::string why = strcmp(c.name, "cut") == 0
                          ? "cut short, or not an encrypted file (header claims 39 bytes, file "
                            "holds 38 bytes)"
                          : fine ? "" : "not an encrypted file (" + verdict.substr(17) + ")";
    EXPECT_EQ(err, fine ? "" : path(c.name) + ": " + why + "\n") << c.name;
    // One judgement: what info refuses decryption refuses too; where info
    // finds nothing, the key and the check value decide, and a change that
    // decryption does not read (bytes after the data, the constants, a
    // pad_count that still covers the plain data) decrypts as before.
    bool unread = strcmp(c.name, "long") == 0 || strcmp(c.name, "const") == 0 ||
                  strcmp(c.name, "pad-more") == 0;
    // A cut byte that was 0 reads back as the 0 that decryption puts in
    // its place: the file then decrypts whole, to exactly the plain data.
    if (strcmp(c.name, "cut") == 0 && good.back() == 0) {
      EXPECT_EQ(engine_decrypted(path(c.name)), read_file(path("p")));
      continue;
    }
    EXPECT_EQ(engine_decrypted(path(c.name)).empty(), !unread) << c.name;
    if (unread) {
      EXPECT_EQ(run({"verify", "--key", test_key, path(c.name)}), 0) << c.name << err;
    }
  }

  // A short file shows its length only; a missing one is an error; the rest go on.
  write_file(path("short"), bytes(10, 2));
  EXPECT_EQ(run({"info", path("short"), path("missing"), path("e")}), 1);
  EXPECT_TRUE(starts_with(out, path("short") + "\n  length      10 bytes\n"
                                 "  format      not this format: shorter than the 23-byte header\n"
                                 "  written     not by encryption\n" +
                                 path("e") + "\n"))
      << out;
  EXPECT_EQ(err, path("short") + ": not an encrypted file (10 bytes, shorter than the 23-byte "
                                  "header)\n" +
                     path("missing") + ": no such file\n");
}

TEST_F(Cli, BatchWithOneDamagedFileGoesOn) {
  std::filesystem::create_directories(path("enc"));
  std::filesystem::create_directories(path("back"));
  std::vector<std::string> args = {"encrypt", "--key", test_key, "-d", path("enc")};
  std::vector<bytes> plains;
  for (int i = 0; i < 5; i++) {
    std::string name = "f" + std::to_string(i);
    plains.push_back(plain_file(name, 50 + 200 * i, 10 + i));
    args.push_back(path(name));
  }
  ASSERT_EQ(run(args), 0) << err;
  EXPECT_EQ(lines_of(out).size(), 5u);
  EXPECT_EQ(err, "") << "no progress line when standard error is not a terminal";

  bytes damaged = read_file(path("enc/f2.dat"));
  damaged[30] ^= 0x04;
  write_file(path("enc/f2.dat"), damaged);
  std::vector<std::string> decrypt = {"decrypt", "--key", test_key, "-d", path("back")};
  std::vector<std::string> verify = {"verify", "--key", test_key};
  for (int i = 0; i < 5; i++) {
    decrypt.push_back(path("enc/f" + std::to_string(i) + ".dat"));
    verify.push_back(path("enc/f" + std::to_string(i) + ".dat"));
  }
  EXPECT_EQ(run(decrypt), 1);
  EXPECT_EQ(err, path("enc/f2.dat") + crc_failed + "; nothing was written\n");
  EXPECT_EQ(lines_of(out).size(), 4u);
  EXPECT_EQ(folder_listing(path("back")), (std::vector<std::string>{"f0", "f1", "f3", "f4"}));
  for (int i : {0, 1, 3, 4}) EXPECT_EQ(read_file(path("back/f" + std::to_string(i))), plains[i]);

  EXPECT_EQ(run(verify), 1);
  EXPECT_EQ(err, path("enc/f2.dat") + crc_failed + "\n");
  EXPECT_EQ(lines_of(out).size(), 4u);
}

TEST_F(Cli, UsageErrorsExitWithTwoAndTouchNothing) {
  plain_file("a", 40, 7);
  plain_file("b", 40, 8);
  const std::string a = path("a"), b = path("b");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate", a},
      {"encrypt", "--key", test_key},
      {"encrypt", "--bogus", "--key", test_key, a},
      {"encrypt", "-z", "--key", test_key, a},
      {"encrypt", a, "--key"},
      {"encrypt", "--key", test_key, "-o", path("x"), a, b},
      {"encrypt", "--key", test_key, "-o", path("x"), "-d", dir, a},
      {"encrypt", "--key", test_key, "-o", "", a},
      {"encrypt", "--key", test_key, "-u", "-f", a},
      {"encrypt", "--key-file", "-", "-o", path("x"), "-"},  // the key and the data on one stream
      {"encrypt", "--key", test_key, "-d", a, b},
      {"verify", "--key", test_key, "--force", a},
      {"verify", "--key", test_key, "-o", path("x"), a},
      {"info", "--key", test_key, a},
      {"encrypt", "--key", test_key, "--key-env", "QELV_TEST_KEY", a},
      {"encrypt", a},  // no key source, and standard input is not a terminal
      {"decrypt", "--key", "   ", a},
      {"encrypt", "--key", "", a},
      {"encrypt", "--key-file", path("no-such-key"), a},
      {"encrypt", "--key-env", "QELV_TEST_UNSET_VARIABLE", a},
      {"encrypt", "--key", test_key, "-j", "0", a},
      {"encrypt", "--key", test_key, "--key-bytes", "--key-codepage", "1250", a},
      {"encrypt", "--key", test_key, "--key-codepage", "cp1252", a},
      {"encrypt", "--key", test_key, "-"},  // no name to derive an output from
      {"verify", "-"},                       // the key would be asked for on the data
      {"encrypt", "-qz", "--key", test_key, a},
  };
  auto before = folder_listing(dir);
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& s : args) shown += s + " ";
    EXPECT_EQ(run(args), 2) << shown;
    EXPECT_TRUE(starts_with(err, "qelv: ")) << shown << err;
    EXPECT_NE(err.find("Try 'qelv --help'."), std::string::npos) << shown;
    EXPECT_EQ(out, "") << shown;
    EXPECT_EQ(folder_listing(dir), before) << shown;
  }
}

TEST_F(Cli, HelpWarnsThatAKeyOnTheCommandLineIsVisible) {
  std::vector<std::vector<std::string>> asked = {
      {"--help"}, {"-h"}, {"help"}, {"encrypt", "--help"}, {"info", "-h"}};
#ifdef _WIN32
  asked.insert(asked.end(), {{"/?"}, {"encrypt", "/?"}});  // as Windows programs are asked
#endif
  for (const auto& args : asked) {
    EXPECT_EQ(run(args), 0) << args.back() << err;
    EXPECT_NE(out.find("--key TEXT"), std::string::npos);
    EXPECT_NE(out.find("visible\n                      to other users of this machine"),
              std::string::npos);
    EXPECT_NE(out.find("--key-file PATH"), std::string::npos);
    EXPECT_NE(out.find("--in-place"), std::string::npos);
    EXPECT_EQ(err, "");
  }
}

TEST_F(Cli, QuietPrintsOnlyErrors) {
  plain_file("a", 100, 17);
  plain_file("b", 100, 18);
  EXPECT_EQ(run({"encrypt", "-q", "--key", "a key longer than sixteen bytes", path("a"), path("missing"),
                 path("b")}), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, path("missing") + ": no such file\n");
  EXPECT_TRUE(file_exists(path("a.dat")) && file_exists(path("b.dat")));
  EXPECT_EQ(run({"info", "--quiet", path("a.dat"), path("b.dat")}), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(run({"info", "--quiet", path("a.dat"), path("a")}), 1);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(starts_with(err, path("a") + ": not an encrypted file (")) << err;
}

// The tool's own lines say what happened, in plain words.
TEST_F(Cli, MessagesSayWhatHappened) {
  plain_file("a", 40, 36);
  plain_file("one-byte", 1, 37);
  write_file(path("text.dat"), bytes_of("The quick brown fox jumps over t"));  // 32 bytes
  std::filesystem::create_directories(path("one"));
  std::filesystem::create_directories(path("two"));
  std::filesystem::create_directories(path("dist"));
  plain_file("one/same.txt", 20, 38);
  plain_file("two/same.txt", 30, 39);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-d", path("dist"), path("nope"), path("no/a"),
                 path("one-byte"), path("x*.none"), path("one/same.txt"), path("two/same.txt")}),
            1);
  EXPECT_EQ(err, path("nope") + ": no such file\n" + path("no/a") + ": no such folder " +
                     path("no") + "\n" + path("one-byte") +
                     ": 1 byte, too short: the format holds files of 2 bytes or more; leave it "
                     "out with --exclude\n" +
                     path("x*.none") + ": no file matches this pattern\n" + path("two/same.txt") +
                     ": the output " + path("dist") + dir.back() + "same.txt.dat is also the " +
                     "output of " + path("one/same.txt") + "\n");
  EXPECT_EQ(run({"decrypt", "--key", test_key, "-o", path("x"), path("text.dat")}), 1);
  EXPECT_TRUE(starts_with(err, path("text.dat") + ": not an encrypted file (header claims "));
  EXPECT_NE(err.find(", file holds 32 bytes)\n"), std::string::npos) << err;
  EXPECT_EQ(run({"info", path("nope")}), 1);
  EXPECT_EQ(err, path("nope") + ": no such file\n");
  // Under -r a FILE is mostly a folder, and a missing one is called so.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-r", "-d", path("dist"), path("nope")}), 1);
  EXPECT_EQ(err, path("nope") + ": no such folder\n");
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("nope.txt")}), 1);
  EXPECT_EQ(err, path("nope.txt") + ": no such file or folder\n");
  // A missing --out-dir is made with its parents; a missing folder in
  // --output fails the file: one status, 1, when no output folder can be had.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-d", path("dist") + "/none/deeper", path("a")}), 0)
      << err;
  EXPECT_EQ(engine_decrypted(path("dist/none/deeper/a.dat")), read_file(path("a")));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-o", path("none/a.dat"), path("a")}), 1);
  EXPECT_EQ(err, path("a") + ": cannot write " + path("none/a.dat") + ": no such folder " +
                     path("none") + "\n");
  write_file(path("in-the-way"), bytes_of("x"));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-d", path("in-the-way/sub"), path("a")}), 1);
  EXPECT_EQ(err, path("a") + ": cannot make the folder " + path("in-the-way") +
                     ": a file has that name\n");

  // Short options combine, and --version answers.
  EXPECT_EQ(run({"encrypt", "-qfo", path("q.dat"), "--key", test_key, path("a")}), 0) << err;
  EXPECT_EQ(run({"encrypt", "-qfo", path("q.dat"), "--key", test_key, path("a")}), 0) << err;
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(run({"--version"}), 0);
  EXPECT_TRUE(starts_with(out, "qelv 1.")) << out;
  EXPECT_EQ(run({"verify", "--version"}), 0);
  EXPECT_TRUE(starts_with(out, "qelv 1.")) << out;
}

// An output that cannot be written names the system's reason: the disk
// test folders are set up by CTest (tools/test-full-disk.sh, test-media.sh).
TEST_F(Cli, WriteFailuresGiveTheSystemsReason) {
  std::string full = env_or_empty("QELV_FULL_DISK"), media = env_or_empty("QELV_TEST_MEDIA");
  if (full.empty() || media.empty()) GTEST_SKIP() << "QELV_FULL_DISK or QELV_TEST_MEDIA not set";
  plain_file("a", 100000, 40);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-o", full + "/out.bin", path("a")}), 1);
  EXPECT_TRUE(starts_with(err, path("a") + ": cannot write " + full +
                                  "/out.bin: disk full (needs 100.0 kB, ")) << err;
  EXPECT_EQ(folder_names(full), (std::vector<std::string>{"filler", "plain.bin"}));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-o", media + "/out.bin", path("a")}), 1);
  EXPECT_NE(err.find("read-only"), std::string::npos) << err;
}

// Sizes in a message differ where the files do.
TEST_F(Cli, SizesShowTheDifference) {
  plain_file("p", 1500000, 55);
  ASSERT_EQ(encrypt_file(path("p").c_str(), path("e").c_str(), test_key), std::string(result_ok));
  bytes cut = read_file(path("e"));
  cut.resize(cut.size() - 1000);
  write_file(path("e"), cut);
  EXPECT_EQ(run({"verify", "--key", test_key, path("e")}), 1);
  EXPECT_EQ(err, path("e") + ": cut short, or not an encrypted file (header claims 1,500,023 "
                             "bytes, file holds 1,499,023 bytes)\n");
}

#ifndef _WIN32
// A name that holds a line end or another control character is shown
// escaped, so that each file's line stays one line.
TEST_F(Cli, NamesWithLineEndsStayOnTheirLine) {
  std::string odd = "a\nb\x1b.txt";
  plain_file(odd, 50, 66);
  write_file(path("e\tmpty"), {});
  ASSERT_EQ(run({"encrypt", "--key", test_key, path(odd), path("e\tmpty")}), 1) << err;
  EXPECT_EQ(lines_of(out).size(), 1u) << out;
  EXPECT_TRUE(starts_with(out, path("a\\nb\\x1b.txt") + " -> " + path("a\\nb\\x1b.txt.dat") +
                                   ": ")) << out;
  EXPECT_TRUE(starts_with(err, path("e\\tmpty") + ": empty")) << err;
  EXPECT_EQ(engine_decrypted(path(odd + ".dat")), read_file(path(odd)));
  EXPECT_EQ(run({"info", path(odd + ".dat")}), 0);
  EXPECT_EQ(lines_of(out)[0], path("a\\nb\\x1b.txt.dat"));
}

#endif

// A wrong key over a folder fails every file alike: the summary names the
// key as the likely cause, once; one damaged file among good ones does not.
TEST_F(Cli, AWrongKeyIsNamedOnceAsTheLikelyCause) {
  std::filesystem::create_directories(path("data"));
  for (int i = 0; i < 3; i++) plain_file("data/f" + std::to_string(i), 100, 760 + i);
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-r", "-d", path("dist"), path("data")}), 0) << err;
  const std::string hint = "; every file failed the check under this key: the key is the likely "
                           "cause\n";
  EXPECT_EQ(run({"verify", "--key", "other key", "-r", path("dist")}), 1);
  EXPECT_EQ(summary, "qelv: 3 files: 3 failed" + hint);
  EXPECT_EQ(run({"decrypt", "--key", "other key", "-r", "-d", path("back"), path("dist")}), 1);
  EXPECT_EQ(summary, "qelv: 3 files: 3 failed" + hint);
  bytes one = read_file(path("dist/f1.dat"));
  one.back() ^= 1;
  write_file(path("dist/f1.dat"), one);
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("dist")}), 1);
  EXPECT_EQ(summary, "qelv: 3 files: 2 checked out, 1 failed\n");
}

#ifndef _WIN32
// The note on a stale temporary file gives a command that removes only it,
// whatever its folder's name holds, when pasted into a shell.
TEST_F(Cli, TheStaleFilesCommandIsQuoted) {
  const std::string odd = "a;b $(touch pwned) 'q'";
  std::filesystem::create_directories(path(odd));
  plain_file(odd + "/f", 10, 770);
  write_file(path(odd + "/~qelv-0badf00d.tmp"), bytes(5, 1));
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-r", path(odd)}), 0) << err;
  const size_t at = err.find("remove it with: rm ");
  ASSERT_NE(at, std::string::npos) << err;
  std::string command = err.substr(at + 16);
  command.erase(command.find('\n'));
  ASSERT_EQ(std::system(("cd '" + dir + "' && " + command).c_str()), 0) << command;
  EXPECT_FALSE(file_exists(path(odd + "/~qelv-0badf00d.tmp")));
  EXPECT_FALSE(file_exists(path("pwned")));
  EXPECT_TRUE(file_exists(path(odd + "/f")));
}

#endif
