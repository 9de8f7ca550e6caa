// The cooperative model without Qt, so that it runs cleanly under
// ThreadSanitizer: the program lock, the workers, their sleeps, yields and kills.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/coop_internal.h"
#include "framework/dispatch.h"
#include "framework/program_lock.h"
#include "framework/thread.h"

namespace {
std::mutex g_reports_mutex;
std::vector<std::exception_ptr> g_reports;  // guarded by g_reports_mutex

std::vector<std::exception_ptr> Reports() {
  std::lock_guard lock(g_reports_mutex);
  return g_reports;
}
}  // namespace

// Stands in for the framework's report, which needs Qt.
void fw::ReportUnhandledException(std::exception_ptr error) {
  std::lock_guard lock(g_reports_mutex);
  g_reports.push_back(error);
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Hang guard for waiting on other threads: true once `condition` holds.
bool WaitUntil(const std::function<bool()>& condition) {
  for (const auto deadline = Clock::now() + 30s; !condition(); std::this_thread::sleep_for(1ms))
    if (Clock::now() > deadline) return false;
  return true;
}

TEST(Coop, OnlyOnePieceOfProgramCodeRunsAtATime) {
  constexpr int kWorkers = 4, kPasses = 1500;
  // Program state shared without locks, as the window's state is.
  long counter = 0;
  int overlaps = 0, uiPasses = 0;
  bool inside = false;
  auto pass = [&] {
    overlaps += inside;
    inside = true;
    const long seen = counter;
    std::this_thread::yield();  // invites any other runnable thread in mid-update
    counter = seen + 1;
    inside = false;
  };
  fw::Thread workers[kWorkers];
  for (int w = 0; w < kWorkers; ++w) {
    workers[w].RunHandler = [&pass, w] {
      for (int p = 0; p < kPasses; ++p) {
        pass();
        (p + w) % 97 == 0 ? fw::SleepCurrentThread(0) : fw::YieldToOthers();
      }
    };
  }
  {
    // The user-interface thread takes part, as a handler waiting for a capture.
    fw::ProgramLockHolder hold;
    for (auto& worker : workers) worker.Run();
    fw::YieldWhile([&] {
      pass();
      ++uiPasses;
      return std::any_of(std::begin(workers), std::end(workers),
                         [](const fw::Thread& w) { return w.IsRunning(); });
    });
  }
  for (auto& worker : workers) worker.Join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(counter, long{kWorkers} * kPasses + uiPasses);
}

// The two places where a worker gives the lock away; both must behave alike.
class GiveWay : public testing::TestWithParam<bool> {
 protected:
  void Now(int sleepMs) { GetParam() ? fw::SleepCurrentThread(sleepMs) : fw::YieldToOthers(); }
};

TEST_P(GiveWay, WorkerQueuesBehindThoseAlreadyWaiting) {
  std::vector<int> order;  // guarded by the program lock
  fw::Thread queued[4], holder;
  for (int i = 0; i < 4; ++i) queued[i].RunHandler = [&order, i] { order.push_back(i + 1); };
  holder.RunHandler = [&] {
    // Keeps the lock until the others have queued up one after another.
    for (int i = 0; i < 4; ++i) {
      queued[i].Run();
      if (!WaitUntil([i] { return fw::coop::ProgramLockWaiterCount() > i; })) return;
    }
    Now(5);
    order.push_back(0);
  };
  holder.Run();
  holder.Join();
  for (auto& thread : queued) thread.Join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 0}));
}

TEST_P(GiveWay, KillTakesEffectThereAndNoProgramCodeRunsAfterwards) {
  int passes = 0;  // guarded by the program lock
  bool caught = false;
  fw::Thread worker;
  worker.RunHandler = [&] {
    try {
      for (;;) {
        ++passes;
        Now(120000);  // long, so that a kill that does not cut it short shows
      }
    } catch (const std::exception&) {
      caught = true;  // program code that catches what it knows must not stop a kill
    }
  };
  const auto start = Clock::now();
  const std::size_t reports = Reports().size();
  {
    fw::ProgramLockHolder hold;
    worker.Run();
    fw::YieldWhile([&] { return passes < 1; });
    const int passesAtKill = passes;
    worker.Kill();
    worker.Join();  // hands the lock to the worker, which must not loop again
    EXPECT_EQ(passes, passesAtKill);
  }
  EXPECT_LT(Clock::now() - start, 60s) << "a killed sleep must end early";
  EXPECT_FALSE(caught);
  EXPECT_EQ(Reports().size(), reports) << "a kill is no failure to report";
}

INSTANTIATE_TEST_SUITE_P(Coop, GiveWay, testing::Bool(),
                         [](const auto& info) { return info.param ? "Sleep" : "Yield"; });

TEST(Coop, RunAndKillFollowTheThreadsStateAndADeathIsReported) {
  int runs = 0;  // guarded by the program lock
  std::atomic<bool> release{true};
  fw::Thread worker;
  worker.RunHandler = [&] {
    ++runs;
    while (!release) fw::SleepCurrentThread(1);
  };
  for (int pass = 0; pass < 2; ++pass) {
    worker.Kill();  // never started, then finished: nothing
    release = false;
    worker.Run();
    worker.Run();  // ignored while running
    EXPECT_TRUE(worker.IsRunning());
    release = true;
    worker.Join();
  }
  EXPECT_EQ(runs, 2);

  const std::size_t reports = Reports().size();
  worker.RunHandler = [] {
    fw::ProgramLockHolder nested;  // unwinding must undo program code's own holds too
    throw std::runtime_error("probe unplugged");
  };
  worker.Run();
  worker.Join();
  ASSERT_EQ(Reports().size(), reports + 1);
  EXPECT_THROW(std::rethrow_exception(Reports().back()), std::runtime_error);
  std::atomic<bool> ranAgain{false};  // so the lock is free again
  worker.RunHandler = [&] { ranAgain = true; };
  worker.Run();
  EXPECT_TRUE(WaitUntil([&] { return ranAgain.load(); }));
}

}  // namespace
