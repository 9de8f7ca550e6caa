// The history download driven through the window: start, progress, save,
// cancel, the finish, and what happens when the meter, the port or the disk
// fails.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "framework/program_lock.h"
#include "framework/thread.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "support/fake_desktop.h"
#include "support/history_files.h"
#include "support/port_list.h"

namespace {

namespace fs = std::filesystem;

std::unique_ptr<meter_sim::Simulator> SmallMeter(int pages) {
  meter_sim::MemoryOptions memory;
  memory.pages = pages;
  meter_sim::SimulatorOptions options;
  options.meter = meter_sim::DefaultMeterConfig(memory);
  options.paced = false;
  options.latency_ms = 1;
  auto sim = std::make_unique<meter_sim::Simulator>(std::move(options));
  sim->Start();
  return sim;
}

int SpirFrames(const meter_sim::Simulator& sim) {
  int n = 0;
  for (const auto& frame : sim.Frames()) n += frame.name == "SPIR";
  return n;
}

class HistoryTest : public testing::Test {
 protected:
  void SetUp() override {
    // Page waits of 150 ms instead of 600: plenty for an unpaced meter on a pty.
    fw::SetSleepSpeedup(4);
    dir =
        fs::temp_directory_path() / ("maglyx-history-" + std::to_string(getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    window = std::make_unique<MAGLYX>();
    ConnectTo(SmallMeter(3));
  }
  void TearDown() override {
    window.reset();
    fw::SetSleepSpeedup(1);
    fs::remove_all(dir);
  }
  void ConnectTo(std::unique_ptr<meter_sim::Simulator> meter) {
    if (window->ConnectButton()->text() == "Disconnect") window->ConnectButton()->click();
    sim = std::move(meter);
    ports.Set({{"meter", sim->SlavePath()}});
    window->RefreshPorts()->click();
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
    desktop->Clear();
  }
  fs::path Chosen(const std::string& name = "history.csv") {
    desktop->saveAnswers.push_back(fw::FolderItem(dir / name));
    return dir / name;
  }
  bool WaitForMessage(int ms = 20000) {
    return QTest::qWaitFor([&] { return !desktop->messages.empty(); }, ms);
  }
  // Reads a window property as the program's own code would: under its lock.
  template <class F>
  bool WaitUntil(F condition, int ms = 20000) {
    return QTest::qWaitFor(
        [&] {
          fw::ProgramLockHolder lock;
          return condition();
        },
        ms);
  }
  bool Idle(bool connected = true) {
    return !window->download_started && !window->download_save && !window->download_finished &&
           window->DHButton()->text() == "Download History" &&
           window->DHButton()->isEnabled() == connected && !window->SaveButton()->isVisible() &&
           !window->DownloadingLabel()->isVisible() &&
           window->GSTimer()->Mode() ==
               (connected ? fw::Timer::kModeMultiple : fw::Timer::kModeOff);
  }
  // The pages that a closing message beginning with `head` reports as saved.
  static std::size_t PagesSaved(const std::string& message, const std::string& head) {
    EXPECT_EQ(message.rfind(head, 0), 0u) << message;
    return message.rfind(head, 0) ? 0
                                  : (std::stoul(message.substr(head.size())) * 1000 + 4095) / 4096;
  }
  std::size_t PagesBytes() { return 4096u * meter_sim::PagesInUse(sim->Memory()); }

  FakeDesktopScope desktop;
  TestPorts ports;
  std::unique_ptr<meter_sim::Simulator> sim;
  std::unique_ptr<MAGLYX> window;
  fs::path dir;
};

TEST_F(HistoryTest, ProgressShowsKilobytesAndTheShareOf1048000) {
  fw::ProgramLockHolder lock;
  const std::pair<std::int64_t, std::pair<const char*, int>> cases[] = {
      {0, {"Downloading...0 KB", 0}},
      {4096, {"Downloading...4 KB", 0}},
      {1044480, {"Downloading...1044 KB", 99}},
      {1048576, {"Downloading...1048 KB", 100}}};
  for (const auto& [progress, shown] : cases) {
    window->download_progress = progress;
    window->Timer100ms_Action(window->Timer100ms());
    EXPECT_EQ(window->DownloadingLabel()->text(), shown.first);
    EXPECT_EQ(window->DownloadProgressBar()->value(), shown.second);
  }
}

TEST_F(HistoryTest, CancelOrClosingTheWindowDeletesThePartialFileOrSaysWhyNot) {
  sim->SetSilent(true);  // keeps the reader on its first page
  enum { kCancel, kUndeletable, kClose };
  for (const int end : {kCancel, kUndeletable, kClose}) {
    desktop->Clear();
    const fs::path csv = Chosen();
    window->DHButton()->click();
    QTest::qWait(100);
    ASSERT_TRUE(fs::exists(csv));
    if (end == kUndeletable) {
      // In place of the file, something that is none of the program's to delete.
      fs::remove(csv);
      fs::create_directories(csv / "inside");
    }
    if (end == kClose) {
      window->close();
      EXPECT_FALSE(fs::exists(csv));
      break;
    }
    window->DHButton()->click();
    EXPECT_EQ(fs::exists(csv / "inside"), end == kUndeletable);
    EXPECT_EQ(fs::exists(csv), end == kUndeletable);
    ASSERT_EQ(desktop->messages.size(), end == kUndeletable ? 1u : 0u);
    const std::string why = desktop->messages.empty() ? "" : desktop->messages[0];
    EXPECT_EQ(why.rfind("The unfinished history file could not be deleted.\n", 0) == 0,
              end == kUndeletable);
    EXPECT_EQ(desktop->beeps, 0);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(window->DHThread()->IsRunning());
    QTest::qWait(250);
    EXPECT_EQ(window->DownloadProgressBar()->value(), 0);
    fs::remove_all(csv);
  }
}

TEST_F(HistoryTest, ADownloadReplacesTheFileAndSaveStopsItAfterTheCurrentPage) {
  ConnectTo(SmallMeter(40));
  const fs::path csv = Chosen();
  std::ofstream(csv) << "an older file of the same name";
  window->DHButton()->click();
  EXPECT_TRUE(window->download_started);
  EXPECT_EQ(window->DHButton()->text(), "Cancel");
  EXPECT_EQ(window->SaveButton()->text(), "Save");
  EXPECT_TRUE(window->SaveButton()->isVisible() && window->DownloadingLabel()->isVisible());
  EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);
  ASSERT_TRUE(WaitUntil([&] { return window->download_progress >= 2 * 4096; }, 10000));
  window->SaveButton()->click();
  EXPECT_EQ(window->SaveButton()->text(), "Saving...");
  EXPECT_FALSE(window->DHButton()->isEnabled());
  window->SaveButton()->click();  // twice acts as once
  ASSERT_TRUE(WaitForMessage());
  ASSERT_EQ(desktop->events.size(), 3u);
  EXPECT_EQ(desktop->events[1], "beep");
  const std::size_t pages = PagesSaved(desktop->messages[0], "Finished!\nDownloaded ");
  EXPECT_TRUE(pages >= 2 && pages < 40) << pages;
  EXPECT_EQ(ReadFile(csv), ExpectedCsv(sim->Memory(), pages * 4096));
  EXPECT_TRUE(Idle());
  EXPECT_EQ(window->download_progress, 0);
}

TEST_F(HistoryTest, AMeterThatNeverAnswersLeavesNoFile) {
  sim->SetSilent(true);
  const fs::path csv = Chosen();
  window->DHButton()->click();
  ASSERT_TRUE(WaitForMessage(60000));
  EXPECT_EQ(desktop->messages[0], "The meter did not answer.\nNo file was kept.");
  EXPECT_FALSE(fs::exists(csv));
  EXPECT_TRUE(Idle());
}

TEST_F(HistoryTest, ADisconnectEndsTheReadingAndNoRequestReachesAnyPortAfterIt) {
  // Also when the port goes away (an adapter pulled out) and the program notices by itself.
  for (const bool unplug : {false, true}) {
    desktop->Clear();
    ConnectTo(SmallMeter(40));
    const fs::path csv = Chosen();
    window->DHButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return window->download_progress >= 3 * 4096; }, 10000));
    std::unique_ptr<meter_sim::Simulator> other = SmallMeter(40);
    const std::vector<std::uint8_t> memory = sim->Memory();
    std::vector<meter_sim::FrameRecord> meterFrames = sim->Frames();
    if (unplug) sim.reset();  // hangs the line up
    if (!unplug) window->ConnectButton()->click();
    // The port list's probe now opens the line on other ports.
    ports.Set({{"other", other->SlavePath()}, {"meter", sim ? sim->SlavePath() : "/nonexistent"}});
    ASSERT_TRUE(WaitForMessage());
    EXPECT_TRUE(QTest::qWaitFor([&] { return other->Frames().size() > 0; }, 5000));
    EXPECT_EQ(SpirFrames(*other), 0);
    if (!unplug) meterFrames = sim->Frames();
    // The meter got its last request before the probe's version request, if any.
    bool probed = false;
    for (const auto& frame : meterFrames) {
      probed = probed || frame.name == "GETVER";
      EXPECT_FALSE(probed && frame.name == "SPIR");
    }
    ASSERT_EQ(desktop->messages.size(), unplug ? 2u : 1u);
    EXPECT_EQ(desktop->messages[0] == "The connection to the serial port was lost.", unplug);
    const std::size_t pages = PagesSaved(desktop->messages.back(),
                                         "The port was disconnected during the download.\nSaved ");
    EXPECT_GE(pages, 2u);
    EXPECT_EQ(ReadFile(csv), ExpectedCsv(memory, pages * 4096));
    EXPECT_TRUE(Idle(false));
    EXPECT_EQ(window->ConnectButton()->text(), "Connect");
    // Back again: connecting works as before.
    ConnectTo(std::move(other));
  }
}

