#include "framework/thread.h"

#include <pthread.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <vector>

#include "framework/coop_internal.h"
#include "framework/dispatch.h"
#include "framework/program_lock.h"

namespace fw {

struct Thread::State : std::enable_shared_from_this<Thread::State> {
  std::mutex mutex;
  // Signalled when the thread is killed (cuts a sleep short) and when it ends
  // (wakes Join).
  std::condition_variable changed;
  std::thread thread;                // guarded by mutex
  std::atomic<bool> running{false};  // set by Run, cleared by the thread at its end
  std::atomic<bool> killed{false};

  ~State() {
    // Only a worker that destroyed its own Thread gets here still joinable.
    if (thread.joinable()) thread.detach();
  }
};

// The friend that lets this file name the private state type.
struct ThreadAccess {
  using State = Thread::State;
};

namespace {

using State = ThreadAccess::State;

// The worker state of the calling thread; null on the user-interface thread
// and on threads the framework did not start.
thread_local State* t_current = nullptr;

// Initialised while the process loads, which happens on its main thread.
const std::thread::id g_main_thread = std::this_thread::get_id();

std::atomic<double> g_sleep_speedup{1.0};

// The sleep clock runs at the speedup's pace from the last change of speed on, so that it never
// jumps when a test changes the speed.
struct SleepClock {
  std::mutex mutex;
  std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
  double sinceMs = 0;  // the clock's reading at `since`
};

SleepClock& TheSleepClock() {
  static SleepClock* clock = new SleepClock;  // never destroyed: workers may read it at exit
  return *clock;
}

double SleepClockMsLocked(SleepClock& clock, std::chrono::steady_clock::time_point now) {
  const std::chrono::duration<double, std::milli> real = now - clock.since;
  return clock.sinceMs + real.count() * g_sleep_speedup.load();
}

// Every Thread that exists. The registry shares ownership of the states so that
// KillAndJoinAll can wait for a worker whose Thread is destroyed meanwhile.
struct Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<State>> states;
};

Registry& TheRegistry() {
  // Never destroyed: workers may still look at it while statics are torn down.
  static Registry* registry = new Registry;
  return *registry;
}

std::shared_ptr<State> Register() {
  auto state = std::make_shared<State>();
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.states.push_back(state);
  return state;
}

void Unregister(State* state) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::erase_if(registry.states, [state](const auto& s) { return s.get() == state; });
}

std::vector<std::shared_ptr<State>> AllStates() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  return registry.states;
}

// Called with the program lock held: a killed worker leaves here and runs no
// more program code.
void UnwindIfKilled() {
  if (t_current != nullptr && t_current->killed.load(std::memory_order_acquire))
    throw coop::ThreadKilled{};
}

void KillState(State& state) {
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.running.load()) return;
    state.killed.store(true, std::memory_order_release);
  }
  state.changed.notify_all();
}

// Waits until the worker has ended, with the program lock given away. Returns
// at once on the worker itself, which cannot wait for its own end.
void JoinState(State& state) {
  if (&state == t_current) return;
  ProgramLockGiveaway giveaway;
  std::thread ended;
  {
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait(lock, [&state] { return !state.running.load(); });
    ended = std::move(state.thread);
  }
  if (ended.joinable()) ended.join();
}

void NameNativeThread(const std::string& name) {
  if (name.empty()) return;
#if defined(__APPLE__)
  pthread_setname_np(name.substr(0, 63).c_str());
#elif defined(__linux__)
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
#endif
}

void WorkerMain(std::shared_ptr<State> state, std::function<void()> handler, std::string name) {
  t_current = state.get();
  NameNativeThread(name);
  ProgramLock::Acquire();
  try {
    UnwindIfKilled();
    if (handler) handler();
  } catch (const coop::ThreadKilled&) {
    // The kill has done its work.
  } catch (...) {
    ReportUnhandledException(std::current_exception());
  }
  // Whatever the handler captured goes while the lock is still held.
  handler = nullptr;
  {
    // Cleared before the lock goes: whoever takes the lock next already sees
    // the thread finished.
    std::lock_guard<std::mutex> lock(state->mutex);
    state->running.store(false);
  }
  state->changed.notify_all();
  ProgramLock::ReleaseAll();
  t_current = nullptr;
}

