// The history download driven through the window: start, progress, save,
// cancel, the finish, and what happens when the meter or the disk fails.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/program_lock.h"
#include "framework/thread.h"
#include "history/history_csv.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

meter_sim::SimulatorOptions SmallMeter(int pages) {
  meter_sim::MemoryOptions memory;
  memory.pages = pages;
  meter_sim::SimulatorOptions options;
  options.meter = meter_sim::DefaultMeterConfig(memory);
  options.paced = false;
  options.latency_ms = 1;
  return options;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ExpectedCsv(const std::vector<uint8_t>& memory, std::size_t readLength) {
  std::vector<uint8_t> image(memory.begin(), memory.begin() + readLength);
  image.resize(1048576, 0);
  std::string csv;
  WriteHistoryCsv(image, readLength, [&](std::string_view t) { csv += t; }, {});
  return csv;
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
    sim.Start();
    ports.Set({{"meter", sim.SlavePath()}});
    window = std::make_unique<MAGLYX>();
    window->RefreshPorts()->click();
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
    desktop->Clear();
  }
  void TearDown() override {
    window.reset();
    fw::SetSleepSpeedup(1);
    fs::remove_all(dir);
  }
  fs::path Chosen(const std::string& name = "history.csv") {
    desktop->saveAnswers.push_back(fw::FolderItem(dir / name));
    return dir / name;
  }
  bool WaitForMessage(int ms = 20000) {
    return QTest::qWaitFor([&] { return !desktop->messages.empty(); }, ms);
  }
  bool Idle() {
    return !window->download_started && !window->download_save && !window->download_finished &&
           window->DHButton()->text() == "Download History" && window->DHButton()->isEnabled() &&
           !window->SaveButton()->isVisible() && !window->DownloadingLabel()->isVisible() &&
           window->GSTimer()->Mode() == fw::Timer::kModeMultiple;
  }
  std::size_t PagesBytes() { return 4096u * meter_sim::PagesInUse(sim.Memory()); }

  FakeDesktopScope desktop;
  TestPorts ports;
  meter_sim::Simulator sim{SmallMeter(3)};
  std::unique_ptr<MAGLYX> window;
  fs::path dir;
};

TEST_F(HistoryTest, ADismissedDialogOnlyRestartsTheMirror) {
  window->DHButton()->click();
  ASSERT_EQ(desktop->saveRequests.size(), 1u);
  EXPECT_EQ(desktop->saveRequests[0].proposedName.rfind("emfhistory_", 0), 0u);
  EXPECT_FALSE(window->file.has_value());
  EXPECT_TRUE(Idle());
  EXPECT_FALSE(window->DHThread()->IsRunning());
}

TEST_F(HistoryTest, ADownloadWritesTheWholeHistoryAndReportsIt) {
  const fs::path csv = Chosen();
  std::ofstream(csv) << "an older file of the same name";
  window->DHButton()->click();
  EXPECT_TRUE(window->download_started);
  EXPECT_EQ(window->DHButton()->text(), "Cancel");
  EXPECT_EQ(window->SaveButton()->text(), "Save");
  EXPECT_TRUE(window->SaveButton()->isVisible());
  EXPECT_TRUE(window->DownloadingLabel()->isVisible());
  EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);

  ASSERT_TRUE(WaitForMessage());
  const std::size_t bytes = PagesBytes();
  EXPECT_EQ(desktop->events,
            (std::vector<std::string>{
                "save:" + desktop->saveRequests[0].proposedName, "beep",
                "msg:Finished!\nDownloaded " + std::to_string(bytes / 1000) + " KB."}));
  EXPECT_EQ(ReadFile(csv), ExpectedCsv(sim.Memory(), bytes));
  EXPECT_TRUE(Idle());
  EXPECT_EQ(window->download_progress, 0);
}

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

TEST_F(HistoryTest, CancelDeletesThePartialFileAndSaysNothing) {
  sim.SetSilent(true);  // keeps the reader on its first page
  const fs::path csv = Chosen();
  window->DHButton()->click();
  QTest::qWait(100);
  ASSERT_TRUE(fs::exists(csv));
  window->DHButton()->click();
  EXPECT_FALSE(fs::exists(csv));
  EXPECT_TRUE(desktop->messages.empty());
  EXPECT_EQ(desktop->beeps, 0);
  EXPECT_TRUE(Idle());
  EXPECT_FALSE(window->DHThread()->IsRunning());
  QTest::qWait(250);
  EXPECT_EQ(window->DownloadProgressBar()->value(), 0);
  EXPECT_TRUE(desktop->messages.empty());
}