TEST_F(HistoryTest, WithoutAPlainFileToWriteNothingStarts) {
  // A dismissed dialog only restarts the mirror; a FIFO or a folder is left untouched.
  const fs::path fifo = dir / "fifo";
  const fs::path folder = dir / "folder";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directories(folder / "inside");
  const std::pair<std::optional<fs::path>, std::string> cases[] = {
      {std::nullopt, ""},
      {fifo, "is a folder or a device, not a file."},
      {folder, "is a folder or a device, not a file."},
      {dir / "no-such-folder" / "history.csv", "The history file could not be created.\n"}};
  for (const auto& [target, message] : cases) {
    desktop->Clear();
    if (target) desktop->saveAnswers.push_back(fw::FolderItem(*target));
    window->DHButton()->click();
    ASSERT_EQ(desktop->saveRequests.size(), 1u);
    EXPECT_EQ(desktop->saveRequests[0].proposedName.rfind("emfhistory_", 0), 0u);
    ASSERT_EQ(desktop->messages.size(), target ? 1u : 0u);
    if (target) {
      EXPECT_NE(desktop->messages[0].find(message), std::string::npos);
    }
    EXPECT_EQ(window->file.has_value(), target.has_value());
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(window->DHThread()->IsRunning());
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::exists(folder / "inside"));
}

