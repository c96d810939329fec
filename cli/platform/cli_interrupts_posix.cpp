// Interrupts on POSIX systems.  The signals that end a run are blocked in
// every thread and taken by one thread of their own, which may then do what
// a signal handler may not: stop the run and wait for it, or clean up
// itself.

#include "../cli_interrupts.h"

#include <chrono>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "../../runtime/runtime.h"
#include "../cli_console.h"

// What the program gave cli_interrupts_guard.  File-scope: the interrupt's
// thread (the system's console handler on Windows) must reach them.
static bool (*guard_stop)(int status);
static void (*guard_cleanup)();
static sigset_t guarded;
static int interrupt_signal;  // the signal taken, for cli_interrupts_end

void cli_interrupts_end() {
  int signal_number = __atomic_load_n(&interrupt_signal, __ATOMIC_ACQUIRE);
  if (signal_number == 0) signal_number = SIGINT;
  cli_console_restore();
  // End as the signal would have ended the process without the guard.
  signal(signal_number, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);
}

static void guard_main(void*) {
  int signal_number = 0;
  while (sigwait(&guarded, &signal_number) != 0) {
  }
  __atomic_store_n(&interrupt_signal, signal_number, __ATOMIC_RELEASE);
  cli_console_restore();
  // A run stops its files, removes their temporary files, says what was
  // not done and ends the process through cli_interrupts_end; this thread
  // waits for that, and does what it can itself when no run answers.
  if (guard_stop(128 + signal_number)) std::this_thread::sleep_for(std::chrono::seconds(10));
  guard_cleanup();
  cli_interrupts_end();
}

void cli_interrupts_guard(bool (*stop)(int status), void (*cleanup)()) {
  guard_stop = stop;
  // A reader that goes away makes the next write fail with EPIPE, which is
  // reported, instead of ending the process before it cleans up.
  signal(SIGPIPE, SIG_IGN);
  guard_cleanup = cleanup;
  sigemptyset(&guarded);
  sigaddset(&guarded, SIGINT);
  sigaddset(&guarded, SIGTERM);
  sigaddset(&guarded, SIGHUP);
  // Threads made later inherit the mask, so only the guard takes these.
  // The guard is a worker thread of the runtime's, given its one job for
  // the rest of the process.
  pthread_sigmask(SIG_BLOCK, &guarded, nullptr);
  rt_worker* guard = rt_worker_start();
  if (guard != nullptr) rt_worker_give(guard, guard_main, nullptr);
  else pthread_sigmask(SIG_UNBLOCK, &guarded, nullptr);
}
