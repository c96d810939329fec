// The build step's promise: encrypt exits 0 only when every input has an
// output that decrypts to exactly its bytes, and no run changes or removes
// a file that is not its own output.  Files of other kinds whose first
// bytes read as a header, outputs damaged anywhere, inputs changed with
// their CRC-32 kept, links in the outputs' places, folders given wrongly to
// --delete, and the inputs a project leaves out.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "../cli/cli_exclude.h"
#include "../engine/file_format.h"
#include "cli_fixture.h"

namespace {

// An uncompressed true-colour image as multimedia projects hold them: an
// 18-byte header whose first bytes (00 00 02 00 ...) read as a plain_size
// of 131,072, then its pixels.
bytes image_file(int width, int height) {
  bytes b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(width & 0xff),
             static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(height & 0xff),
             static_cast<uint8_t>(height >> 8), 24, 0};
  bytes pixels = pattern_bytes(static_cast<size_t>(width) * height * 3, 700);
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// A file as gzip -9n starts one (no name, no time, the best compression):
// its first eight bytes read as a plain_size of 559,903 and its ninth as a
// pad_count of 2.
bytes gzip_like_file(size_t length) {
  bytes b = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};
  bytes rest = pattern_bytes(length - b.size(), 701);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

// A count-prefixed record file: a little-endian 64-bit count of 40, then
// 40 records of 16 bytes, each starting with its kind, 0.
bytes record_file() {
  bytes b(8, 0);
  b[0] = 40;
  for (int i = 0; i < 40; i++) {
    bytes record = pattern_bytes(16, 702 + i);
    record[0] = 0;
    b.insert(b.end(), record.begin(), record.end());
  }
  return b;
}

}  // namespace

// Only what encryption writes counts as encrypted: files of other kinds
// that decryption would read are encrypted, kept and never deleted.
TEST_F(Cli, OnlyWhatEncryptionWritesCountsAsEncrypted) {
  std::filesystem::create_directories(path("data"));
  std::filesystem::create_directories(path("dist"));
  const bytes image = image_file(256, 256), gzip = gzip_like_file(600000), records = record_file();
  write_file(path("data/splash.tga"), image);
  write_file(path("data/music.gz"), gzip);
  write_file(path("data/records.dat"), records);
  // Each reads to decryption as a header that fits its length: what the
  // looser judgement took for an encrypted file.
  for (const char* name : {"data/splash.tga", "data/music.gz", "data/records.dat"}) {
    EXPECT_EQ(run({"info", path(name)}), 0) << name << err;
    std::vector<std::string> lines = lines_of(out);
    ASSERT_GE(lines.size(), 2u) << out;
    EXPECT_TRUE(starts_with(lines[lines.size() - 2], "  format      consistent")) << out;
    EXPECT_TRUE(starts_with(lines.back(), "  written     not as encryption writes: ")) << out;
  }

  const std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "-d",
                                         path("dist"), path("data")};
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(summary, "qelv: 3 files: 3 written\n") << err;
  EXPECT_EQ(engine_decrypted(path("dist/splash.tga.dat")), image);
  EXPECT_EQ(engine_decrypted(path("dist/music.gz.dat")), gzip);
  EXPECT_EQ(engine_decrypted(path("dist/records.dat.dat")), records);

  // A record file of the user's in the output folder is no output: named
  // by nothing, deleted by nothing.
  write_file(path("dist/records.dat"), records);
  std::vector<std::string> deleting = step;
  deleting.push_back("--delete");
  EXPECT_EQ(run(deleting), 0) << err;
  EXPECT_EQ(summary, "qelv: 3 files: 3 up to date\n") << err;
  EXPECT_EQ(read_file(path("dist/records.dat")), records);

  // An encrypted image replaced by a plain one is encrypted again, never
  // taken for encrypted and kept stale.
  const bytes other_image = image_file(256, 300);
  write_file(path("data/splash.tga"), other_image);
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(summary, "qelv: 3 files: 1 written, 2 up to date\n") << err;
  EXPECT_EQ(engine_decrypted(path("dist/splash.tga.dat")), other_image);

  // In place, each file becomes its encrypted form.
  ASSERT_EQ(run({"encrypt", "--key", test_key, "--in-place", "-r", path("data")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("data/splash.tga")), other_image);
  EXPECT_EQ(engine_decrypted(path("data/records.dat")), records);

  // info counts exactly the files encryption wrote.
  EXPECT_EQ(run({"info", "-r", path("dist")}), 0) << err;
  EXPECT_EQ(summary, "qelv: 4 files: 3 written by encryption, 1 readable by decryption only\n");
}

