// The desktop shell on POSIX systems: xdg-open.

#include "shell.h"

#include <spawn.h>
#include <sys/wait.h>


extern char** environ;

void rt_shell_open(void*, const char* target) {
  char program[] = "xdg-open";
  char* argv[] = {program, const_cast<char*>(target), nullptr};
  pid_t child;
  if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) == 0) {
    int status;
    waitpid(child, &status, 0);
  }
}
