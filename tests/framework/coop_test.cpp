// The cooperative model without Qt, so that it runs cleanly under
// ThreadSanitizer: the lock, the workers, their sleeps, yields and kills.

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/coop_internal.h"
#include "framework/dispatch.h"
#include "framework/program_lock.h"
#include "framework/thread.h"

namespace {

// Stands in for the framework's report, which needs Qt: records what a dying
// worker reports.
std::mutex g_reports_mutex;
std::vector<std::exception_ptr> g_reports;

std::vector<std::exception_ptr> Reports() {
  std::lock_guard<std::mutex> lock(g_reports_mutex);
  return g_reports;
}

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (int value) {
    return "int " + std::to_string(value);
  } catch (...) {
    return "?";
  }
}

}  // namespace

void fw::ReportUnhandledException(std::exception_ptr error) {
  std::lock_guard<std::mutex> lock(g_reports_mutex);
  g_reports.push_back(error);
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Hang guard for waiting on other threads: true once `condition` holds, false
// after `limit`.
bool WaitUntil(const std::function<bool()>& condition, Clock::duration limit = 10s) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

bool WaitForWaiters(int count) {
  return WaitUntil([count] { return fw::coop::ProgramLockWaiterCount() >= count; });
}

// True when some other thread can take and give back the lock within a few
// seconds. A thread that never gets it is left behind; the test fails anyway.
bool OtherThreadCanTakeTheLock() {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread other([done] {
    fw::ProgramLockHolder hold;
    done->store(true);
  });
  const bool took = WaitUntil([&] { return done->load(); }, 5s);
  if (took) {
    other.join();
  } else {
    other.detach();
  }
  return took;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class CoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> lock(g_reports_mutex);
    g_reports.clear();
  }
  void TearDown() override {
    fw::Thread::KillAndJoinAll();
    EXPECT_FALSE(fw::ProgramLock::HeldByCurrentThread());
  }
};

// --- the lock itself -------------------------------------------------------

TEST_F(CoopTest, LockIsReentrantAndGivenAwayAtFullDepth) {
  fw::ProgramLock::Acquire();
  fw::ProgramLock::Acquire();
  EXPECT_TRUE(fw::ProgramLock::HeldByCurrentThread());

  std::atomic<bool> otherTook{false};
  std::thread other([&] {
    fw::ProgramLockHolder hold;
    otherTook = true;
  });
  ASSERT_TRUE(WaitForWaiters(1));
  EXPECT_TRUE(fw::ProgramLock::HasWaiters());

  {
    fw::ProgramLockGiveaway giveaway;
    EXPECT_FALSE(fw::ProgramLock::HeldByCurrentThread());
    EXPECT_TRUE(WaitUntil([&] { return otherTook.load(); }));
  }
  other.join();
  EXPECT_TRUE(fw::ProgramLock::HeldByCurrentThread());

  const int depth = fw::ProgramLock::ReleaseAll();
  EXPECT_EQ(depth, 2);
  EXPECT_FALSE(fw::ProgramLock::HeldByCurrentThread());
  EXPECT_TRUE(OtherThreadCanTakeTheLock());

  fw::ProgramLock::Reacquire(depth);
  fw::ProgramLock::Release();
  EXPECT_TRUE(fw::ProgramLock::HeldByCurrentThread()) << "one Release undoes one level only";
  fw::ProgramLock::Release();
  EXPECT_FALSE(fw::ProgramLock::HeldByCurrentThread());
  EXPECT_TRUE(OtherThreadCanTakeTheLock());
}

TEST_F(CoopTest, YieldWithNobodyWaitingKeepsTheLock) {
  fw::ProgramLockHolder hold;
  EXPECT_FALSE(fw::ProgramLock::HasWaiters());
  fw::ProgramLock::Yield();
  fw::YieldToOthers();
  EXPECT_TRUE(fw::ProgramLock::HeldByCurrentThread());
}

// --- one piece of program code at a time -----------------------------------

