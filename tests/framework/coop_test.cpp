// The cooperative model without Qt, so that it runs cleanly under
// ThreadSanitizer: the program lock, the workers, their sleeps, yields and kills.

#include <gtest/gtest.h>

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
}  // namespace

// Stands in for the framework's report, which needs Qt.
void fw::ReportUnhandledException(std::exception_ptr error) {
  std::lock_guard lock(g_reports_mutex);
  g_reports.push_back(error);
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<std::exception_ptr> Reports() {
  std::lock_guard lock(g_reports_mutex);
  return g_reports;
}

// Hang guard for waiting on other threads: true once `condition` holds.
bool WaitUntil(const std::function<bool()>& condition, Clock::duration limit = 30s) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class CoopTest : public testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard lock(g_reports_mutex);
    g_reports.clear();
  }
};

TEST_F(CoopTest, OnlyOnePieceOfProgramCodeRunsAtATime) {
  constexpr int kWorkers = 4, kPasses = 1500;
  // Program state shared without locks, as the window's state is.
  long counter = 0;
  int overlaps = 0, uiPasses = 0;
  bool inside = false;
  auto pass = [&] {
    if (inside) ++overlaps;
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
      for (auto& worker : workers)
        if (worker.IsRunning()) return true;
      return false;
    });
  }
  for (auto& worker : workers) worker.Join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(counter, long{kWorkers} * kPasses + uiPasses);
}

enum class GiveWay { kSleep, kYield };

// The two places where a worker gives the lock away; both must behave alike.
class CoopGiveWayTest : public CoopTest, public testing::WithParamInterface<GiveWay> {
 protected:
  void GiveWayNow(int sleepMs) {
    GetParam() == GiveWay::kSleep ? fw::SleepCurrentThread(sleepMs) : fw::YieldToOthers();
  }
};

TEST_P(CoopGiveWayTest, WorkerQueuesBehindThoseAlreadyWaiting) {
  std::vector<int> order;  // guarded by the program lock
  fw::Thread queued[4], holder;
  for (int i = 0; i < 4; ++i) queued[i].RunHandler = [&order, i] { order.push_back(i + 1); };
  holder.RunHandler = [&] {
    // Keeps the lock until the others have queued up one after another.
    for (int i = 0; i < 4; ++i) {
      queued[i].Run();
      if (!WaitUntil([i] { return fw::coop::ProgramLockWaiterCount() > i; })) return;
    }
    GiveWayNow(5);
    order.push_back(0);
  };
  holder.Run();
  holder.Join();
  for (auto& thread : queued) thread.Join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 0}));
}

TEST_P(CoopGiveWayTest, KillTakesEffectThereAndNoProgramCodeRunsAfterwards) {
  int passes = 0;  // guarded by the program lock
  bool caught = false;
  fw::Thread worker;
  worker.RunHandler = [&] {
    try {
      for (;;) {
        ++passes;
        GiveWayNow(120000);  // long, so that a kill that does not cut it short shows
      }
    } catch (const std::exception&) {
      caught = true;  // program code that catches what it knows must not stop a kill
    }
  };
  const auto start = Clock::now();
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
  EXPECT_TRUE(Reports().empty()) << "a kill is no failure to report";
}

INSTANTIATE_TEST_SUITE_P(Coop, CoopGiveWayTest, testing::Values(GiveWay::kSleep, GiveWay::kYield),
                         [](const auto& info) {
                           return info.param == GiveWay::kSleep ? "Sleep" : "Yield";
                         });

TEST_F(CoopTest, KillingAnIdleThreadDoesNothingAndRunStartsAFinishedOneAgain) {
  int runs = 0;  // guarded by the program lock
  std::atomic<bool> release{true};
  fw::Thread worker;
  worker.RunHandler = [&] {
    ++runs;
    while (!release) fw::SleepCurrentThread(1);
  };
  worker.Kill();  // never started
  worker.Run();
  worker.Join();
  EXPECT_EQ(runs, 1);

  worker.Kill();  // finished
  release = false;
  worker.Run();
  worker.Run();  // ignored while running
  EXPECT_TRUE(worker.IsRunning());
  release = true;
  worker.Join();
  EXPECT_EQ(runs, 2);
}

TEST_F(CoopTest, WorkerDyingOfAnExceptionIsReportedAndReleasesTheLock) {
  fw::Thread worker;
  worker.RunHandler = [] {
    fw::ProgramLockHolder nested;  // unwinding must undo program code's own holds too
    throw std::runtime_error("probe unplugged");
  };
  worker.Run();
  worker.Join();
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_THROW(std::rethrow_exception(Reports()[0]), std::runtime_error);

  // The lock is free again, and the thread starts again.
  std::atomic<bool> ranAgain{false};
  worker.RunHandler = [&] { ranAgain = true; };
  worker.Run();
  EXPECT_TRUE(WaitUntil([&] { return ranAgain.load(); }));
}

}  // namespace
