// The whole start-up and shutdown road, in a process of its own per case.

#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>

#include "app/app.h"
#include "app/main_menu_bar.h"
#include "app/startup.h"
#include "framework/thread.h"
#include "mainwindow/maglyx.h"
#include "support/fake_desktop.h"

namespace {

TEST(Startup, RunsInOrderShowsTheWindowAndQuitsWithStatusZero) {
  FakeDesktopScope desktop;
  bool shown = false;
  StartupHooks hooks;
  hooks.afterLateStartup = [&] {
    MAGLYX& window = MAGLYX::Instance();
    shown = window.isVisible() && App::Instance().MenuBar() == window.menuBar() &&
            window.menuBar() == &MainMenuBar::Instance() &&
            App::Instance().VersionText() == "1.0.0";
    // A worker asleep for a minute must not hold up the end.
    window.DHThread()->RunHandler = [] { fw::SleepCurrentThread(60'000); };
    window.DHThread()->Run();
    QTimer::singleShot(200, [] { MainMenuBar::Instance().Child("FileQuit")->trigger(); });
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunProgram(hooks), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // hang guard
  EXPECT_TRUE(shown && !MAGLYX::Existing() && desktop->messages.empty());
  EXPECT_EQ(StartupSteps(), (std::vector<std::string>{"SetSupportsHiDPI", "NewAppInstance",
                                                      "FrameworkInitialization", "LateStartup",
                                                      "Run", "Finalizers"}));
}

// A failure in the early steps, or in the late one that leaves no window.
class StartupFailure : public testing::TestWithParam<bool> {};

TEST_P(StartupFailure, IsReportedAndEndsTheRunWithAnErrorStatus) {
  FakeDesktopScope desktop;
  StartupHooks hooks;
  auto fail = [] {
    if (MAGLYX::Existing()) MAGLYX::Destroy();
    throw std::runtime_error("no menu today");
  };
  (GetParam() ? hooks.afterLateStartup : hooks.afterAppInstance) = fail;
  EXPECT_EQ(RunProgram(hooks), 1);  // returns instead of waiting in a windowless loop
  const auto& steps = StartupSteps();
  EXPECT_TRUE(std::count(steps.begin(), steps.end(), "Run") == 0 && steps.back() == "Finalizers");
  ASSERT_EQ(desktop->messages.size(), 1u);
  EXPECT_NE(desktop->messages[0].find("no menu today"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Startup, StartupFailure, testing::Bool(),
                         [](const auto& info) { return info.param ? "Late" : "Early"; });

}  // namespace