TEST_F(HistoryTest, AFullDiskIsReportedAndTheStateIsReset) {
  // A file-size limit makes the disk look full to this process.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 2000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const fs::path csv = Chosen();
  window->DHButton()->click();
  const bool reported = WaitForMessage();
  setrlimit(RLIMIT_FSIZE, &old);
  ASSERT_TRUE(reported);
  EXPECT_EQ(desktop->messages[0].rfind("The history could not be saved.\n", 0), 0u);
  EXPECT_FALSE(fs::exists(csv));
  EXPECT_TRUE(Idle());
  EXPECT_TRUE(window->download_error.empty());
}

TEST_F(HistoryTest, CancelAfterTheFileIsFinishedKeepsIt) {
  window->Timer100ms()->SetMode(fw::Timer::kModeOff);
  const fs::path csv = Chosen();
  window->DHButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return window->download_finished; }));
  window->DHButton()->click();
  EXPECT_TRUE(fs::exists(csv));
  {
    fw::ProgramLockHolder lock;
    window->Timer100ms_Action(window->Timer100ms());
  }
  ASSERT_EQ(desktop->messages.size(), 1u);
  EXPECT_EQ(desktop->messages[0],
            "Finished!\nDownloaded " + std::to_string(PagesBytes() / 1000) + " KB.");
  EXPECT_EQ(ReadFile(csv), ExpectedCsv(sim->Memory(), PagesBytes()));
}

TEST_F(HistoryTest, StartWaitsForARunningCapture) {
  fw::Thread capture("capture");
  window->GSThreadRunning = true;
  capture.RunHandler = [&] {
    fw::SleepCurrentThread(300);
    window->GSThreadRunning = false;
  };
  capture.Run();
  window->DHButton()->click();  // dismissed dialog
  EXPECT_TRUE(!window->GSThreadRunning && desktop->saveRequests.size() == 1);
  capture.Join();
}

}  // namespace
