#include "framework/program_lock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "framework/coop_internal.h"

// A ticket lock: every thread that asks draws the next ticket and waits until
// that ticket is served. Releasing serves the next ticket, so the lock passes
// strictly in arrival order. A plain mutex would let a thread that gives way
// grab the lock straight back and starve the others.

namespace fw {
namespace {

std::mutex g_mutex;
std::condition_variable g_turn;
std::uint64_t g_next_ticket = 0;  // guarded by g_mutex
std::uint64_t g_serving = 0;      // guarded by g_mutex
// Threads that hold a ticket and wait for it; read without the mutex by
// HasWaiters, which loops may call once per byte.
std::atomic<int> g_waiting{0};

// How deep the current thread holds the lock; 0 when it does not hold it.
thread_local int t_depth = 0;

// With g_mutex held: waits until `ticket` is served.
void AwaitTurn(std::unique_lock<std::mutex>& lock, std::uint64_t ticket) {
  if (g_serving == ticket) return;
  g_waiting.fetch_add(1, std::memory_order_relaxed);
  g_turn.wait(lock, [ticket] { return g_serving == ticket; });
  g_waiting.fetch_sub(1, std::memory_order_relaxed);
}

void Take(int depth) {
  std::unique_lock<std::mutex> lock(g_mutex);
  AwaitTurn(lock, g_next_ticket++);
  t_depth = depth;
}

void Give() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_serving;
  }
  g_turn.notify_all();
}

}  // namespace

void ProgramLock::Acquire() {
  if (t_depth > 0) {
    ++t_depth;
    return;
  }
  Take(1);
}

void ProgramLock::Release() {
  // Releasing a lock this thread does not hold would serve a stranger's
  // ticket; ignore it rather than break the promise.
  if (t_depth <= 0) return;
  if (--t_depth == 0) Give();
}

int ProgramLock::ReleaseAll() {
  const int depth = t_depth;
  if (depth <= 0) return 0;
  t_depth = 0;
  Give();
  return depth;
}

void ProgramLock::Reacquire(int depth) {
  if (depth <= 0) return;
  if (t_depth > 0) {
    t_depth += depth;
    return;
  }
  Take(depth);
}

bool ProgramLock::HeldByCurrentThread() { return t_depth > 0; }

bool ProgramLock::HasWaiters() { return g_waiting.load(std::memory_order_relaxed) > 0; }

void ProgramLock::Yield() {
  if (t_depth <= 0 || !HasWaiters()) return;
  const int depth = t_depth;
  t_depth = 0;
  std::unique_lock<std::mutex> lock(g_mutex);
  // Serving the next ticket and drawing a new one in the same step queues this
  // thread behind exactly those that were waiting.
  ++g_serving;
  const std::uint64_t ticket = g_next_ticket++;
  g_turn.notify_all();
  AwaitTurn(lock, ticket);
  t_depth = depth;
}

void RequireProgramLock(const char* what) {
  if (t_depth > 0) return;
  std::fprintf(stderr, "maglyx: %s was reached without the program lock\n", what);
  std::abort();
}

int coop::ProgramLockWaiterCount() { return g_waiting.load(std::memory_order_relaxed); }

}  // namespace fw