std::chrono::microseconds ScaledSleep(int ms) {
  const double factor = g_sleep_speedup.load();
  return std::chrono::microseconds(static_cast<long long>(std::max(ms, 0) * 1000.0 / factor));
}

}  // namespace

Thread::Thread(std::string name) : name_(std::move(name)), state_(Register().get()) {}

Thread::~Thread() {
  KillState(*state_);
  JoinState(*state_);
  Unregister(state_);
}

void Thread::Run() {
  std::thread previous;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->running.load()) return;
    previous = std::move(state_->thread);
    state_->killed.store(false);
    state_->running.store(true);
    try {
      state_->thread = std::thread(WorkerMain, state_->shared_from_this(), RunHandler, name_);
    } catch (...) {
      state_->running.store(false);
      throw;
    }
  }
  // The previous run has ended already; this only collects it.
  if (previous.joinable()) previous.join();
}

void Thread::Kill() { KillState(*state_); }

bool Thread::IsRunning() const { return state_->running.load(); }

void Thread::Join() {
  JoinState(*state_);
  UnwindIfKilled();
}

void Thread::KillAndJoinAll() {
  // Program code may start a worker while the lock is given away during a
  // join; go round until every worker has ended.
  for (;;) {
    const auto states = AllStates();
    bool anyRunning = false;
    for (const auto& s : states) {
      if (s.get() == t_current || !s->running.load()) continue;
      anyRunning = true;
      KillState(*s);
    }
    if (!anyRunning) break;
    for (const auto& s : states) JoinState(*s);
  }
  // Collect the std::threads of workers that ended on their own.
  for (const auto& s : AllStates()) JoinState(*s);
}

void SleepCurrentThread(int ms) {
  UnwindIfKilled();
  const auto duration = ScaledSleep(ms);
  {
    ProgramLockGiveaway giveaway;
    if (State* self = t_current) {
      std::unique_lock<std::mutex> lock(self->mutex);
      self->changed.wait_for(lock, duration, [self] { return self->killed.load(); });
    } else {
      std::this_thread::sleep_for(duration);
    }
  }
  UnwindIfKilled();
}

void YieldToOthers() {
  UnwindIfKilled();
  if (!ProgramLock::HasWaiters()) return;
  ProgramLock::Yield();
  UnwindIfKilled();
}

void YieldWhile(const std::function<bool()>& condition) {
  bool first = true;
  while (first || condition()) {
    first = false;
    UnwindIfKilled();
    if (ProgramLock::HeldByCurrentThread() && ProgramLock::HasWaiters()) {
      ProgramLock::Yield();
    } else {
      // Nobody is ready to run: the worker we wait for sleeps, or is about to
      // ask for the lock. Nap briefly without the lock rather than spin a core.
      ProgramLockGiveaway giveaway;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    UnwindIfKilled();
  }
}

void SetSleepSpeedup(double factor) {
  SleepClock& clock = TheSleepClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  const auto now = std::chrono::steady_clock::now();
  clock.sinceMs = SleepClockMsLocked(clock, now);
  clock.since = now;
  g_sleep_speedup.store(std::max(factor, 1.0));
}

std::int64_t SleepClockMs() {
  SleepClock& clock = TheSleepClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  return static_cast<std::int64_t>(SleepClockMsLocked(clock, std::chrono::steady_clock::now()));
}

bool IsUserInterfaceThread() {
  if (const QCoreApplication* app = QCoreApplication::instance())
    return QThread::currentThread() == app->thread();
  return std::this_thread::get_id() == g_main_thread;
}

}  // namespace fw
