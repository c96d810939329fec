// The command-line tool's platform pieces on POSIX systems.

#include <csignal>
#include <ctime>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "cli.h"

bool cli_is_terminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

// The terminal's settings while echo is off, put back by cli_echo_on or by
// an interrupt during the prompt.
static termios saved_terminal;
static int echo_off_fd = -1;
static struct sigaction saved_interrupt;

static void interrupted(int signal_number) {
  if (echo_off_fd >= 0) tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
  sigaction(SIGINT, &saved_interrupt, nullptr);
  raise(signal_number);
}

bool cli_echo_off(FILE* in) {
  int fd = fileno(in);
  if (!isatty(fd) || tcgetattr(fd, &saved_terminal) != 0) return false;
  termios quiet = saved_terminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  echo_off_fd = fd;
  struct sigaction on_interrupt = {};
  on_interrupt.sa_handler = interrupted;
  sigaction(SIGINT, &on_interrupt, &saved_interrupt);
  if (tcsetattr(fd, TCSAFLUSH, &quiet) != 0) {
    cli_echo_on(in);
    return false;
  }
  return true;
}

void cli_echo_on(FILE*) {
  if (echo_off_fd < 0) return;
  tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
  echo_off_fd = -1;
  sigaction(SIGINT, &saved_interrupt, nullptr);
}

// One file is one device and inode, whatever the path that leads to it.
bool cli_same_file(const char* a, const char* b) {
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

double cli_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

bool cli_is_separator(char c) { return c == '/'; }
const char cli_separator = '/';
