// A pseudo-terminal for the tests of the prompt and the progress line
// (POSIX): answers typed one per prompt, each only once the prompt is shown
// and echo is off, the way a person would.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"

// A pseudo-terminal for the prompt and the progress line.  Answers are typed
// one per prompt, each only once the prompt is shown and echo is off, the
// way a person would; everything the terminal shows is the transcript.
struct terminal {
  int master = -1, slave = -1;
  std::string transcript;
};

inline bool open_terminal(terminal* t) {
  t->master = posix_openpt(O_RDWR | O_NOCTTY);
  if (t->master < 0 || grantpt(t->master) != 0 || unlockpt(t->master) != 0) return false;
  t->slave = open(ptsname(t->master), O_RDWR | O_NOCTTY);
  return t->slave >= 0;
}

inline bool echo_is_on(int fd) {
  termios mode;
  return tcgetattr(fd, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

inline size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) n++;
  return n;
}

inline void read_available(terminal* t, int wait_ms) {
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
inline void type_answers(terminal* t, std::vector<std::string> answers,
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

#endif
