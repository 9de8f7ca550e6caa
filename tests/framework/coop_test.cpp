// The cooperative model on its own, with no Qt application and so no event
// loop, so that ThreadSanitizer sees every synchronisation the program lock and
// the workers make: their sleeps, yields and kills.

#include <gtest/gtest.h>

#include <algorithm>

#include "framework/coop_internal.h"
#include "framework/program_lock.h"
#include "framework/thread.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Hang guard for waiting on other threads: true once `condition` holds.
bool WaitUntil(const std::function<bool()>& condition) {
  for (const auto deadline = Clock::now() + 30s; !condition(); std::this_thread::sleep_for(1ms))
    if (Clock::now() > deadline) return false;
  return true;
}

// The two places where a worker gives the lock away must behave alike: behind
// those already waiting, and a kill takes effect there.
void GiveWay(bool sleep, int ms) {
  if (sleep)
    fw::SleepCurrentThread(ms);
  else
    fw::YieldToOthers();
}

TEST(Coop, OnlyOnePieceOfProgramCodeRunsAtATime) {
  constexpr int kWorkers = 4, kPasses = 1500;
  // Program state shared without locks, as the window's state is: two pieces
  // running at once would lose updates.
  long counter = 0;
  int uiPasses = 0;
  auto pass = [&] {
    const long seen = counter;
    std::this_thread::yield();  // invites any other runnable thread in mid-update
    counter = seen + 1;
  };
  fw::Thread workers[kWorkers];
  for (int w = 0; w < kWorkers; ++w) {
    workers[w].RunHandler = [&pass, w] {
      for (int p = 0; p < kPasses; ++p) {
        pass();
        GiveWay((p + w) % 97 == 0, 0);
      }
    };
  }
  {
    // The user-interface thread takes part, as a handler waiting for a capture.
    fw::ProgramLockHolder hold;
    for (auto& worker : workers) {
      worker.Kill();  // never started: nothing to end, and no kill left pending
      worker.Run();
      worker.Run();  // ignored while running (it waits for the lock we hold)
    }
    fw::YieldWhile([&] {
      pass();
      ++uiPasses;
      return std::any_of(std::begin(workers), std::end(workers),
                         [](const fw::Thread& w) { return w.IsRunning(); });
    });
  }
  for (auto& worker : workers) worker.Join();
  EXPECT_EQ(counter, long{kWorkers} * kPasses + uiPasses);
}

TEST(Coop, GivingWayQueuesBehindTheWaitingAndAKillEndsItThere) {
  for (const bool sleep : {true, false}) {
    SCOPED_TRACE(sleep ? "sleep" : "yield");
    std::vector<int> order;  // guarded by the program lock
    fw::Thread queued[4], holder;
    for (int i = 0; i < 4; ++i) queued[i].RunHandler = [&order, i] { order.push_back(i + 1); };
    holder.RunHandler = [&] {
      // Keeps the lock until the others have queued up one after another.
      for (int i = 0; i < 4; ++i) {
        queued[i].Run();
        if (!WaitUntil([i] { return fw::coop::ProgramLockWaiterCount() > i; })) return;
      }
      GiveWay(sleep, 5);
      order.push_back(0);
    };
    holder.Run();
    holder.Join();
    for (auto& thread : queued) thread.Join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 0}));

    int passes = 0;  // guarded by the program lock
    bool caught = false;
    fw::Thread worker;
    worker.RunHandler = [&] {
      try {
        // Long, so that a kill that does not cut it short shows.
        for (;;) {
          ++passes;
          GiveWay(sleep, 120000);
        }
      } catch (const std::exception&) {
        caught = true;  // program code that catches what it knows must not stop a kill
      }
    };
    const auto start = Clock::now();
    const int reports = fw::coop::UnhandledExceptionReportCount();
    fw::ProgramLockHolder hold;
    worker.Run();
    fw::YieldWhile([&] { return passes < 1; });
    const int passesAtKill = passes;
    worker.Kill();
    worker.Join();  // hands the lock to the worker, which must not loop again
    // A kill is no failure to report.
    EXPECT_EQ(std::tuple(passes - passesAtKill, caught, fw::coop::UnhandledExceptionReportCount()),
              std::tuple(0, false, reports));
    EXPECT_LT(Clock::now() - start, 60s) << "a killed sleep must end early";
  }
}

}  // namespace