namespace {

// input with its bytes at offset changed and four bytes at fix_at set so
// that the CRC-32 is the original's: CRC-32 is linear, and 32 bits in a
// row can cancel any change.
bytes same_crc_change(const bytes& input, size_t offset, size_t fix_at) {
  bytes changed = input;
  for (size_t i = 0; i < 4; i++) changed[offset + i] ^= static_cast<uint8_t>(0x5a + i);
  const uint32_t want = rt_crc32(input.data(), static_cast<int32_t>(input.size()));
  const uint32_t base = rt_crc32(changed.data(), static_cast<int32_t>(changed.size()));
  // The effect of each of the 32 bits at fix_at, then Gaussian elimination.
  uint32_t effect[32], pick[32];
  for (int k = 0; k < 32; k++) {
    bytes flipped = changed;
    flipped[fix_at + k / 8] ^= static_cast<uint8_t>(1u << (k % 8));
    effect[k] = rt_crc32(flipped.data(), static_cast<int32_t>(flipped.size())) ^ base;
    pick[k] = 1u << k;
  }
  uint32_t target = want ^ base, chosen = 0;
  for (int bit = 31; bit >= 0; bit--) {
    int row = -1;
    for (int k = 0; k < 32 && row < 0; k++)
      if ((effect[k] >> bit) & 1 && (effect[k] & ~((2u << bit) - 1)) == 0) row = k;
    if (row < 0) continue;
    for (int k = 0; k < 32; k++)
      if (k != row && (effect[k] >> bit) & 1) {
        effect[k] ^= effect[row];
        pick[k] ^= pick[row];
      }
    if ((target >> bit) & 1) {
      target ^= effect[row];
      chosen ^= pick[row];
    }
    effect[row] = 0;  // used
  }
  for (int k = 0; k < 32; k++)
    if ((chosen >> k) & 1) changed[fix_at + k / 8] ^= static_cast<uint8_t>(1u << (k % 8));
  return changed;
}

}  // namespace

// Up to date means: deciphers whole to exactly the input.  A byte damaged
// anywhere in the output, and a change to the input that keeps its length
// and CRC-32, are written again, and verify finds both.
TEST_F(Cli, UpToDateMeansDecryptingToExactlyTheInput) {
  std::filesystem::create_directories(path("data"));
  const bytes input = plain_file("data/big.bin", 1000000, 710);
  const std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "-d",
                                         path("dist"), path("data")};
  const std::vector<std::string> check = {"verify", "--key", test_key, "-r", path("dist"),
                                          "--input-dir", path("data")};
  ASSERT_EQ(run(step), 0) << err;
  const std::string output = path("dist/big.bin.dat");
  const bytes good = read_file(output);
  for (size_t at : {good.size() / 2, good.size() - 1, size_t{FILE_HEADER_SIZE}}) {
    bytes damaged = good;
    damaged[at] ^= 0x01;
    write_file(output, damaged);
    EXPECT_EQ(run(check), 1) << at;
    ASSERT_EQ(run(step), 0) << err;
    EXPECT_EQ(lines_of(out).size(), 1u) << at << ": not written again";
    EXPECT_EQ(engine_decrypted(output), input) << at;
    EXPECT_EQ(run(check), 0) << at << err;
  }

  const bytes changed = same_crc_change(input, 300000, 700000);
  ASSERT_NE(changed, input);
  ASSERT_EQ(rt_crc32(changed.data(), static_cast<int32_t>(changed.size())),
            rt_crc32(input.data(), static_cast<int32_t>(input.size())));
  write_file(path("data/big.bin"), changed);
  EXPECT_EQ(run(check), 1);
  EXPECT_NE(err.find("stale: "), std::string::npos) << err;
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(lines_of(out).size(), 1u) << "not written again";
  EXPECT_EQ(engine_decrypted(output), changed);
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(out, "") << "written again";
}

