// The qelv program: the runtime around one run of the command line.

#include "../runtime/runtime.h"
#include "cli.h"

#ifdef _WIN32
// Windows shells hand patterns such as *.txt over unexpanded; the C runtime
// expands them in the arguments when this is set.
int _dowildcard = -1;
#endif

int main(int argc, char** argv) {
  rt_start();
  int status = cli_main(argc, argv);
  rt_stop();
  return status;
}
