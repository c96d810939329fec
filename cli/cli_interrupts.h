// Interrupts: Ctrl+C, a hang-up, a termination request; on Windows
// Ctrl+Break and the console closing too.  Only the program takes them,
// not the tests that run cli_main in-process.
#pragma once

// Takes the interrupts: each stops the run (stop(status), true when a run
// is there to answer), and the program ends the process with
// cli_interrupts_end once the run has cleaned up; when no run answers in
// time, cleanup runs and the process ends from the interrupt's own thread.
// A closed pipe becomes a write error.
void cli_interrupts_guard(bool (*stop)(int status), void (*cleanup)());
// Ends the process as the interrupt would have: by the signal natively
// (status 128 + its number), with status 130 on Windows.
void cli_interrupts_end();

#ifdef _WIN32
// What the handler the system calls on a console event (CTRL_C_EVENT up to
// CTRL_SHUTDOWN_EVENT) does, on the caller's thread as on the system's; it
// ends the process.  For a test to deliver an event that Wine cannot.
void cli_interrupts_deliver(unsigned long event);
#endif