// What a run cannot take, and what it would leave missing, fails it with
// what to do; an input already encrypted is skipped only beside itself.
TEST_F(Cli, MissingOutputsFail) {
  std::filesystem::create_directories(path("data/art"));
  std::filesystem::create_directories(path("data/.git"));
  const bytes text = plain_file("data/text.txt", 100, 720);
  plain_file("data/art/source.psd", 300, 721);
  plain_file("data/.git/config", 50, 722);
  write_file(path("data/.gitkeep"), {});
  ASSERT_EQ(encrypt_file(path("data/text.txt").c_str(), path("data/pre.bin").c_str(), test_key),
            std::string(result_ok));
  std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "-d",
                                   path("dist"), path("data")};
  // Without -r nothing would be taken: said before anything is done.
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-u", "-d", path("dist"), path("data")}), 2);
  EXPECT_FALSE(file_exists(path("dist")));

  EXPECT_EQ(run(step), 1);
  EXPECT_NE(err.find(".gitkeep: empty, too short"), std::string::npos) << err;
  EXPECT_NE(err.find("pre.bin: already an encrypted file, so its output "), std::string::npos)
      << err;
  EXPECT_NE(err.find("would be missing; give --allow-encrypted"), std::string::npos) << err;
  EXPECT_EQ(summary, "qelv: 5 files: 3 written, 2 failed\n") << err;

  // Left out, they pass, and so does verify, which finds every output.
  for (const char* pattern : {".gitkeep", ".git/", "art/**", "/pre.bin"})
    step.insert(step.end() - 1, {"--exclude", pattern});
  ASSERT_EQ(run(step), 0) << err;
  EXPECT_EQ(out, "") << "written again";
  std::vector<std::string> check = {"verify", "--key", test_key, "-r", path("dist"),
                                    "--input-dir", path("data"), "--exclude", ".gitkeep",
                                    "--exclude", ".git/", "--exclude", "art/**",
                                    "--exclude", "pre.bin"};
  // The outputs of inputs now left out are kept, named by nothing.
  EXPECT_TRUE(file_exists(path("dist/art/source.psd.dat")));
  std::filesystem::remove(path("dist/art/source.psd.dat"));
  std::filesystem::remove(path("dist/.git/config.dat"));
  EXPECT_EQ(run(check), 0) << err;
  // An input whose output is missing fails verify.
  std::filesystem::remove(path("dist/text.txt.dat"));
  EXPECT_EQ(run(check), 1);
  EXPECT_NE(err.find("text.txt: no output ("), std::string::npos) << err;

  // Beside itself, an encrypted file stays a skip; --allow-encrypted
  // encrypts it again wherever its output goes.
  EXPECT_EQ(run({"encrypt", "--key", test_key, path("data/pre.bin")}), 0) << err;
  EXPECT_NE(err.find("skipped: already an encrypted file"), std::string::npos) << err;
  EXPECT_EQ(run({"encrypt", "--key", test_key, "--allow-encrypted", "-d", path("dist"),
                 path("data/pre.bin")}), 0) << err;
  EXPECT_EQ(engine_decrypted(path("dist/pre.bin.dat")), read_file(path("data/pre.bin")));
}

