// A process killed while it encrypts or decrypts a large file, at many
// points from before its start to after its end: afterwards Output holds
// exactly its old bytes or exactly the complete new content, the source is
// unchanged unless it is Output, and at most one temporary file is left.
// The child is qelv_file_run, named by QELV_FILE_RUN.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "../engine/engine.h"
#include "test_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const char key[] = "weathervane";
const size_t plain_bytes = 32u << 20;

using clock_type = std::chrono::steady_clock;

// Runs "qelv_file_run VERB FILE OUTPUT key" and kills it after delay (never,
// when delay is negative).  Returns once the child is gone.
void run_child(const char* verb, const std::string& file, const std::string& output,
               std::chrono::milliseconds delay) {
  std::string program = env_or_empty("QELV_FILE_RUN");
  ASSERT_FALSE(program.empty()) << "QELV_FILE_RUN is not set";
#ifdef _WIN32
  std::string line = "\"" + program + "\" " + verb + " \"" + file + "\" \"" + output + "\" " + key;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi));
  if (delay.count() >= 0 &&
      WaitForSingleObject(pi.hProcess, static_cast<DWORD>(delay.count())) == WAIT_TIMEOUT)
    TerminateProcess(pi.hProcess, 9);
  WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
#else
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    execl(program.c_str(), program.c_str(), verb, file.c_str(), output.c_str(), key, nullptr);
    _exit(127);
  }
  if (delay.count() >= 0) {
    std::this_thread::sleep_for(delay);
    kill(child, SIGKILL);
  }
  int status;
  waitpid(child, &status, 0);
#endif
}

// A file removed, and a folder made, whatever the length of their paths
// (the temporary file beside a long Output is longer than the ANSI calls
// take).  Test paths are ASCII.
#ifdef _WIN32
std::wstring long_form(const std::string& path) {
  return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}
void remove_any(const std::string& path) { DeleteFileW(long_form(path).c_str()); }
bool make_folder(const std::string& path) { return CreateDirectoryW(long_form(path).c_str(), nullptr); }
#else
void remove_any(const std::string& path) { std::remove(path.c_str()); }
bool make_folder(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }
#endif

// The temporary files left in folder, which are then removed.
int take_temporaries(const std::string& folder) {
  int n = 0;
  for (const std::string& name : folder_names(folder)) {
    if (name.rfind("~qelv-", 0) == 0) {
      n++;
      remove_any(folder + name);
    }
  }
  return n;
}

class Kill : public testing::Test {
 protected:
  void SetUp() override {
    dir = make_temp_folder();
    plain = pattern_bytes(plain_bytes, 77);
    write_file(dir + "plain", plain);
    ASSERT_STREQ(encrypt_file((dir + "plain").c_str(), (dir + "sealed").c_str(), key), result_ok);
    sealed = read_file(dir + "sealed");
  }
  void TearDown() override { remove_tree(dir); }

  // True when content is a complete encryption of plain under key.
  bool is_sealed_plain(const bytes& content) {
    if (content.size() != sealed.size()) return false;
    write_file(dir + "check", content);
    bool good = decrypt_file((dir + "check").c_str(), (dir + "check").c_str(), key) == result_ok &&
                read_file(dir + "check") == plain;
    std::remove((dir + "check").c_str());
    return good;
  }

  // Kills the child at points spread from before its start to past its
  // end, for one verb and one placement of Output in folder (by default
  // the test's own), checking each time.
  void kill_at_many_points(const char* verb, bool in_place, std::string folder = "") {
    if (folder.empty()) folder = dir;
    const bool encrypting = verb[0] == 'e';
    const bytes& source_bytes = encrypting ? plain : sealed;
    const std::string source = folder + "source", output = in_place ? source : folder + "output";
    const bytes old_output = pattern_bytes(1000, 5);
    auto lay_out = [&] {
      write_file(source, source_bytes);
      if (!in_place) write_file(output, old_output);
    };
    lay_out();
    auto start = clock_type::now();
    run_child(verb, source, output, std::chrono::milliseconds(-1));
    auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start);
    const int points = 14;
    int old_seen = 0, new_seen = 0;
    // From before the start to half as long again as a whole run took, since
    // a run may take longer under load; then once without a kill.
    for (int k = 0; k <= points + 1; k++) {
      lay_out();
      auto delay = k <= points ? whole * 3 * k / (2 * points) : std::chrono::milliseconds(-1);
      run_child(verb, source, output, delay);
      SCOPED_TRACE(std::string(verb) + (in_place ? " in place" : " onto Output") + ", killed after " +
                   std::to_string(delay.count()) + " of " + std::to_string(whole.count()) + " ms");
      bytes now = read_file(output);
      bool was_old = now == (in_place ? source_bytes : old_output);
      bool is_new = encrypting ? is_sealed_plain(now) : now == plain;
      EXPECT_TRUE(was_old || is_new) << "Output holds " << now.size() << " bytes, neither old nor new";
      if (k > points) {
        EXPECT_TRUE(is_new) << "the run without a kill did not finish";
      }
      old_seen += was_old;
      new_seen += is_new;
      if (!in_place) {
        EXPECT_EQ(read_file(source), source_bytes);
      }
      EXPECT_LE(take_temporaries(folder), 1);
    }
    EXPECT_GT(old_seen, 0);  // the first kill comes before the child can finish
    std::printf("%s%s: killed runs left the old content %d times, the new %d times\n", verb,
                in_place ? " in place" : "", old_seen, new_seen - 1);
  }

  std::string dir;
  bytes plain, sealed;
};

TEST_F(Kill, EncryptInPlace) { kill_at_many_points("encrypt", true); }
TEST_F(Kill, EncryptOntoAnExistingOutput) { kill_at_many_points("encrypt", false); }
TEST_F(Kill, DecryptInPlace) { kill_at_many_points("decrypt", true); }
TEST_F(Kill, DecryptOntoAnExistingOutput) { kill_at_many_points("decrypt", false); }

// In a folder so deep that Output's path has the 259 characters the ANSI
// calls take, and the temporary file's more.
TEST_F(Kill, DecryptInPlaceAtTheLongestPath) {
  ASSERT_LT(dir.size(), 200u);
  std::string folder = dir + std::string(259 - 7 - dir.size(), 'k') + dir.back();
  ASSERT_TRUE(make_folder(folder));
  ASSERT_EQ((folder + "source").size(), 259u);
  kill_at_many_points("decrypt", true, folder);
  remove_any(folder + "source");
}

}  // namespace
