// Control of the test build of the runtime: every call that can fail is
// counted, and the chosen one fails as the platform call would.  Calls may
// come from the engine's worker thread as well; the count is atomic, so a
// call that runs beside another may take either number.
#pragma once

#include <cstdint>

enum fault_kind { FAULT_NONE, FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_LENGTH, FAULT_SEEK,
                  FAULT_RESERVE, FAULT_CLOSE, FAULT_ALLOC, FAULT_CREATE,
                  FAULT_FLUSH, FAULT_REPLACE, FAULT_WORKER };

// Restarts the count; the n-th counted call fails (0: none fails), and after
// it the next removes_too removals of a file fail as well.
void fault_arm(int n, int removes_too = 0);
// Counted calls since fault_arm.
int fault_calls();
// What failed on purpose since fault_arm (FAULT_NONE when the n-th call was
// never reached).
fault_kind fault_failed();
// The system's reason a call failed on purpose leaves behind it.
int fault_code();
// Removals failed on request (fault_arm's removes_too), over the whole process.
int fault_removes_failed();
// Blocks handed out and not yet freed, over the whole process.
int64_t fault_blocks_held();
const char* fault_kind_name(fault_kind kind);

// Runs action(arg) once, just before the first call of the given kind is
// forwarded to the platform (after fault_arm, which clears it): a stand-in
// for another program changing a file between two steps of the engine.
void fault_before_first(fault_kind kind, void (*action)(void*), void* arg);