// --delete removes only outputs whose input is gone, within bounds: never a
// file of the run, nothing under an input folder, and nothing at all when
// the input folder given is empty or the wrong one.
TEST_F(Cli, DeleteIsExactAndBounded) {
  std::filesystem::create_directories(path("data"));
  std::filesystem::create_directories(path("empty"));
  for (int i = 0; i < 4; i++) plain_file("data/f" + std::to_string(i), 100 + i, 730 + i);
  std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "--delete", "-d",
                                   path("dist"), path("data")};
  ASSERT_EQ(run(step), 0) << err;
  const std::vector<std::string> outputs = folder_listing(path("dist"));
  ASSERT_EQ(outputs.size(), 4u);

  // An empty input folder, and one that has lost most of its files.
  std::vector<std::string> wrong = step;
  wrong.back() = path("empty");
  EXPECT_EQ(run(wrong), 1);
  EXPECT_TRUE(starts_with(err, "qelv: --delete refused, nothing was done: the run found no "
                               "input in ")) << err;
  EXPECT_EQ(folder_listing(path("dist")), outputs);
  for (int i = 1; i < 4; i++) std::filesystem::remove(path("data/f" + std::to_string(i)));
  EXPECT_EQ(run(step), 1);
  EXPECT_NE(err.find("3 of the 4 encrypted files in "), std::string::npos) << err;
  EXPECT_NE(err.find("give --max-delete 3"), std::string::npos) << err;
  EXPECT_EQ(folder_listing(path("dist")), outputs);
  // A dry run says what it would do, with the real run's status.
  std::vector<std::string> dry = step;
  dry.insert(dry.begin() + 1, {"--max-delete", "3", "-n"});
  EXPECT_EQ(run(dry), 0) << err;
  EXPECT_EQ(lines_of(out).size(), 4u) << out;
  EXPECT_NE(out.find("f1.dat: would be deleted: no input ("), std::string::npos) << out;
  EXPECT_NE(out.find("f0 -> " + path("dist") + dir.back() + "f0.dat: up to date"),
            std::string::npos) << out;
  EXPECT_EQ(summary, "qelv: 4 files: 1 up to date, 3 would be deleted; a dry run: nothing was "
                     "changed\n");
  EXPECT_EQ(folder_listing(path("dist")), outputs);
  std::vector<std::string> allowed = step;
  allowed.insert(allowed.begin() + 1, {"--max-delete", "3"});
  EXPECT_EQ(run(allowed), 0) << err;
  EXPECT_EQ(folder_listing(path("dist")), std::vector<std::string>{"f0.dat"});

  // An input folder inside the output folder: its files are inputs, never
  // outputs without input, whatever they hold.
  plain_file("data/f1", 101, 731);
  ASSERT_EQ(run(step), 0) << err;
  std::filesystem::create_directories(path("dist/raw"));
  ASSERT_EQ(encrypt_file(path("data/f0").c_str(), path("dist/raw/pre.txt.dat").c_str(), test_key),
            std::string(result_ok));
  const bytes pre = read_file(path("dist/raw/pre.txt.dat"));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-u", "-r", "--delete", "--max-delete", "2",
                 "--allow-encrypted", "-d", path("dist"), path("dist/raw")}), 0) << err;
  EXPECT_EQ(read_file(path("dist/raw/pre.txt.dat")), pre);
  EXPECT_TRUE(file_exists(path("dist/pre.txt.dat.dat")));
  EXPECT_FALSE(file_exists(path("dist/f0.dat"))) << "an output of another input folder";

  // The output folder is the input folder, or inside it: an encrypted file
  // whose plain file is gone is then an input of the run too, failed (its
  // own output would be missing) and never deleted.
  std::filesystem::create_directories(path("tree/keep"));
  plain_file("tree/keep/k", 60, 750);
  plain_file("tree/gone", 61, 751);
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-r", "-d", path("tree/out"), path("tree")}), 0)
      << err;
  ASSERT_EQ(run({"encrypt", "--key", test_key, "-r", "--exclude", "out/", "-d", path("tree"),
                 path("tree")}), 0) << err;
  std::filesystem::remove(path("tree/gone"));
  const std::vector<std::string> in_tree = folder_listing(path("tree"));
  const std::vector<std::string> in_out = folder_listing(path("tree/out"));
  ASSERT_EQ(in_tree, (std::vector<std::string>{"gone.dat", "keep", "out"}));
  ASSERT_EQ(in_out, (std::vector<std::string>{"gone.dat", "keep"}));
  for (const char* out_dir : {"tree", "tree/out"}) {
    EXPECT_EQ(run({"encrypt", "--key", test_key, "-u", "-r", "--delete", "--max-delete", "9",
                   "-d", path(out_dir), path("tree")}), 1) << out_dir;
    EXPECT_EQ(err.find("deleted"), std::string::npos) << err;
    EXPECT_EQ(folder_listing(path("tree")), in_tree) << out_dir;
    EXPECT_EQ(folder_listing(path("tree/out")), in_out) << out_dir;
  }
}

// A suffix is the end of a name, never a way out of the output folder.
TEST_F(Cli, SuffixIsANameEnding) {
  plain_file("a", 10, 740);
  for (const char* suffix : {"/../../escaped", "", ".", "..", "x/y"}) {
    EXPECT_EQ(run({"encrypt", "--key", test_key, "--suffix", suffix, "-d", path("dist"),
                   path("a")}), 2) << suffix;
    EXPECT_TRUE(starts_with(err, "qelv: --suffix '")) << err;
  }
  EXPECT_EQ(folder_listing(dir), std::vector<std::string>{"a"});
}

