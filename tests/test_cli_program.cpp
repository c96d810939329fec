// The built program and its workers: exit statuses, pipes, signals and
// console events in the middle of a file, the progress line, and two
// workers keeping the order.

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

#endif

#ifndef _WIN32
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
// A folder of the inputs that cannot be read hides inputs that may well be
// there: the outputs below it are kept, never deleted as without input.
// Run in a user namespace of its own, where the program keeps no
// privilege over the files: a folder of mode 000 cannot be listed.
TEST_F(Cli, TheProgramKeepsOutputsBehindAnUnreadableFolder) {
  std::string program = env_or_empty("QELV_CLI_PROGRAM");
  if (program.empty()) GTEST_SKIP() << "QELV_CLI_PROGRAM not set";
  if (std::system("unshare -U true 2> /dev/null") != 0)
    GTEST_SKIP() << "no user namespace to be had here";
  std::filesystem::create_directories(path("data/shut"));
  plain_file("data/a", 40, 770);
  plain_file("data/shut/x", 41, 771);
  set_env("QELV_TEST_KEY", test_key);
  const std::string step = "\"" + program + "\" encrypt --key-env QELV_TEST_KEY -u -r --delete "
                           "--max-delete 9 -d \"" + path("dist") + "\" \"" + path("data") +
                           "\" 2> \"" + streams + "err\"";
  ASSERT_EQ(std::system(step.c_str()), 0) << text_of(read_file(streams + "err"));
  const bytes x = read_file(path("dist/shut/x.dat"));
  std::filesystem::permissions(path("data/shut"), std::filesystem::perms::none);
  int s = std::system(("unshare -U " + step).c_str());
  std::filesystem::permissions(path("data/shut"), std::filesystem::perms::owner_all);
  EXPECT_TRUE(WIFEXITED(s) && WEXITSTATUS(s) == 1) << s;
  const std::string said = text_of(read_file(streams + "err"));
  EXPECT_NE(said.find("shut: the folder cannot be read"), std::string::npos) << said;
  EXPECT_EQ(said.find("deleted"), std::string::npos) << said;
  EXPECT_EQ(read_file(path("dist/shut/x.dat")), x);
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
