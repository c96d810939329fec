// Interrupts on Windows.  Ctrl+C, Ctrl+Break and the console closing (or
// the user logging off, the system shutting down) arrive on a thread of
// their own.  The handler stops the run, which stops its files at their
// next piece, removes their temporary files (Windows cannot remove a file
// that is open, so the run waits for its files first), says what was not
// done and ends the process with a failure status; the handler waits for
// that.  A closing console gives the handler five seconds before the
// system ends the process, so there the wait is shorter.

#include "../cli_interrupts.h"

#include <windows.h>

#include <chrono>
#include <thread>


// What the program gave cli_interrupts_guard.  File-scope: the interrupt's
// thread (the system's console handler on Windows) must reach them.
static bool (*guard_stop)(int status);
static void (*guard_cleanup)();

void cli_interrupts_end() { ExitProcess(130); }

static BOOL WINAPI guard_handler(DWORD event) {
  bool closing = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
  if (guard_stop(130)) std::this_thread::sleep_for(std::chrono::seconds(closing ? 4 : 30));
  guard_cleanup();
  cli_interrupts_end();
  return TRUE;
}

void cli_interrupts_deliver(unsigned long event) { guard_handler(event); }

void cli_interrupts_guard(bool (*stop)(int status), void (*cleanup)()) {
  guard_stop = stop;
  guard_cleanup = cleanup;
  SetConsoleCtrlHandler(guard_handler, TRUE);
}