TEST_F(CoopTest, OnlyOnePieceOfProgramCodeRunsAtATime) {
  constexpr int kWorkers = 4;
  constexpr int kPasses = 1500;
  // Program state shared without locks, as the window's state is.
  long counter = 0;
  bool inside = false;
  int overlaps = 0;
  int uiPasses = 0;
  auto pass = [&] {
    if (inside) ++overlaps;
    inside = true;
    const long seen = counter;
    // Invites any other thread that could run now to do so mid-update.
    std::this_thread::yield();
    counter = seen + 1;
    inside = false;
  };

  std::vector<std::unique_ptr<fw::Thread>> workers;
  for (int w = 0; w < kWorkers; ++w) {
    auto worker = std::make_unique<fw::Thread>("worker" + std::to_string(w));
    worker->RunHandler = [&pass, w] {
      for (int p = 0; p < kPasses; ++p) {
        pass();
        // Mix the ways of giving way, differently in each worker.
        if ((p + w) % 97 == 0) {
          fw::SleepCurrentThread(0);
        } else {
          fw::YieldToOthers();
        }
      }
    };
    workers.push_back(std::move(worker));
  }

  {
    // The user-interface thread takes part: it waits for the workers the way a
    // handler waits for a capture, doing a pass of its own at every check.
    fw::ProgramLockHolder hold;
    for (auto& worker : workers) worker->Run();
    fw::YieldWhile([&] {
      pass();
      ++uiPasses;
      for (auto& worker : workers)
        if (worker->IsRunning()) return true;
      return false;
    });
  }
  for (auto& worker : workers) worker->Join();

  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(counter, static_cast<long>(kWorkers) * kPasses + uiPasses);
  EXPECT_TRUE(Reports().empty());
}

// --- hand-over in arrival order --------------------------------------------

TEST_F(CoopTest, UserInterfaceYieldHandsOverInArrivalOrder) {
  std::vector<int> order;  // guarded by the program lock
  std::vector<std::unique_ptr<fw::Thread>> queued;
  {
    fw::ProgramLockHolder hold;
    for (int i = 1; i <= 5; ++i) {
      auto thread = std::make_unique<fw::Thread>();
      thread->RunHandler = [&order, i] { order.push_back(i); };
      thread->Run();
      ASSERT_TRUE(WaitForWaiters(i)) << "thread " << i << " never queued";
      queued.push_back(std::move(thread));
    }
    fw::ProgramLock::Yield();
    // Everyone who was waiting has had a turn before the yield returned.
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
  }
  for (auto& thread : queued) thread->Join();
}

enum class GiveWay { kSleep, kYield };

class HandOverTest : public CoopTest, public ::testing::WithParamInterface<GiveWay> {};

TEST_P(HandOverTest, WorkerGivingWayQueuesBehindThoseAlreadyWaiting) {
  std::vector<int> order;  // guarded by the program lock
  std::atomic<bool> holding{false};
  std::atomic<bool> proceed{false};
  const GiveWay way = GetParam();

  fw::Thread holder("holder");
  holder.RunHandler = [&] {
    holding = true;
    // Keeps the lock (no yield) until the others have queued up.
    while (!proceed) std::this_thread::sleep_for(1ms);
    if (way == GiveWay::kSleep) {
      fw::SleepCurrentThread(5);
    } else {
      fw::YieldToOthers();
    }
    order.push_back(0);
  };
  holder.Run();
  ASSERT_TRUE(WaitUntil([&] { return holding.load(); }));

  std::vector<std::unique_ptr<fw::Thread>> queued;
  for (int i = 1; i <= 4; ++i) {
    auto thread = std::make_unique<fw::Thread>();
    thread->RunHandler = [&order, i] { order.push_back(i); };
    thread->Run();
    ASSERT_TRUE(WaitForWaiters(i)) << "thread " << i << " never queued";
    queued.push_back(std::move(thread));
  }
  proceed = true;
  holder.Join();
  for (auto& thread : queued) thread->Join();

  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 0}));
}

