#pragma once
// The program lock keeps the cooperative promise that the window's state relies
// on: only one piece of program code runs at any moment. The user-interface
// thread holds it around every handler; a worker holds it while its Run handler
// runs. It changes hands only at sleeps, at explicit yields and around modal
// dialogs, and then strictly in arrival order.

namespace fw {

class ProgramLock {
 public:
  // Waits for the lock, behind every thread that asked before. Re-entrant on
  // the thread that holds it (a handler that triggers another handler).
  static void Acquire();
  // Undoes one Acquire.
  static void Release();
  // Gives the lock away completely, whatever the depth; returns that depth.
  static int ReleaseAll();
  // Takes the lock back (in arrival order) at the depth ReleaseAll returned.
  static void Reacquire(int depth);
  static bool HeldByCurrentThread();
  // True when some thread is waiting for the lock. An atomic load: cheap enough
  // to call once per byte of a loop.
  static bool HasWaiters();
  // Hands the lock to the threads that are waiting, if any, and queues up
  // again behind them. Costs next to nothing when nobody waits.
  static void Yield();
};

// Where program code reaches shared state (the window's controls, the meter line), debug builds
// check that it holds the lock, and so do builds with MAGLYX_CHECK_LOCK defined (the sanitizer
// builds of the tests). Code that got there without the lock could run at the same time as other
// program code: the check stops the process with a message naming what was reached.
#if !defined(NDEBUG) || defined(MAGLYX_CHECK_LOCK)
inline constexpr bool kCheckProgramLock = true;
#else
inline constexpr bool kCheckProgramLock = false;
#endif

// Stops the process, naming `what`, unless the calling thread holds the lock.
void RequireProgramLock(const char* what);

inline void CheckProgramLock(const char* what) {
  if constexpr (kCheckProgramLock) RequireProgramLock(what);
}

class ProgramLockHolder {
 public:
  ProgramLockHolder() { ProgramLock::Acquire(); }
  ~ProgramLockHolder() { ProgramLock::Release(); }
  ProgramLockHolder(const ProgramLockHolder&) = delete;
  ProgramLockHolder& operator=(const ProgramLockHolder&) = delete;
};

// Gives the lock away for a scope (a sleep, a modal dialog's own event loop) and
// takes it back at the end. Does nothing on a thread that does not hold it.
class ProgramLockGiveaway {
 public:
  ProgramLockGiveaway()
      : depth_(ProgramLock::HeldByCurrentThread() ? ProgramLock::ReleaseAll() : 0) {}
  ~ProgramLockGiveaway() {
    if (depth_ > 0) ProgramLock::Reacquire(depth_);
  }
  ProgramLockGiveaway(const ProgramLockGiveaway&) = delete;
  ProgramLockGiveaway& operator=(const ProgramLockGiveaway&) = delete;

 private:
  int depth_;
};

}  // namespace fw