// The help is printed whole: its last section and its last line.
TEST_F(Cli, HelpIsPrintedWhole) {
  ASSERT_EQ(run({"--help"}), 0);
  EXPECT_GT(out.size(), 5120u);
  EXPECT_NE(out.find("\nExamples:\n"), std::string::npos);
  EXPECT_TRUE(out.size() > 2 && out.compare(out.size() - 2, 2, ".\n") == 0) << out.substr(
      out.size() - 80);
  // A message naming a long path is not cut either.
  const std::string deep = path(std::string(5000, 'n'));
  EXPECT_EQ(run({"info", deep}), 1);
  EXPECT_NE(err.find(deep), std::string::npos);
}

#ifndef _WIN32
// Nothing is read or written through a link in an output's place, nor
// through a folder link below the output folder; --force replaces a link
// itself, and --delete never follows one.
TEST_F(Cli, LinksAreNeverFollowedOutOfTheOutputFolder) {
  std::filesystem::create_directories(path("data/sub"));
  std::filesystem::create_directories(path("dist"));
  std::filesystem::create_directories(path("outside"));
  const bytes a = plain_file("data/a.txt", 100, 750);
  plain_file("data/sub/b.txt", 100, 751);
  plain_file("outside/shared.txt", 64, 752);
  ASSERT_EQ(encrypt_file(path("outside/shared.txt").c_str(), path("outside/shared.dat").c_str(),
                         "another key"), std::string(result_ok));
  const bytes shared = read_file(path("outside/shared.dat"));
  std::filesystem::create_symlink("../outside/shared.dat", path("dist/a.txt.dat"));
  std::filesystem::create_directory_symlink("../outside", path("dist/sub"));
  std::filesystem::create_symlink("../outside/shared.dat", path("dist/gone.txt.dat"));
  const std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "--delete",
                                         "-d", path("dist"), path("data")};
  EXPECT_EQ(run(step), 1);
  EXPECT_NE(err.find("a.txt.dat is a link; no output is read or written through a link"),
            std::string::npos) << err;
  EXPECT_NE(err.find("sub is a link, which would lead the output out of"), std::string::npos)
      << err;
  EXPECT_EQ(read_file(path("outside/shared.dat")), shared);
  EXPECT_EQ(folder_listing(path("outside")),
            (std::vector<std::string>{"shared.dat", "shared.txt"}));

  EXPECT_EQ(run({"encrypt", "--key", test_key, "-f", "-d", path("dist"), path("data/a.txt")}), 0)
      << err;
  EXPECT_FALSE(std::filesystem::is_symlink(path("dist/a.txt.dat")));
  EXPECT_EQ(engine_decrypted(path("dist/a.txt.dat")), a);
  EXPECT_EQ(read_file(path("outside/shared.dat")), shared);
  EXPECT_TRUE(std::filesystem::is_symlink(path("dist/gone.txt.dat"))) << "deleted through a link";

  // Links among the inputs that encrypt cannot take fail it, and verify,
  // which checks the same promise, fails on them too.
  std::filesystem::remove_all(path("dist"));
  std::filesystem::create_directory_symlink("../outside", path("data/more"));
  std::filesystem::create_symlink("nowhere.txt", path("data/dangling.txt"));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-u", "-r", "-d", path("dist"), path("data")}), 1);
  EXPECT_NE(err.find("more: a link to a folder, which is not followed"), std::string::npos) << err;
  EXPECT_NE(err.find("dangling.txt: a link to nothing"), std::string::npos) << err;
  EXPECT_EQ(summary, "qelv: 4 files: 2 written, 2 failed\n");
  EXPECT_EQ(run({"verify", "--key", test_key, "-r", path("dist"), "--input-dir", path("data")}), 1);
  EXPECT_EQ(summary, "qelv: 4 files: 2 checked out, 2 failed\n");
  // Left out by the same patterns, a folder's among them, both pass.
  const std::vector<std::string> left_out = {"--exclude", "more/", "--exclude", "dangling.txt"};
  std::vector<std::string> again = {"encrypt", "--key", test_key, "-u", "-r", "-d", path("dist"),
                                    path("data")};
  again.insert(again.begin() + 1, left_out.begin(), left_out.end());
  EXPECT_EQ(run(again), 0) << err;
  std::vector<std::string> check = {"verify", "--key", test_key, "-r", path("dist"),
                                    "--input-dir", path("data")};
  check.insert(check.begin() + 1, left_out.begin(), left_out.end());
  EXPECT_EQ(run(check), 0) << err;
}

