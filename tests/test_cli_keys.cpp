// The key: its sources, its spelling in the scripts' code page, a key
// typed into the window and handed over as characters, key files that are
// not what they should be, and the prompt on a terminal.

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

#endif
