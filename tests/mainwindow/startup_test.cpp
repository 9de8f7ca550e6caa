// The whole start-up and shutdown road, in a process of its own per case.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QTimer>
#include <chrono>

#include "app/app.h"
#include "app/main_menu_bar.h"
#include "app/startup.h"
#include "framework/thread.h"
#include "mainwindow/maglyx.h"
#include "support/meter_window.h"

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

// The run cut short while the window is open: the X server under the program goes away, or the
// event loop ends without the window being closed. Either way the process ends by itself, and
// a history download that was running leaves no file behind.
class RunCutShort : public testing::TestWithParam<std::tuple<bool, bool>> {};

// In the child: the program on `display`, connected to a meter and downloading when `download`;
// once the window shows, or the download has asked for a page, the X server goes
// (`loseDisplay`) or the event loop is told to end.
int RunUntilCut(const std::string& display, pid_t xserver, bool loseDisplay, bool download,
                const fs::path& csv) {
  // Only the lost display needs a real one. The loop's own end stays offscreen: under X11, the
  // D-Bus memory that Qt keeps to the end would trip the leak check at its exit.
  if (loseDisplay) setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("DISPLAY", display.c_str(), 1);
  FakeDesktopScope desktop;
  desktop->saveAnswers.push_back(fw::FolderItem(csv));
  TestPorts ports;
  const auto meter = StartMeter(256);
  ports.Set({{"meter", meter->SlavePath()}});
  StartupHooks hooks;
  hooks.afterLateStartup = [&] {
    MAGLYX& window = MAGLYX::Instance();
    if (download) {
      window.RefreshPorts()->click();
      window.ConnectButton()->click();
      window.DHButton()->click();
    }
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, [&window, xserver, loseDisplay, download] {
      if (download && !Locked([&] { return window.download_progress > 0; })) return;
      loseDisplay ? void(kill(xserver, SIGKILL)) : QCoreApplication::exit(0);
    });
    poll->start(100);
    QTimer::singleShot(120'000, [] { std::_Exit(3); });  // the download never got going
  };
  return RunProgram(hooks);
}

TEST_P(RunCutShort, EndsWithoutASignalAndKeepsNoUnfinishedFile) {
  const auto [loseDisplay, download] = GetParam();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const std::string fd = std::to_string(ready[1]);
  const char* args[] = {"Xvfb", "-displayfd", fd.c_str(), nullptr};
  pid_t xserver = 0;
  const int spawned =
      posix_spawnp(&xserver, "Xvfb", nullptr, nullptr, const_cast<char**>(args), environ);
  close(ready[1]);
  if (spawned == ENOENT) GTEST_SKIP() << "no Xvfb here; scripts/deps.sh test installs it";
  ASSERT_EQ(spawned, 0);
  char number[16] = {};
  ASSERT_GT(read(ready[0], number, sizeof number - 1), 0);  // the server is ready
  close(ready[0]);
  const fs::path csv = fs::temp_directory_path() / ("maglyx-cut-" + std::to_string(getpid()));
  // Status 1 says the run failed; 0 is the loop's own end. A signal fails either.
  EXPECT_EXIT(std::exit(RunUntilCut(":" + std::to_string(std::atoi(number)), xserver, loseDisplay,
                                    download, csv)),
              testing::ExitedWithCode(loseDisplay ? 1 : 0), "");
  kill(xserver, SIGKILL);
  waitpid(xserver, nullptr, 0);
  EXPECT_FALSE(fs::remove(csv));  // nothing was there to remove
}

INSTANTIATE_TEST_SUITE_P(Startup, RunCutShort, testing::Combine(testing::Bool(), testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "DisplayLost"
                                                                      : "LoopEnded") +
                                  (std::get<1>(info.param) ? "DuringDownload" : "");
                         });

}  // namespace
