// The worker of runtime.h in the module, which starts no threads in its
// host: none can be had, so the engine does every job itself.  The
// programs that allow a worker link worker.cpp instead.

#include "runtime.h"

rt_worker* rt_worker_start() { return nullptr; }
void rt_worker_give(rt_worker*, void (*job)(void*), void* arg) { job(arg); }
void rt_worker_wait(rt_worker*) {}
void rt_worker_stop(rt_worker*) {}