// An output whose input is there but failed (here a folder that became a
// link) has an input: it is neither named as without one nor deleted.
TEST_F(Cli, AnOutputWhoseInputFailedIsKept) {
  std::filesystem::create_directories(path("data/art"));
  std::filesystem::create_directories(path("shared"));
  plain_file("data/a", 50, 760);
  plain_file("data/art/x", 51, 761);
  const std::vector<std::string> step = {"encrypt", "--key", test_key, "-u", "-r", "--delete",
                                         "--max-delete", "9", "-d", path("dist"), path("data")};
  ASSERT_EQ(run(step), 0) << err;
  const bytes x = read_file(path("dist/art/x.dat"));
  std::filesystem::rename(path("data/art"), path("shared/art"));
  std::filesystem::create_directory_symlink("../shared/art", path("data/art"));
  EXPECT_EQ(run(step), 1);
  EXPECT_NE(err.find("art: a link to a folder"), std::string::npos) << err;
  EXPECT_EQ((out + err).find("no input"), std::string::npos) << out << err;
  EXPECT_EQ(read_file(path("dist/art/x.dat")), x);
  // Gone for good, the output goes.
  std::filesystem::remove(path("data/art"));
  EXPECT_EQ(run(step), 0) << err;
  EXPECT_NE(out.find("x.dat: deleted: no input ("), std::string::npos) << out;
  EXPECT_FALSE(file_exists(path("dist/art/x.dat")));
}
#endif

// Patterns read as rsync and .gitignore read them.
TEST(Exclude, PatternsReadAsRsyncAndGitignore) {
  struct probe { const char* pattern; const char* path; bool folder; bool left_out; };
  const probe probes[] = {
      {"*.psd", "a.psd", false, true},           {"*.psd", "art/deep/a.psd", false, true},
      {"*.psd", "a.psd.txt", false, false},      {"Thumbs.db", "x/Thumbs.db", false, true},
      {"/top.txt", "top.txt", false, true},      {"/top.txt", "sub/top.txt", false, false},
      {"src/", "src", true, true},               {"src/", "src", false, false},
      {"src/", "a/src/b.png", false, true},      {"art/*.psd", "art/a.psd", false, true},
      {"art/*.psd", "x/art/a.psd", false, false}, {"art/*.psd", "art/x/a.psd", false, false},
      {"art/**", "art/x/y/a.psd", false, true},  {"**/cache", "a/b/cache", true, true},
      {"**/cache", "cache", false, true},        {"a/**/b", "a/b", false, true},
      {"a/**/b", "a/x/y/b", false, true},        {"a/**/b", "a/xb", false, false},
      {"?.txt", "a.txt", false, true},           {"?.txt", "ab.txt", false, false},
      {"*", "anything/at/all", false, true},     {"data/*", "data/x/y", false, true},
  };
  for (const probe& p : probes) {
    cli_excludes excludes;
    std::string why;
    ASSERT_TRUE(cli_exclude_add(&excludes, p.pattern, &why)) << p.pattern << why;
    EXPECT_EQ(cli_exclude_match(excludes, p.path, p.folder) != nullptr, p.left_out)
        << p.pattern << " against " << p.path;
  }
  cli_excludes none;
  std::string why;
  EXPECT_FALSE(cli_exclude_add(&none, "/", &why));
  EXPECT_FALSE(why.empty());
}

// An exclude file as Windows editors save it: a byte-order mark, CRLF line
// ends, notes and blank lines; every pattern in it counts, the first too.
TEST_F(Cli, ExcludeFromReadsAFileAsEditorsSaveIt) {
  std::filesystem::create_directories(path("data/art"));
  plain_file("data/a.txt", 20, 780);
  plain_file("data/b.psd", 20, 781);
  plain_file("data/art/c.png", 20, 782);
  plain_file("data/d.tmp", 20, 783);
  const std::string listed = "\xEF\xBB\xBF*.psd\r\n# sources of the assets\r\n\r\nart/\r\n*.tmp";
  write_file(path("exclude.txt"), bytes(listed.begin(), listed.end()));
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-r", "--exclude-from", path("exclude.txt"), "-d",
                 path("dist"), path("data")}), 0) << err;
  EXPECT_EQ(folder_listing(path("dist")), std::vector<std::string>{"a.txt.dat"});
  EXPECT_EQ(run({"encrypt", "--key", test_key, "-r", "--exclude-from", path("missing.txt"), "-d",
                 path("dist"), path("data")}), 2);
}