INSTANTIATE_TEST_SUITE_P(AtSleepAndYield, HandOverTest,
                         ::testing::Values(GiveWay::kSleep, GiveWay::kYield), [](const auto& info) {
                           return info.param == GiveWay::kSleep ? "Sleep" : "Yield";
                         });

// --- kills -----------------------------------------------------------------

TEST_F(CoopTest, KillCutsALongSleepShortAndNoCodeRunsAfterIt) {
  std::atomic<bool> sleeping{false};
  bool afterSleep = false;
  bool caughtAsStdException = false;
  fw::Thread worker("sleeper");
  worker.RunHandler = [&] {
    sleeping = true;
    try {
      fw::SleepCurrentThread(60000);
    } catch (const std::exception&) {
      // Program code that catches everything it knows must not stop a kill.
      caughtAsStdException = true;
    }
    afterSleep = true;
  };
  worker.Run();
  ASSERT_TRUE(WaitUntil([&] { return sleeping.load(); }));
  const auto start = Clock::now();
  {
    // Getting the lock proves the worker has given it away, i.e. it sleeps.
    fw::ProgramLockHolder hold;
    worker.Kill();
  }
  worker.Join();

  EXPECT_LT(Clock::now() - start, 5s) << "a killed sleep must end early";
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(afterSleep);
  EXPECT_FALSE(caughtAsStdException);
  EXPECT_TRUE(Reports().empty()) << "a kill is not a failure to report";
}

TEST_F(CoopTest, KillTakesEffectAtTheNextYield) {
  int passes = 0;  // guarded by the program lock
  fw::Thread worker("looper");
  worker.RunHandler = [&] {
    for (;;) {
      ++passes;
      fw::YieldToOthers();
    }
  };
  int passesAtKill = 0;
  {
    fw::ProgramLockHolder hold;
    worker.Run();
    fw::YieldWhile([&] { return passes < 3; });
    passesAtKill = passes;
    worker.Kill();
    worker.Join();  // gives the lock to the worker, which must not loop again
    EXPECT_EQ(passes, passesAtKill);
  }
  EXPECT_GE(passesAtKill, 3);
  EXPECT_FALSE(worker.IsRunning());
}

TEST_F(CoopTest, KillBeforeTheFirstTurnRunsNoCode) {
  bool ran = false;
  fw::Thread worker;
  worker.RunHandler = [&] { ran = true; };
  {
    fw::ProgramLockHolder hold;
    worker.Run();
    ASSERT_TRUE(WaitForWaiters(1));
    worker.Kill();
  }
  worker.Join();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(worker.IsRunning());
}

TEST_F(CoopTest, KillingAThreadThatIsNotRunningDoesNothing) {
  int completeRuns = 0;
  fw::Thread worker;
  worker.RunHandler = [&] {
    fw::SleepCurrentThread(1);
    fw::YieldToOthers();
    ++completeRuns;
  };

  worker.Kill();  // never started
  EXPECT_FALSE(worker.IsRunning());
  worker.Run();
  worker.Join();
  EXPECT_EQ(completeRuns, 1);

  worker.Kill();  // finished
  worker.Run();
  worker.Join();
  EXPECT_EQ(completeRuns, 2);
}

// --- starting again --------------------------------------------------------

TEST_F(CoopTest, RunStartsAFinishedThreadAgainAndIgnoresARunningOne) {
  int runs = 0;  // guarded by the program lock
  std::atomic<bool> release{false};
  fw::Thread worker;
  worker.RunHandler = [&] {
    ++runs;
    while (!release) fw::SleepCurrentThread(1);
  };

  worker.Run();
  EXPECT_TRUE(worker.IsRunning());
  worker.Run();
  worker.Run();
  release = true;
  worker.Join();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(worker.IsRunning());

  release = false;
  worker.Run();
  EXPECT_TRUE(worker.IsRunning());
  release = true;
  worker.Join();
  EXPECT_EQ(runs, 2);
}

// --- failures --------------------------------------------------------------

