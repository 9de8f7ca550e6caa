// Timers, the dispatch boundary and the report of unhandled exceptions, on a
// real Qt event loop.

#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "framework/coop_internal.h"
#include "framework/dispatch.h"
#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "framework/timer.h"
#include "recording_desktop.h"

namespace {

using namespace std::chrono_literals;

bool SeenContains(RecordingDesktopScope& desktop, const std::string& part) {
  for (const auto& shown : desktop->Seen())
    if (shown.text.find(part) != std::string::npos) return true;
  return false;
}

// --- timers ----------------------------------------------------------------

TEST(TimerTest, RepeatingTimerRunsItsActionUnderTheLockUntilSwitchedOff) {
  fw::Timer timer;
  int ticks = 0;
  bool alwaysHeld = true;
  timer.Action = [&] {
    ++ticks;
    alwaysHeld = alwaysHeld && fw::ProgramLock::HeldByCurrentThread();
  };
  timer.SetPeriod(5);
  timer.SetMode(fw::Timer::kModeMultiple);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  EXPECT_TRUE(alwaysHeld);
  EXPECT_FALSE(fw::ProgramLock::HeldByCurrentThread());

  timer.SetMode(fw::Timer::kModeOff);
  const int ticksAtOff = ticks;
  QTest::qWait(60);
  EXPECT_EQ(ticks, ticksAtOff);
}

TEST(TimerTest, SingleModeRunsOnceAndSwitchesItselfOff) {
  fw::Timer timer;
  int ticks = 0;
  timer.Action = [&] { ++ticks; };
  timer.SetPeriod(5);
  timer.SetMode(fw::Timer::kModeSingle);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks == 1; }, 5000));
  QTest::qWait(60);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(timer.Mode(), fw::Timer::kModeOff);
}

TEST(TimerTest, SwitchedOffFromAWorkerDropsTheTickThatWaitsForTheLock) {
  fw::Timer timer;
  int ticks = 0;  // guarded by the program lock
  timer.Action = [&] { ++ticks; };
  timer.SetPeriod(2);
  timer.SetMode(fw::Timer::kModeMultiple);

  int ticksAtOff = -1;
  bool tickWasWaiting = false;
  fw::Thread worker("switcher");
  worker.RunHandler = [&] {
    // Keep the lock until a tick on the user-interface thread waits for it:
    // that tick has come before the mode changes and must still not run.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fw::coop::ProgramLockWaiterCount() == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    tickWasWaiting = fw::coop::ProgramLockWaiterCount() > 0;
    timer.SetMode(fw::Timer::kModeOff);
    ticksAtOff = ticks;
  };
  worker.Run();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !worker.IsRunning(); }, 15000));
  worker.Join();
  QTest::qWait(60);

  EXPECT_TRUE(tickWasWaiting);
  EXPECT_EQ(timer.Mode(), fw::Timer::kModeOff);
  EXPECT_EQ(ticks, ticksAtOff);
}

// --- dispatch and unhandled exceptions -------------------------------------

TEST(DispatchTest, RunsCodeUnderTheLockAndNestsInsideIt) {
  bool outerHeld = false;
  bool innerRan = false;
  bool heldAfterInner = false;
  fw::Dispatch([&] {
    outerHeld = fw::ProgramLock::HeldByCurrentThread();
    fw::Dispatch([&] { innerRan = fw::ProgramLock::HeldByCurrentThread(); });
    heldAfterInner = fw::ProgramLock::HeldByCurrentThread();
  });
  EXPECT_TRUE(outerHeld);
  EXPECT_TRUE(innerRan);
  EXPECT_TRUE(heldAfterInner);
  EXPECT_FALSE(fw::ProgramLock::HeldByCurrentThread());
}

TEST(UnhandledExceptionTest, HandlerExceptionIsReportedAndTheProgramGoesOn) {
  RecordingDesktopScope desktop;
  fw::Dispatch([] { throw fw::IOException(ENOSPC, "history file is full"); });
  EXPECT_FALSE(fw::ProgramLock::HeldByCurrentThread());

  // Shown before Dispatch returns, without the event loop: a failure during
  // start-up, before the loop runs, must be seen too.
  const auto shown = desktop->Seen();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].text.find("IOException"), std::string::npos) << shown[0].text;
  EXPECT_NE(shown[0].text.find("history file is full"), std::string::npos) << shown[0].text;
  EXPECT_NE(shown[0].text.find(std::to_string(ENOSPC)), std::string::npos) << shown[0].text;
  EXPECT_TRUE(shown[0].onUserInterfaceThread);
  EXPECT_FALSE(shown[0].lockHeld);

  bool ranAfter = false;
  fw::Dispatch([&] { ranAfter = true; });
  EXPECT_TRUE(ranAfter);
}

TEST(UnhandledExceptionTest, TimerKeepsTickingAfterItsActionThrew) {
  RecordingDesktopScope desktop;
  fw::Timer timer;
  int ticks = 0;
  timer.Action = [&] {
    if (++ticks == 1) throw fw::OutOfBoundsException("index 7 of 4");
  };
  timer.SetPeriod(5);
  timer.SetMode(fw::Timer::kModeMultiple);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 3 && !desktop->Seen().empty(); }, 5000));
  timer.SetMode(fw::Timer::kModeOff);
  EXPECT_TRUE(SeenContains(desktop, "OutOfBoundsException"));
  EXPECT_TRUE(SeenContains(desktop, "index 7 of 4"));
}

TEST(UnhandledExceptionTest, WorkerExceptionIsShownOnTheUserInterfaceThread) {
  RecordingDesktopScope desktop;
  fw::Thread worker("capture");
  worker.RunHandler = [] { throw std::runtime_error("capture failed"); };
  worker.Run();
  worker.Join();
  EXPECT_FALSE(worker.IsRunning());

  ASSERT_TRUE(QTest::qWaitFor([&] { return !desktop->Seen().empty(); }, 5000));
  const auto shown = desktop->Seen();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].text.find("capture failed"), std::string::npos) << shown[0].text;
  EXPECT_TRUE(shown[0].onUserInterfaceThread);

  // The worker let go of the lock.
  bool ranAfter = false;
  fw::Dispatch([&] { ranAfter = true; });
  EXPECT_TRUE(ranAfter);
}

TEST(UnhandledExceptionTest, DescriptionNamesTheTypeAndTheMessage) {
  const auto io = fw::DescribeException(
      std::make_exception_ptr(fw::IOException(ENOENT, "no such history file")));
  EXPECT_NE(io.find("fw::IOException"), std::string::npos) << io;
  EXPECT_NE(io.find("no such history file"), std::string::npos) << io;
  EXPECT_NE(io.find(std::to_string(ENOENT)), std::string::npos) << io;

  const auto nil = fw::DescribeException(std::make_exception_ptr(fw::NilObjectException("port")));
  EXPECT_NE(nil.find("fw::NilObjectException"), std::string::npos) << nil;
  EXPECT_NE(nil.find("port"), std::string::npos) << nil;

  const auto odd = fw::DescribeException(std::make_exception_ptr(42));
  EXPECT_NE(odd.find("int"), std::string::npos) << odd;
}

}  // namespace
