// The console and the standard streams on POSIX systems: the terminal's
// settings for echo, and bytes written to a descriptor.

#include "../cli_console.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

const char* const cli_console_help_switch = nullptr;

bool cli_console_is_terminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

bool cli_console_names_terminal(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  // Opened without becoming the controlling terminal and without waiting.
  int fd = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool terminal = isatty(fd) == 1;
  close(fd);
  return terminal;
}

// The terminal's settings while echo is off, put back by
// cli_console_echo_on, by cli_console_restore or by an interrupt during the
// prompt when no other thread takes it.  File-scope: the signal handler
// and the interrupt's thread must reach them.
static termios saved_terminal;
static int echo_off_fd = -1;
static struct sigaction saved_interrupt;

static void interrupted(int signal_number) {
  cli_console_restore();
  sigaction(SIGINT, &saved_interrupt, nullptr);
  raise(signal_number);
}

bool cli_console_echo_off(FILE* in) {
  int fd = fileno(in);
  if (!isatty(fd) || tcgetattr(fd, &saved_terminal) != 0) return false;
  termios quiet = saved_terminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  echo_off_fd = fd;
  struct sigaction on_interrupt = {};
  on_interrupt.sa_handler = interrupted;
  sigaction(SIGINT, &on_interrupt, &saved_interrupt);
  if (tcsetattr(fd, TCSAFLUSH, &quiet) != 0) {
    cli_console_echo_on();
    return false;
  }
  return true;
}

void cli_console_echo_on() {
  if (echo_off_fd < 0) return;
  tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
  echo_off_fd = -1;
  sigaction(SIGINT, &saved_interrupt, nullptr);
}

void cli_console_restore() {
  if (echo_off_fd >= 0) tcsetattr(echo_off_fd, TCSAFLUSH, &saved_terminal);
}

void cli_console_write_text(FILE* stream, const char* text) { fputs(text, stream); }
void cli_console_binary(FILE*) {}

int cli_console_write_all(FILE* stream, const void* data, size_t count) {
  if (fflush(stream) != 0) return errno != 0 ? errno : EIO;
  const char* at = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = write(fileno(stream), at, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    at += n;
    count -= static_cast<size_t>(n);
  }
  return 0;
}