TEST_F(CoopTest, WorkerDyingOfAnExceptionIsReportedAndReleasesTheLock) {
  fw::Thread failing("failing");
  failing.RunHandler = [] {
    fw::ProgramLockHolder nested;  // unwinding must undo program code's own holds too
    throw std::runtime_error("probe unplugged");
  };
  fw::Thread odd("odd");
  odd.RunHandler = [] { throw 42; };

  failing.Run();
  failing.Join();
  odd.Run();
  odd.Join();

  EXPECT_FALSE(failing.IsRunning());
  EXPECT_FALSE(odd.IsRunning());
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(MessageOf(reports[0]), "probe unplugged");
  EXPECT_EQ(MessageOf(reports[1]), "int 42");
  EXPECT_TRUE(OtherThreadCanTakeTheLock());

  // The program keeps running: the same thread works when started again.
  bool ranAgain = false;
  failing.RunHandler = [&] { ranAgain = true; };
  failing.Run();
  failing.Join();
  EXPECT_TRUE(ranAgain);
}

// --- shutdown --------------------------------------------------------------

TEST_F(CoopTest, DestroyingAThreadKillsAndJoinsIt) {
  std::atomic<bool> sleeping{false};
  auto worker = std::make_unique<fw::Thread>();
  worker->RunHandler = [&] {
    sleeping = true;
    fw::SleepCurrentThread(60000);
  };
  worker->Run();
  ASSERT_TRUE(WaitUntil([&] { return sleeping.load(); }));

  const auto start = Clock::now();
  {
    // Destroyed while holding the lock, as a window destroys its threads.
    fw::ProgramLockHolder hold;
    worker.reset();
  }
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(CoopTest, KillAndJoinAllEndsSleepersAndLoopers) {
  std::atomic<int> started{0};
  fw::Thread sleeper1, sleeper2, looper;
  sleeper1.RunHandler = sleeper2.RunHandler = [&] {
    ++started;
    fw::SleepCurrentThread(60000);
  };
  looper.RunHandler = [&] {
    ++started;
    for (;;) fw::YieldToOthers();
  };
  sleeper1.Run();
  sleeper2.Run();
  looper.Run();
  ASSERT_TRUE(WaitUntil([&] { return started.load() == 3; }));

  const auto start = Clock::now();
  {
    fw::ProgramLockHolder hold;
    fw::Thread::KillAndJoinAll();
  }
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_FALSE(sleeper1.IsRunning());
  EXPECT_FALSE(sleeper2.IsRunning());
  EXPECT_FALSE(looper.IsRunning());
}

// --- waiting on the user-interface thread ----------------------------------

TEST_F(CoopTest, YieldWhileWaitsForASleepingWorkerWithoutSpinning) {
  bool done = false;  // guarded by the program lock
  fw::Thread capture("capture");
  capture.RunHandler = [&] {
    fw::SleepCurrentThread(400);
    done = true;
  };
  fw::ProgramLockHolder hold;
  capture.Run();
  const double cpuBefore = ThreadCpuSeconds();
  const auto wallBefore = Clock::now();
  fw::YieldWhile([&] { return !done; });
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();

  EXPECT_TRUE(done);
  EXPECT_TRUE(fw::ProgramLock::HeldByCurrentThread());
  // Spinning would burn about as much processor time as time passed.
  EXPECT_LT(cpu, wall / 2) << "cpu " << cpu << " s over " << wall << " s";
  capture.Join();
}

TEST_F(CoopTest, SleepSpeedupShortensSleeps) {
  fw::SetSleepSpeedup(1000);
  std::atomic<bool> woke{false};
  fw::Thread worker;
  worker.RunHandler = [&] {
    fw::SleepCurrentThread(60000);
    woke = true;
  };
  worker.Run();
  const bool ended = WaitUntil([&] { return woke.load(); }, 5s);
  fw::SetSleepSpeedup(1);
  EXPECT_TRUE(ended);
  worker.Join();
}

}  // namespace
