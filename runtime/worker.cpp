// The worker thread of runtime.h, on the C++ standard library's threads.
// Linked into the programs that let the engine use it (the command-line
// tool, the tests, the benchmark), never into the module: it starts no
// threads in its host, and links worker_none.cpp instead.

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "runtime.h"

struct rt_worker {
  std::mutex lock;
  std::condition_variable changed;
  void (*job)(void*);  // the job given and not yet done; null: none
  void* arg;
  bool stopping;
  std::thread thread;
};

static void worker_main(rt_worker* w) {
  std::unique_lock<std::mutex> held(w->lock);
  for (;;) {
    w->changed.wait(held, [w] { return w->job != nullptr || w->stopping; });
    if (w->job == nullptr) return;
    void (*job)(void*) = w->job;
    held.unlock();
    job(w->arg);
    held.lock();
    w->job = nullptr;
    w->changed.notify_all();
  }
}

rt_worker* rt_worker_start() {
  rt_worker* w = new (std::nothrow) rt_worker();
  if (w == nullptr) return nullptr;
  // The standard library reports a thread it cannot start by an exception;
  // the caller is told as for any other failure, and does the work itself.
  try {
    w->thread = std::thread(worker_main, w);
  } catch (const std::system_error&) {
    delete w;
    return nullptr;
  }
  return w;
}

void rt_worker_give(rt_worker* w, void (*job)(void*), void* arg) {
  std::lock_guard<std::mutex> held(w->lock);
  w->job = job;
  w->arg = arg;
  w->changed.notify_all();
}

void rt_worker_wait(rt_worker* w) {
  std::unique_lock<std::mutex> held(w->lock);
  w->changed.wait(held, [w] { return w->job == nullptr; });
}

void rt_worker_stop(rt_worker* w) {
  if (w == nullptr) return;
  {
    std::lock_guard<std::mutex> held(w->lock);
    w->stopping = true;
    w->changed.notify_all();
  }
  w->thread.join();
  delete w;
}
