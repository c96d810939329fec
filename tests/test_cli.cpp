// The qelv command-line tool, run in-process through cli_main with its
// streams redirected to files, and once as the built program: commands,
// options, key sources, exit statuses, batches with failures among
// successes, and the refusals that keep files from being overwritten.

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

TEST_F(Cli, KeySources) {
  bytes plain = plain_file("p", 64, 9);
  // The first line without its line end; its spaces are key bytes.
  write_file(path("key1"), bytes_of("  spaced key  \r\nsecond line\n"));
  ASSERT_EQ(run({"encrypt", "--key-file", path("key1"), "-o", path("e1"), path("p")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("e1"), "  spaced key  "), plain);
  EXPECT_EQ(run({"verify", "--key", "spaced key", path("e1")}), 1);
  EXPECT_EQ(run({"verify", "--key", "  spaced key  \r", path("e1")}), 1);
  write_file(path("key2"), bytes_of("  spaced key  "));  // no line end at all
  EXPECT_EQ(run({"verify", "--key-file", path("key2"), path("e1")}), 0) << err;
  write_file(path("key3"), bytes_of("  spaced key  \nother"));
  EXPECT_EQ(run({"decrypt", "--key-file=" + path("key3"), "-o", path("d1"), path("e1")}), 0) << err;
  EXPECT_EQ(read_file(path("d1")), plain);

  // Only the first 16 bytes count, and a longer key is pointed out.
  set_env("QELV_TEST_KEY", "0123456789abcdefXYZ");
  ASSERT_EQ(run({"encrypt", "--key-env", "QELV_TEST_KEY", "-o", path("e2"), path("p")}), 0) << err;
  EXPECT_EQ(err, "qelv: note: only the first 16 bytes of the key count\n");
  EXPECT_EQ(engine_decrypted(path("e2"), "0123456789abcdef"), plain);
  EXPECT_EQ(run({"verify", "--key", "0123456789abcdef", path("e2")}), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(run({"verify", "--key", "0123456789abcdeX", path("e2")}), 1);
  set_env("QELV_TEST_KEY", "0123456789abcdef--other-tail");
  EXPECT_EQ(run({"verify", "--key-env=QELV_TEST_KEY", "-q", path("e2")}), 0);
  EXPECT_EQ(err, "");
  // An empty first line is an empty key.
  write_file(path("key4"), bytes_of("\nreal key\n"));
  EXPECT_EQ(run({"verify", "--key-file", path("key4"), path("e1")}), 2);
  EXPECT_EQ(lines_of(err)[0], "qelv: the key is empty or only spaces");
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

  // An output that another file of the run still has to read is kept.
  bytes other = plain_file("a.dat", 50, 16);
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", path("a"), path("a.dat")}), 1);
  EXPECT_EQ(err, path("a") + ": the output " + path("a.dat") + " is also an input of this run\n");
  EXPECT_EQ(engine_decrypted(path("a.dat.dat")), other);
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

// Sets an environment variable to text written here in UTF-8: on Windows
// as wide text, the way the system holds a user's environment.
static void set_text_env(const char* name, const char* utf8) {
#ifdef _WIN32
  wchar_t wide_name[64], wide_value[256];
  MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name, 64);
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide_value, 256);
  _wputenv_s(wide_name, wide_value);
#else
  setenv(name, utf8, 1);
#endif
}

static const char accented_utf8[] = "cl\xc3\xa9 secr\xc3\xa8te";  // "clé secrète"
static const char accented_script[] = "cl\xe9 secr\xe8te";      // as a script passes it, 1252

// A run asked for by a request, as the window asks: reported through a
// face, its key given as characters.
struct recording_face {
  std::vector<std::string> lines, said;
  std::string closing;
  int progress_views = 0;
  bool final_seen = false;

  static bool item(void* c, const cli_item&, const std::string& line, bool) {
    static_cast<recording_face*>(c)->lines.push_back(line);
    return true;
  }
  static void progress(void* c, const cli_progress_view& view) {
    auto* f = static_cast<recording_face*>(c);
    f->progress_views++;
    f->final_seen = f->final_seen || view.final;
  }
  static void say(void* c, cli_said, const std::string& text) {
    static_cast<recording_face*>(c)->said.push_back(text);
  }
  static void close(void* c, const std::string& line, bool, bool) {
    static_cast<recording_face*>(c)->closing = line;
  }
  cli_face face() { return {this, "cancelled", item, progress, say, close, nullptr}; }
};

// A key typed into the window reaches the run as characters, spelt in the
// scripts' code page, refused whole when a character lacks in it, and
// wiped with the run; a run without one cannot ask for one.
TEST_F(Cli, ARequestCarriesATypedKey) {
  bytes plain = plain_file("p", 100, 31);
  const uint32_t euro_key[] = {'k', 0x20AC, 'y', 0x1F511};  // "k€y" and a key sign
  cli_request request = {cli_options_for(CMD_ENCRYPT), euro_key, 3, nullptr, nullptr};
  const std::string p = path("p"), e = path("e");
  request.options.files = {p.c_str()};
  request.options.output = e.c_str();
  auto run = std::make_unique<cli_run>();
  recording_face seen;
  cli_face face = seen.face();
  ASSERT_EQ(cli_run_request(run.get(), request, face), 0) << (seen.said.empty() ? "" : seen.said[0]);
  EXPECT_EQ(engine_decrypted(e, "k\x80y"), plain);  // Windows-1252's euro sign
  ASSERT_EQ(seen.lines.size(), 1u);
  EXPECT_TRUE(starts_with(seen.lines[0], p + " -> " + e + ": ")) << seen.lines[0];
  EXPECT_EQ(seen.closing, "qelv: 1 file: 1 written");
  EXPECT_TRUE(seen.final_seen || seen.progress_views == 0);
  EXPECT_EQ(std::string(run->key, sizeof run->key), std::string(sizeof run->key, '\0'))
      << "the key outlived its run";

  request.options = cli_options_for(CMD_VERIFY);
  request.options.files = {e.c_str()};
  request.key_count = 4;
  seen = {};
  face = seen.face();
  EXPECT_EQ(cli_run_request(run.get(), request, face), 2);
  ASSERT_EQ(seen.said.size(), 1u);
  EXPECT_NE(seen.said[0].find("U+1F511"), std::string::npos) << seen.said[0];
  request.key_points = nullptr;  // and no other source: nothing to ask with
  seen = {};
  face = seen.face();
  EXPECT_EQ(cli_run_request(run.get(), request, face), 2);
  EXPECT_EQ(seen.said, std::vector<std::string>{"no key: give --key-file, --key-env or --key"});
  std::vector<uint32_t> too_long(CLI_KEY_CAPACITY + 1, 'a');
  request.key_points = too_long.data();
  request.key_count = static_cast<int>(too_long.size());
  EXPECT_EQ(cli_run_request(run.get(), request, face), 2);
}

TEST_F(Cli, KeysAreTextSpeltInTheScriptsCodePage) {
#ifndef _WIN32
  setlocale(LC_CTYPE, "C.UTF-8");  // the locale a key typed here arrives in
#endif
  bytes plain = plain_file("p", 100, 30);
  set_text_env("QELV_TEST_KEY", accented_utf8);
  ASSERT_EQ(run({"encrypt", "--key-env", "QELV_TEST_KEY", "-o", path("e"), path("p")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("e"), accented_script), plain);

  // A key file in UTF-8, with or without a byte-order mark, holds the same key.
  write_file(path("bom"), bytes_of(std::string("\xef\xbb\xbf") + accented_utf8 + "\r\n"));
  write_file(path("utf8"), bytes_of(accented_utf8));
  EXPECT_EQ(run({"verify", "--key-file", path("bom"), path("e")}), 0) << err;
  EXPECT_EQ(run({"verify", "--key-file", path("utf8"), path("e")}), 0) << err;
  // --key-bytes takes the bytes as they are.
  EXPECT_EQ(run({"verify", "--key-bytes", "--key-file", path("utf8"), path("e")}), 1);
  ASSERT_EQ(run({"encrypt", "--key-bytes", "--key-file", path("utf8"), "-o", path("raw"), path("p")}),
            0);
  EXPECT_EQ(engine_decrypted(path("raw"), accented_utf8), plain);

  // A character that Windows-1252 lacks is refused, not spelt as another;
  // the scripts' own code page spells it.
  write_file(path("polish"), bytes_of("c\xc5\x82\xc3\xa9"));  // "cłé"
  EXPECT_EQ(run({"encrypt", "--key-file", path("polish"), "-o", path("refused"), path("p")}), 2);
  EXPECT_NE(err.find("U+0142"), std::string::npos) << err;
  EXPECT_FALSE(file_exists(path("refused")));
  ASSERT_EQ(run({"encrypt", "--key-file", path("polish"), "--key-codepage", "1250", "-o",
                 path("e1250"), path("p")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("e1250"), "c\xb3\xe9"), plain);

  // A key file that is not UTF-8 is in the scripts' code page, on every
  // system: as a Windows editor saves it.
  write_file(path("ansi"), bytes_of(accented_script));
  EXPECT_EQ(run({"verify", "--key-file", path("ansi"), path("e")}), 0) << err;
#ifndef _WIN32
  setlocale(LC_CTYPE, "C");  // ASCII: an accented key cannot be read as text
  EXPECT_EQ(run({"verify", "--key", accented_utf8, path("e")}), 2);
  // --key-bytes would give the UTF-8 bytes, another key than the scripts'.
  EXPECT_EQ(err.find("--key-bytes"), std::string::npos) << err;
  EXPECT_EQ(run({"verify", "--key", accented_utf8, "--key-bytes", path("e")}), 1);
#endif
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

// Standard input and output, through temporary files that never stay.
TEST_F(Cli, StreamsInAndOut) {
#ifdef _WIN32
  const char* temp_variable = "TMP";
#else
  const char* temp_variable = "TMPDIR";
#endif
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

static bytes iv_of(const std::string& file) {
  bytes b = read_file(file);
  return b.size() >= 17 ? bytes(b.begin() + 9, b.begin() + 17) : bytes();
}

// Two workers: the report keeps the files' order, and files encrypted at
// once on two threads still get initial values of their own.
TEST_F(Cli, TwoWorkersKeepTheOrder) {
  std::filesystem::create_directories(path("enc"));
  std::vector<std::string> args = {"encrypt", "--key", test_key, "-j", "2", "-d", path("enc")};
  for (int i = 0; i < 16; i++) {
    std::string name = "f" + std::to_string(10 + i);
    write_file(path(name), pattern_bytes(20000, 42));  // all alike
    args.push_back(path(name));
    if (i == 7) args.push_back(path("missing"));
  }
  EXPECT_EQ(run(args), 1);
  EXPECT_EQ(err, path("missing") + ": no such file\n");
  std::vector<std::string> lines = lines_of(out);
  ASSERT_EQ(lines.size(), 16u);
  std::vector<bytes> ivs;
  for (int i = 0; i < 16; i++) {
    std::string name = "f" + std::to_string(10 + i);
    EXPECT_TRUE(starts_with(lines[i], path(name) + " -> ")) << lines[i];
    EXPECT_EQ(engine_decrypted(path("enc/" + name + ".dat")), pattern_bytes(20000, 42));
    ivs.push_back(iv_of(path("enc/" + name + ".dat")));
  }
  std::sort(ivs.begin(), ivs.end());
  EXPECT_EQ(std::unique(ivs.begin(), ivs.end()), ivs.end()) << "two files share an initial value";
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

// No plain byte is put in a temporary file: with no temporary folder to be
// had at all, standard input is encrypted and decrypt -o - still works; a
// wrong key sends nothing; the key may come from standard input.
TEST_F(Cli, StreamsPutNoPlainDataOnDisk) {
#ifdef _WIN32
  const char* temp_variable = "TMP";
#else
  const char* temp_variable = "TMPDIR";
#endif
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

// Key files: a byte past U+10FFFF is no UTF-8 (so the file is in the
// scripts' code page, taken as it is); a folder and a zero byte are errors
// that say so.
TEST_F(Cli, KeyFileFaults) {
  bytes plain = plain_file("p", 100, 56);
  write_file(path("high"), bytes_of("k\xF4\x90\x80\x80"));
  ASSERT_EQ(run({"encrypt", "--key-file", path("high"), "-o", path("e"), path("p")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("e"), "k\xF4\x90\x80\x80"), plain);
  std::filesystem::create_directories(path("folder"));
  EXPECT_EQ(run({"verify", "--key-file", path("folder"), path("e")}), 2);
  EXPECT_EQ(lines_of(err)[0], "qelv: the key file " + path("folder") + " is a folder");
  write_file(path("zero"), bytes_of(std::string("ab\0cd\n", 6)));
  EXPECT_EQ(run({"encrypt", "--key-file", path("zero"), "-o", path("z"), path("p")}), 2);
  EXPECT_NE(err.find("holds a zero byte"), std::string::npos) << err;
  EXPECT_FALSE(file_exists(path("z")));
  // A key line is bounded: a long line without its end is refused, not read
  // on; a device that never ends is refused unread.
  write_file(path("one-line"), bytes(300 * 1024, 'k'));
  EXPECT_EQ(run({"encrypt", "--key-file", path("one-line"), "-o", path("z"), path("p")}), 2);
  EXPECT_EQ(lines_of(err)[0], "qelv: the key file " + path("one-line") +
                                  " holds no line end in its first 64 KiB; a key is its first line");
#ifndef _WIN32
  EXPECT_EQ(run({"encrypt", "--key-file", "/dev/zero", "-o", path("z"), path("p")}), 2);
  EXPECT_EQ(lines_of(err)[0], "qelv: the key file /dev/zero is a device, not a file");
#endif
  EXPECT_FALSE(file_exists(path("z")));
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
#endif


#ifndef _WIN32
// The built program on pipes: a device as the output, a reader that goes
// away, and an interrupt while standard input is being read, after which no
// temporary file of the tool's may stay.
TEST_F(Cli, TheProgramOnPipes) {
  std::string program = env_or_empty("QELV_CLI_PROGRAM");
  if (program.empty()) GTEST_SKIP() << "QELV_CLI_PROGRAM not set";
  std::string temp = make_temp_folder(), old_temp = env_or_empty("TMPDIR");
  set_env("TMPDIR", temp.c_str());
  set_env("QELV_TEST_KEY", test_key);
  bytes plain = plain_file("big", 1 << 20, 44);
  ASSERT_EQ(encrypt_file(path("big").c_str(), path("big.dat").c_str(), test_key), std::string(result_ok));
  auto shell = [&](const std::string& line) {
    std::string command = "bash -c '" + line + "' 2> \"" + streams + "err\"";
    int s = std::system(command.c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  };
  std::string q = "\"" + program + "\"", big = "\"" + path("big") + "\"";
  EXPECT_EQ(shell("cat " + big + ".dat | " + q + " decrypt --key-env QELV_TEST_KEY -o /dev/stdout -"
                  " | cmp -s - " + big), 0);
  EXPECT_EQ(shell(q + " decrypt --key-env QELV_TEST_KEY -o - " + big + ".dat | head -c 10 > "
                  "/dev/null; exit ${PIPESTATUS[0]}"), 1);
  EXPECT_EQ(text_of(read_file(streams + "err")),
            path("big.dat") + ": cannot write standard output: the reading end was closed\n");

  // Plain data from a pipe is encrypted as it comes, into the output's own
  // temporary file: nothing goes to the temporary folder.  An interrupt
  // while the tool waits for more input removes that file too.
  int data[2];
  ASSERT_EQ(pipe(data), 0);
  pid_t child = fork();
  if (child == 0) {
    dup2(data[0], 0);
    close(data[1]);
    int e = open((streams + "child-err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(e, 2);
    execl(program.c_str(), "qelv", "encrypt", "--key-env", "QELV_TEST_KEY", "-o",
          path("never").c_str(), "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(data[0]);
  ASSERT_EQ(write(data[1], plain.data(), 100000), 100000);
  auto engine_temporaries = [&]() {
    std::vector<std::string> found;
    for (const std::string& name : folder_names(dir))
      if (starts_with(name, "~qelv-")) found.push_back(name);
    return found;
  };
  for (int waited = 0; engine_temporaries().empty() && waited < 500; waited++) usleep(10000);
  EXPECT_EQ(engine_temporaries().size(), 1u) << "no temporary file beside the output";
  EXPECT_EQ(folder_names(temp), std::vector<std::string>{}) << "plain data in the temporary folder";
  kill(child, SIGINT);
  int status = 0;
  waitpid(child, &status, 0);
  close(data[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(folder_names(temp), std::vector<std::string>{});
  EXPECT_EQ(engine_temporaries(), std::vector<std::string>{});
  EXPECT_FALSE(file_exists(path("never")));
  EXPECT_EQ(text_of(read_file(streams + "child-err")),
            "qelv: interrupted: 0 of 1 file finished; the rest were not written\n");

  // The listing to a pipe whose reader has gone: one line, status 1.
  int listing[2];
  ASSERT_EQ(pipe(listing), 0);
  close(listing[0]);
  plain_file("small1", 100, 45);
  plain_file("small2", 100, 46);
  child = fork();
  if (child == 0) {
    dup2(listing[1], 1);
    int e = open((streams + "child-err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(e, 2);
    execl(program.c_str(), "qelv", "encrypt", "--key-env", "QELV_TEST_KEY", "-j", "1",
          path("small1").c_str(), path("small2").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(listing[1]);
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  std::vector<std::string> said = lines_of(text_of(read_file(streams + "child-err")));
  ASSERT_EQ(said.size(), 1u);
  EXPECT_TRUE(starts_with(said[0], "qelv: standard output was closed: ")) << said[0];
  set_env("TMPDIR", old_temp.c_str());
  remove_tree(temp);
}
#endif

#ifndef _WIN32
// SIGINT, SIGTERM and a hang-up in the middle of a large file: the file
// stops at its next piece, its temporary file goes, one line says what was
// not done, and the process ends by the signal (status 130, 143, 129).
TEST_F(Cli, TheProgramStopsOnSignals) {
  std::string program = env_or_empty("QELV_CLI_PROGRAM");
  if (program.empty()) GTEST_SKIP() << "QELV_CLI_PROGRAM not set";
  set_env("QELV_TEST_KEY", test_key);
  plain_file("big", 96 << 20, 47);
  plain_file("small", 100, 48);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    std::string out_dir = path("out" + std::to_string(signal_number));
    pid_t child = fork();
    if (child == 0) {
      int e = open((streams + "child-err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(e, 2);
      execl(program.c_str(), "qelv", "encrypt", "-q", "-j", "1", "--key-env", "QELV_TEST_KEY",
            "-d", out_dir.c_str(), path("big").c_str(), path("small").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    // Signalled as soon as the engine's temporary file is there.
    bool seen = false;
    for (int waited = 0; !seen && waited < 20000; waited++) {
      if (file_exists(out_dir))
        for (const std::string& name : folder_names(out_dir)) seen = seen || starts_with(name, "~qelv-");
      if (!seen) usleep(500);
    }
    EXPECT_TRUE(seen) << signal_number;
    kill(child, signal_number);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
        << signal_number << " " << status;
    EXPECT_EQ(folder_names(out_dir), std::vector<std::string>{}) << signal_number;
    EXPECT_EQ(text_of(read_file(streams + "child-err")),
              "qelv: interrupted: 0 of 2 files finished; the rest were not written\n")
        << signal_number;
  }
}
#endif

#ifdef _WIN32
// A console event in the middle of a large file: the file stops at its
// next piece, its temporary file goes, one line says what was not done,
// and the status is a failure (130), never 0.  The child encrypts 48 MiB
// into out/ in a process group of its own (an event sent to the group
// reaches it alone), its messages in a file.
struct event_child {
  PROCESS_INFORMATION process = {};
  std::string out_dir, err_file;
};

static bool start_event_child(const std::string& program, const std::string& big,
                              event_child* child) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE err = CreateFileA(child->err_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  if (err == INVALID_HANDLE_VALUE) return false;
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = err;
  start.hStdError = err;
  std::string command = "\"" + program + "\" encrypt -q --key-env QELV_TEST_KEY -d \"" +
                        child->out_dir + "\" \"" + big + "\"";
  bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                                CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &start,
                                &child->process);
  CloseHandle(err);
  return started;
}

// Whether the child's temporary file showed in out/ before it ended.
static bool child_writes(const event_child& child) {
  for (int waited = 0; waited < 300000; waited += 5) {
    if (file_exists(child.out_dir))
      for (const std::string& name : folder_names(child.out_dir))
        if (starts_with(name, "~qelv-")) return true;
    if (WaitForSingleObject(child.process.hProcess, 5) == WAIT_OBJECT_0) return false;
  }
  return false;
}

static DWORD child_status(event_child* child) {
  WaitForSingleObject(child->process.hProcess, 600000);
  DWORD status = 0;
  GetExitCodeProcess(child->process.hProcess, &status);
  CloseHandle(child->process.hProcess);
  CloseHandle(child->process.hThread);
  return status;
}

static void expect_stopped(const event_child& child, DWORD status, const char* event) {
  EXPECT_EQ(status, 130u) << event;
  EXPECT_EQ(folder_names(child.out_dir), std::vector<std::string>{}) << event;
  EXPECT_EQ(without_cr(text_of(read_file(child.err_file))),
            "qelv: interrupted: 0 of 1 file finished; the rest were not written\n")
      << event;
}

// Ctrl+Break as the system sends it.  It reaches only processes of the
// test's console: under Wine the test has one when it runs on a terminal
// (tests/console_events.sh runs it so), else it makes one if it can.
// Takes the probe's own event, which would otherwise end the test program.
static BOOL WINAPI swallow_console_event(DWORD) { return TRUE; }

TEST_F(Cli, TheProgramStopsOnCtrlBreak) {
  std::string program = env_or_empty("QELV_CLI_PROGRAM");
  if (program.empty()) GTEST_SKIP() << "QELV_CLI_PROGRAM not set";
  DWORD mode;
  if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) && GetConsoleWindow() == nullptr &&
      !AllocConsole())
    GTEST_SKIP() << "no console to be had for the Ctrl+Break event";
  // A console that cannot send the event at all (Wine 8's answers
  // ERROR_INVALID_HANDLE) is told apart from a program that ignores it.
  SetConsoleCtrlHandler(swallow_console_event, TRUE);
  bool can_send = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
  DWORD send_error = GetLastError();
  Sleep(100);  // the handler runs on a thread of its own
  SetConsoleCtrlHandler(swallow_console_event, FALSE);
  if (!can_send)
    GTEST_SKIP() << "this console cannot send Ctrl+Break (GenerateConsoleCtrlEvent: error "
                 << send_error << ")";
  set_env("QELV_TEST_KEY", test_key);
  plain_file("big", 48 << 20, 59);
  event_child child;
  child.out_dir = path("out");
  child.err_file = streams + "child-err";
  ASSERT_TRUE(start_event_child(program, path("big"), &child));
  bool seen = child_writes(child);
  EXPECT_TRUE(seen) << "the run ended before it could be interrupted";
  bool sent = seen && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.process.dwProcessId);
  DWORD sent_error = GetLastError();
  if (!sent) TerminateProcess(child.process.hProcess, 99);
  DWORD status = child_status(&child);
  ASSERT_TRUE(!seen || sent) << "GenerateConsoleCtrlEvent failed: " << sent_error;
  expect_stopped(child, status, "Ctrl+Break");
}

// Ctrl+Break and the console closing, delivered by the program to itself
// through the handler the system would call (tests/interrupt_child_win32.cpp):
// what the handler does, where no console can send the event.
TEST_F(Cli, TheProgramStopsOnConsoleEvents) {
  std::string program = env_or_empty("QELV_INTERRUPT_CHILD");
  if (program.empty()) GTEST_SKIP() << "QELV_INTERRUPT_CHILD not set";
  set_env("QELV_TEST_KEY", test_key);
  plain_file("big", 48 << 20, 59);
  for (const char* event : {"break", "close"}) {
    event_child child;
    child.out_dir = path(std::string("out-") + event);
    child.err_file = streams + "child-err";
    set_env("QELV_TEST_EVENT", event);
    set_env("QELV_TEST_EVENT_FOLDER", child.out_dir.c_str());
    ASSERT_TRUE(start_event_child(program, path("big"), &child));
    expect_stopped(child, child_status(&child), event);
  }
  set_env("QELV_TEST_EVENT", "");
  set_env("QELV_TEST_EVENT_FOLDER", "");
}

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
// A pseudo-terminal for the prompt and the progress line.  Answers are typed
// one per prompt, each only once the prompt is shown and echo is off, the
// way a person would; everything the terminal shows is the transcript.
struct terminal {
  int master = -1, slave = -1;
  std::string transcript;
};

static bool open_terminal(terminal* t) {
  t->master = posix_openpt(O_RDWR | O_NOCTTY);
  if (t->master < 0 || grantpt(t->master) != 0 || unlockpt(t->master) != 0) return false;
  t->slave = open(ptsname(t->master), O_RDWR | O_NOCTTY);
  return t->slave >= 0;
}

static bool echo_is_on(int fd) {
  termios mode;
  return tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

static size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) n++;
  return n;
}

static void read_available(terminal* t, int wait_ms) {
  pollfd p = {t->master, POLLIN, 0};
  char buffer[512];
  while (poll(&p, 1, wait_ms) > 0 && (p.revents & POLLIN)) {
    ssize_t n = read(t->master, buffer, sizeof buffer);
    if (n <= 0) break;
    t->transcript.append(buffer, n);
    wait_ms = 0;
  }
}

// Types answers[i] at the (i+1)-th "Key" prompt, until done is set.  A
// prompt that keeps echo on gets its answer after two seconds anyway (and is
// caught echoing it); a run that still waits for input after ten gets an
// end of input, so that a fault fails the test instead of hanging it.
static void type_answers(terminal* t, std::vector<std::string> answers,
                         const std::atomic<bool>* done) {
  size_t typed = 0;
  int waited = 0;
  for (int rounds = 0; rounds < 1000 && !*done; rounds++) {
    read_available(t, 10);
    if (typed < answers.size() && count_of(t->transcript, "Key") > typed &&
        (!echo_is_on(t->slave) || ++waited > 200)) {
      std::string line = answers[typed++] + "\n";
      ssize_t ignored = write(t->master, line.data(), line.size());
      (void)ignored;
      waited = 0;
    }
  }
  if (!*done) {
    ssize_t ignored = write(t->master, "\x04", 1);  // the terminal's end-of-input character
    (void)ignored;
  }
  read_available(t, 10);
}

class CliTerminal : public Cli {
 protected:
  terminal t;
  void SetUp() override { ASSERT_TRUE(open_terminal(&t)); }
  void TearDown() override {
    close(t.slave);
    close(t.master);
    Cli::TearDown();
  }
  // Runs with standard input and standard error on the terminal.
  int run_on_terminal(const std::vector<std::string>& args, std::vector<std::string> answers) {
    FILE* in = fdopen(dup(t.slave), "r");
    FILE* e = fdopen(dup(t.slave), "w");
    std::atomic<bool> done = false;
    std::thread typist(type_answers, &t, answers, &done);
    int status = run(args, in, e);
    fclose(in);
    fclose(e);
    done = true;
    typist.join();
    return status;
  }
};

// With no FILE, standard input on a terminal is no input: typing would be
// taken for the data.
TEST_F(CliTerminal, NoFileOnATerminalIsAUsageError) {
  EXPECT_EQ(run_on_terminal({"encrypt", "--key", test_key, "-o", path("x.dat")}, {}), 2);
  EXPECT_NE(t.transcript.find("qelv: no FILE given"), std::string::npos) << t.transcript;
  EXPECT_FALSE(file_exists(path("x.dat")));
}

TEST_F(CliTerminal, PromptsWithoutEchoTwiceForEncrypt) {
  bytes plain = plain_file("a", 100, 19);
  ASSERT_EQ(run_on_terminal({"encrypt", path("a")}, {"typed key", "typed key"}), 0) << t.transcript;
  EXPECT_EQ(count_of(t.transcript, "Key: "), 1u);
  EXPECT_EQ(count_of(t.transcript, "Key again: "), 1u);
  EXPECT_EQ(t.transcript.find("typed"), std::string::npos) << "the key was echoed";
  EXPECT_TRUE(echo_is_on(t.slave)) << "echo was not turned back on";
  EXPECT_EQ(engine_decrypted(path("a.dat"), "typed key"), plain);

  t.transcript.clear();
  EXPECT_EQ(run_on_terminal({"decrypt", "-o", path("back"), path("a.dat")}, {"typed key"}), 0)
      << t.transcript;
  EXPECT_EQ(count_of(t.transcript, "Key"), 1u);
  EXPECT_EQ(read_file(path("back")), plain);

  // Two keys that differ are asked for again, three times at most.
  t.transcript.clear();
  EXPECT_EQ(run_on_terminal({"encrypt", "-o", path("c.dat"), path("a")},
                            {"typed key", "typo key", "second key", "second key"}), 0)
      << t.transcript;
  EXPECT_EQ(count_of(t.transcript, "The two keys differ; type the key again."), 1u);
  EXPECT_EQ(engine_decrypted(path("c.dat"), "second key"), plain);
  t.transcript.clear();
  EXPECT_EQ(run_on_terminal({"encrypt", "-o", path("b.dat"), path("a")},
                            {"k1", "x1", "k2", "x2", "k3", "x3"}), 2);
  EXPECT_NE(t.transcript.find("qelv: the two keys differ (3 tries)"), std::string::npos)
      << t.transcript;
  EXPECT_EQ(count_of(t.transcript, "Key again: "), 3u);
  EXPECT_FALSE(file_exists(path("b.dat")));
  EXPECT_TRUE(echo_is_on(t.slave));
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

// The progress line moves within a large file: files done, the share of the
// bytes and the speed; a short run shows none.
TEST_F(CliTerminal, ProgressLineWithinALargeFile) {
  plain_file("big", 64 << 20, 20);
  plain_file("small", 300, 21);
  ASSERT_EQ(run_on_terminal({"encrypt", "-j", "1", "--key", test_key, path("big"), path("small")},
                            {}), 0);
  std::vector<int> within;
  for (size_t at = 0; (at = t.transcript.find("\r0 of 2 files, ", at)) != std::string::npos; at++)
    within.push_back(atoi(t.transcript.c_str() + at + 16));
  EXPECT_TRUE(std::any_of(within.begin(), within.end(), [](int p) { return p > 0 && p < 100; }))
      << t.transcript;
  // The time left and the file being worked.
  EXPECT_NE(t.transcript.find(" left, " + path("big")), std::string::npos) << t.transcript;
  EXPECT_NE(t.transcript.find("\r2 of 2 files, 100%, "), std::string::npos) << t.transcript;
  EXPECT_NE(t.transcript.find(" MB/s"), std::string::npos);
  EXPECT_EQ(lines_of(out).size(), 2u);

  t.transcript.clear();
  ASSERT_EQ(run_on_terminal({"verify", "--key", test_key, "-q", path("big.dat")}, {}), 0);
  EXPECT_EQ(t.transcript, "");
  ASSERT_EQ(run_on_terminal({"verify", "--key", test_key, path("small.dat")}, {}), 0);
  EXPECT_EQ(t.transcript, "");
  EXPECT_EQ(lines_of(out).size(), 1u);
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

// The built program itself: its exit statuses and, on Windows, the
// expansion of patterns in its arguments.
TEST_F(Cli, TheProgram) {
  std::string program = env_or_empty("QELV_CLI_PROGRAM");
  if (program.empty()) GTEST_SKIP() << "QELV_CLI_PROGRAM not set";
  bytes plain = plain_file("a", 100, 23);
  set_env("QELV_TEST_KEY", test_key);
  auto status_of = [&](const std::string& arguments) {
    std::string command = "\"" + program + "\" " + arguments + " > \"" + streams + "out\" 2> \"" +
                          streams + "err\"";
#ifdef _WIN32
    command = "\"" + command + "\"";  // cmd strips one pair of quotes around the whole line
    return std::system(command.c_str());
#else
    int s = std::system(command.c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
#endif
  };
  EXPECT_EQ(status_of("encrypt --key-env QELV_TEST_KEY \"" + path("a") + "\""), 0);
  EXPECT_EQ(engine_decrypted(path("a.dat")), plain);
  EXPECT_EQ(status_of("verify --key wrong \"" + path("a.dat") + "\""), 1);
  EXPECT_EQ(without_cr(text_of(read_file(streams + "err"))),
            path("a.dat") + crc_failed + "\n");
  EXPECT_EQ(status_of("encrypt --no-such-option"), 2);
#ifdef _WIN32
  EXPECT_EQ(status_of("info \"" + dir + "*.dat\""), 0);
  EXPECT_TRUE(starts_with(without_cr(text_of(read_file(streams + "out"))), path("a.dat") + "\n"));
#endif
}

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