TEST_F(HistoryTest, SaveStopsAfterTheCurrentPageAndKeepsWhatWasRead) {
  sim.Stop();
  meter_sim::Simulator big(SmallMeter(40));
  big.Start();
  ports.Set({{"meter", big.SlavePath()}});
  window->ConnectButton()->click();
  window->ConnectButton()->click();
  const fs::path csv = Chosen();
  window->DHButton()->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->download_progress >= 2 * 4096; }, 10000));
  window->SaveButton()->click();
  EXPECT_EQ(window->SaveButton()->text(), "Saving...");
  EXPECT_FALSE(window->DHButton()->isEnabled());
  window->SaveButton()->click();  // twice acts as once
  ASSERT_TRUE(WaitForMessage());
  const std::string csvText = ReadFile(csv);
  ASSERT_EQ(desktop->messages.size(), 1u);
  const std::string& message = desktop->messages[0];
  ASSERT_EQ(message.rfind("Finished!\nDownloaded ", 0), 0u);
  const std::size_t kb = std::stoul(message.substr(std::string("Finished!\nDownloaded ").size()));
  const std::size_t pages = (kb * 1000 + 4095) / 4096;
  EXPECT_LT(pages, 40u);
  EXPECT_EQ(csvText, ExpectedCsv(big.Memory(), pages * 4096));
  EXPECT_TRUE(Idle());
}

TEST_F(HistoryTest, AMeterThatStopsAnsweringEndsWithWhatWasReadAndSaysSo) {
  // Silent from the start; then unplugged (disconnected) under the download.
  for (const bool disconnect : {false, true}) {
    desktop->Clear();
    sim.SetSilent(true);
    const fs::path csv = Chosen();
    window->DHButton()->click();
    if (disconnect) window->ConnectButton()->click();
    ASSERT_TRUE(WaitForMessage(60000));
    EXPECT_EQ(desktop->messages[0],
              "The meter stopped answering.\nSaved 0 KB that were read before.");
    // Nothing was read, but the file is a proper CSV: the header alone.
    EXPECT_EQ(ReadFile(csv), ExpectedCsv(sim.Memory(), 0));
    EXPECT_FALSE(window->download_started);
    EXPECT_FALSE(window->SaveButton()->isVisible());
  }
}

TEST_F(HistoryTest, AFileThatCannotBeCreatedIsReportedAndNothingStarts) {
  desktop->saveAnswers.push_back(fw::FolderItem(dir / "no-such-folder" / "history.csv"));
  window->DHButton()->click();
  ASSERT_EQ(desktop->messages.size(), 1u);
  EXPECT_EQ(desktop->messages[0].rfind("The history file could not be created.\n", 0), 0u);
  EXPECT_NE(desktop->messages[0].find("no-such-folder"), std::string::npos);
  EXPECT_TRUE(Idle());
  EXPECT_FALSE(window->DHThread()->IsRunning());
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
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->download_finished; }, 20000));
  window->DHButton()->click();
  EXPECT_TRUE(fs::exists(csv));
  {
    fw::ProgramLockHolder lock;
    window->Timer100ms_Action(window->Timer100ms());
  }
  ASSERT_EQ(desktop->messages.size(), 1u);
  EXPECT_EQ(desktop->messages[0],
            "Finished!\nDownloaded " + std::to_string(PagesBytes() / 1000) + " KB.");
  EXPECT_EQ(ReadFile(csv), ExpectedCsv(sim.Memory(), PagesBytes()));
}

TEST_F(HistoryTest, StartWaitsForARunningCapture) {
  fw::Thread capture("capture");
  bool dialogAfterCapture = false;
  window->GSThreadRunning = true;
  capture.RunHandler = [&] {
    fw::SleepCurrentThread(300);
    window->GSThreadRunning = false;
  };
  capture.Run();
  desktop->saveAnswers.clear();
  window->DHButton()->click();  // dismissed dialog
  dialogAfterCapture = !window->GSThreadRunning && desktop->saveRequests.size() == 1;
  EXPECT_TRUE(dialogAfterCapture);
  capture.Join();
}

}  // namespace
