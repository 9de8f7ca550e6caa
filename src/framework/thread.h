#pragma once
// Cooperative worker threads. Each runs on its own std::thread but executes
// program code only while it holds the program lock, so workers and handlers
// take turns exactly as a cooperative scheduler would.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace fw {

class Thread {
 public:
  explicit Thread(std::string name = {});
  // Kills the thread and waits for it to end.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The Run event: program code, run with the program lock held.
  std::function<void()> RunHandler;

  // Recorded only; scheduling is by arrival order at the lock.
  int Priority() const { return priority_; }
  void SetPriority(int priority) { priority_ = priority; }

  // Starts the Run event on a new std::thread. Nothing happens while the thread
  // is already running; a finished thread starts again.
  void Run();
  // Marks the thread killed. It notices when it next gets the lock back (at a
  // yield or a sleep, which a kill cuts short) and unwinds without running any
  // more program code. Killing a thread that is not running does nothing.
  void Kill();
  bool IsRunning() const;
  // Waits until the std::thread has ended, giving the program lock away meanwhile.
  void Join();

  // At shutdown: kill and join every worker that exists.
  static void KillAndJoinAll();

 private:
  friend struct ThreadAccess;
  std::string name_;
  int priority_ = 5;
  // Implementation state is private to thread.cpp.
  struct State;
  State* state_;
};

// Sleeps the calling thread for `ms` milliseconds with the program lock given
// away. On a killed worker the sleep ends early and the worker unwinds.
void SleepCurrentThread(int ms);

// One pass of a cooperative loop: lets waiting threads run, and unwinds a
// killed worker. Cheap when nobody waits.
void YieldToOthers();

// On the user-interface thread: yields to the workers at least once and then as
// long as `condition` holds, without spinning a core while a worker sleeps.
void YieldWhile(const std::function<bool()>& condition);

// Tests may run time faster: every sleep lasts ms / factor (factor >= 1).
void SetSleepSpeedup(double factor);

// Milliseconds on the clock that sleeps keep: a sleep of 600 ms moves it by 600, also when tests
// run time faster. Monotonic; its zero is arbitrary.
std::int64_t SleepClockMs();

// True on the thread that runs the Qt event loop; while no Qt application
// exists, on the process's main thread.
bool IsUserInterfaceThread();

}  // namespace fw
