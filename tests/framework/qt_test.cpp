// Timers, reports of unhandled exceptions and modal calls on an offscreen Qt
// application.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "framework/coop_internal.h"
#include "framework/dispatch.h"
#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "framework/timer.h"
#include "support/fake_desktop.h"

namespace {

using namespace std::chrono_literals;

// Hang guard for another thread to queue up for the program lock, without
// running the event loop.
bool WaitForAWaiter() {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (fw::coop::ProgramLockWaiterCount() == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(TimerTest, RunsUnderTheLockGoesOnAfterAThrowAndStopsAtOnceWhenOffFromAWorker) {
  FakeDesktopScope desktop;
  fw::Timer single, repeating;
  int singleTicks = 0, ticks = 0, ticksAtOff = -1;  // guarded by the program lock
  bool alwaysHeld = true, tickWasWaiting = false;
  single.Action = [&] { ++singleTicks; };
  repeating.Action = [&] {
    alwaysHeld = alwaysHeld && fw::ProgramLock::HeldByCurrentThread();
    if (++ticks == 1) throw fw::OutOfBoundsException("index 7 of 4");
  };
  single.SetPeriod(2);
  repeating.SetPeriod(2);
  single.SetMode(fw::Timer::kModeSingle);
  repeating.SetMode(fw::Timer::kModeMultiple);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 30000));
  fw::Thread worker;
  worker.RunHandler = [&] {
    // That tick came before the mode changed and still must not run.
    tickWasWaiting = WaitForAWaiter();
    repeating.SetMode(fw::Timer::kModeOff);
    ticksAtOff = ticks;
  };
  worker.Run();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !worker.IsRunning(); }, 60000));
  worker.Join();
  QTest::qWait(60);
  EXPECT_TRUE(tickWasWaiting);
  EXPECT_EQ(ticks, ticksAtOff);
  EXPECT_TRUE(alwaysHeld);
  EXPECT_EQ(singleTicks, 1);
  EXPECT_EQ(single.Mode(), fw::Timer::kModeOff);
  ASSERT_EQ(desktop->messages.size(), 1u);
  EXPECT_NE(desktop->messages[0].find("OutOfBoundsException"), std::string::npos);
}

TEST(DispatchTest, ExceptionsEscapingHandlersAndWorkersAreShownAndTheProgramGoesOn) {
  FakeDesktopScope desktop;
  std::vector<bool> shownOnUiWithoutLock;
  desktop->whileMessageShows = [&](const std::string&) {
    shownOnUiWithoutLock.push_back(fw::IsUserInterfaceThread() &&
                                   !fw::ProgramLock::HeldByCurrentThread());
  };
  // From a handler: shown before Dispatch returns, so also before the loop runs.
  fw::Dispatch([] { throw fw::IOException(ENOSPC, "history file is full"); });
  ASSERT_EQ(desktop->messages.size(), 1u);

  // From a worker: posted to the user-interface thread.
  fw::Thread worker;
  worker.RunHandler = [] { throw std::runtime_error("capture failed"); };
  worker.Run();
  worker.Join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return desktop->messages.size() >= 2; }, 30000));

  const std::vector<std::vector<std::string>> want = {
      {"IOException", "history file is full", std::to_string(ENOSPC)}, {"capture failed"}};
  ASSERT_EQ(desktop->messages.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i)
    for (const std::string& part : want[i])
      EXPECT_NE(desktop->messages[i].find(part), std::string::npos) << desktop->messages[i];
  EXPECT_EQ(shownOnUiWithoutLock, std::vector<bool>(want.size(), true));
  bool ranAfter = false;
  fw::Dispatch([&] { ranAfter = true; });
  EXPECT_TRUE(ranAfter);
}

TEST(DesktopTest, MessageBoxesAreTitledLikeTheWindow) {
  auto previous = fw::SetDesktopServices(fw::MakeQtDesktopServices());
  QString title;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    box->close();
  });
  fw::MsgBox("Meter not found");
  fw::SetDesktopServices(std::move(previous));
  EXPECT_EQ(title, "MAGLYX");
}

struct ModalCall {
  const char* name;
  std::function<void()> call;
};
void PrintTo(const ModalCall& call, std::ostream* out) { *out << call.name; }

class ModalCallTest : public testing::TestWithParam<ModalCall> {};

TEST_P(ModalCallTest, GivesTheLockAwayWhileOpenAndTakesItBackAtFullDepth) {
  FakeDesktopScope desktop;
  bool workerRan = false;  // guarded by the program lock
  fw::Thread worker;
  worker.RunHandler = [&] { workerRan = true; };
  bool ranDuringCall = false;
  int depthAfter = 0;
  fw::Dispatch([&] {
    fw::ProgramLockHolder nested;
    worker.Run();
    if (!WaitForAWaiter()) return;
    // The worker asked first, so it runs before the lock comes back.
    GetParam().call();
    ranDuringCall = workerRan;
    depthAfter = fw::ProgramLock::ReleaseAll();
    fw::ProgramLock::Reacquire(depthAfter);
  });
  worker.Join();
  EXPECT_TRUE(ranDuringCall);
  EXPECT_EQ(depthAfter, 2);
  EXPECT_EQ(desktop->events.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Desktop, ModalCallTest,
                         testing::Values(ModalCall{"MsgBox", [] { fw::MsgBox("Meter not found"); }},
                                         ModalCall{"Beep", [] { fw::Beep(); }},
                                         ModalCall{
                                             "GetSaveFolderItem",
                                             [] { fw::GetSaveFolderItem("CSV", "history.csv"); }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
