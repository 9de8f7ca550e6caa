// The history download driven through the window against the simulated meter: start, progress,
// save, cancel, the finish, and what happens when the meter, the port or the disk fails.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QLabel>
#include <QProgressBar>
#include <filesystem>
#include <fstream>

#include "support/history_files.h"
#include "support/meter_window.h"

namespace {

namespace fs = std::filesystem;
using Lock = fw::ProgramLockHolder;

class History : public MeterWindow {
 protected:
  void SetUp() override {
    fw::SetSleepSpeedup(4);  // page waits of 150 ms: plenty for an unpaced meter on a pty
    fs::create_directories(dir);
    Connect(StartMeter());
  }
  void TearDown() override {
    MeterWindow::TearDown();
    fs::remove_all(dir);
  }
  fs::path Chosen() {
    desktop->saveAnswers.push_back(fw::FolderItem(dir / "history.csv"));
    return dir / "history.csv";
  }
  bool WaitForMessage(int ms = 20000) {
    return QTest::qWaitFor([&] { return !desktop->messages.empty(); }, ms);
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
  // The whole memory in the file, every page asked for once.
  void ExpectWholeHistory(const fs::path& csv) {
    const int pages = meter_sim::PagesInUse(sim->Memory());
    ASSERT_EQ(desktop->messages.size(), 1u);
    EXPECT_EQ(desktop->messages[0],
              "Finished!\nDownloaded " + std::to_string(4096 * pages / 1000) + " KB.");
    EXPECT_EQ(ReadFile(csv), ExpectedCsv(sim->Memory(), 4096u * pages));
    EXPECT_EQ(Frames("SPIR"), pages);
  }

  const fs::path dir = fs::temp_directory_path() / ("maglyx-history-" + std::to_string(getpid()));
};

// Meters in time and slower than the page wait, paced like the real line or answering at once.
class LateMeter : public History, public testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(LateMeter, TheWholeHistoryIntoTheCsvFile) {
  fw::SetSleepSpeedup(1);  // the real page wait against the meter's latency
  Connect(StartMeter(4, GetParam().second));
  sim->SetLatency(GetParam().first);
  const fs::path csv = Chosen();
  window->DHButton()->click();
  ASSERT_TRUE(WaitForMessage(60000));
  ExpectWholeHistory(csv);
}

INSTANTIATE_TEST_SUITE_P(InTimeAndLate, LateMeter,
                         testing::Values(std::pair{5, true}, std::pair{300, true},
                                         std::pair{700, true}, std::pair{300, false},
                                         std::pair{700, false}));

TEST_F(History, ProgressShowsKilobytesAndTheShareOf1048000) {
  Lock lock;
  const std::tuple<std::int64_t, const char*, int> cases[] = {
      {4096, "Downloading...4 KB", 0},
      {1044480, "Downloading...1044 KB", 99},
      {1048576, "Downloading...1048 KB", 100}};
  for (const auto& [progress, label, percent] : cases) {
    window->download_progress = progress;
    window->Timer100ms_Action(window->Timer100ms());
    EXPECT_EQ(window->DownloadingLabel()->text(), label);
    EXPECT_EQ(window->DownloadProgressBar()->value(), percent);
  }
}

TEST_F(History, CancelOrClosingTheWindowDeletesThePartialFileOrSaysWhyNot) {
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
    EXPECT_TRUE(
        desktop->messages.empty() ||
        desktop->messages[0].rfind("The unfinished history file could not be deleted.\n", 0) == 0);
    EXPECT_TRUE(Idle() && desktop->beeps == 0 && !window->DHThread()->IsRunning());
    QTest::qWait(250);
    EXPECT_EQ(window->DownloadProgressBar()->value(), 0);
    fs::remove_all(csv);
  }
}

TEST_F(History, ADownloadReplacesTheFileAndSaveStopsItAfterTheCurrentPage) {
  Connect(StartMeter(40));
  const fs::path csv = Chosen();
  std::ofstream(csv) << "an older file of the same name";
  window->DHButton()->click();
  EXPECT_EQ(window->DHButton()->text(), "Cancel");
  EXPECT_EQ(window->SaveButton()->text(), "Save");
  EXPECT_TRUE(window->SaveButton()->isVisible() && window->DownloadingLabel()->isVisible());
  // A screenshot is refused meanwhile; the line stays the download's.
  window->DSButton()->click();
  EXPECT_EQ(desktop->messages, std::vector<std::string>{"Downloading history.\nPlease wait."});
  EXPECT_EQ(window->DSButton()->text(), "Download Screenshot");
  ASSERT_TRUE(WaitUntil([&] { return window->download_progress >= 2 * 4096; }, 10000));
  window->SaveButton()->click();
  EXPECT_EQ(window->SaveButton()->text(), "Saving...");
  EXPECT_FALSE(window->DHButton()->isEnabled());
  window->SaveButton()->click();  // twice acts as once
  ASSERT_TRUE(WaitUntil([&] { return desktop->messages.size() == 2; }));
  ASSERT_EQ(desktop->events.size(), 4u);
  EXPECT_EQ(desktop->events[2], "beep");
  const std::size_t pages = PagesSaved(desktop->messages[1], "Finished!\nDownloaded ");
  EXPECT_TRUE(pages >= 2 && pages < 40) << pages;
  EXPECT_EQ(ReadFile(csv), ExpectedCsv(sim->Memory(), pages * 4096));
  EXPECT_TRUE(Idle());
  EXPECT_EQ(window->download_progress, 0);
  EXPECT_EQ(Frames("GETSS") + Frames("GETSSN"), 0);
}

TEST_F(History, ADisconnectEndsTheReadingAndNoRequestReachesAnyPortAfterIt) {
  // Also when the port goes away (an adapter pulled out) and the program notices by itself.
  for (const bool unplug : {false, true}) {
    Connect(StartMeter(40));
    const fs::path csv = Chosen();
    window->DHButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return window->download_progress >= 3 * 4096; }, 10000));
    std::unique_ptr<meter_sim::Simulator> other = StartMeter(40);
    const std::vector<std::uint8_t> memory = sim->Memory();
    std::vector<meter_sim::FrameRecord> meterFrames = sim->Frames();
    if (unplug) sim.reset();  // hangs the line up
    if (!unplug) window->ConnectButton()->click();
    // The port list's probe now opens the line on other ports.
    ports.Set({{"other", other->SlavePath()}, {"meter", sim ? sim->SlavePath() : "/nonexistent"}});
    ASSERT_TRUE(WaitForMessage());
    EXPECT_TRUE(QTest::qWaitFor([&] { return other->Frames().size() > 0; }, 5000));
    if (!unplug) meterFrames = sim->Frames();
    sim = std::move(other);
    EXPECT_EQ(Frames("SPIR"), 0);
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
    Connect(std::move(sim));  // back again: connecting works as before
  }
}

TEST_F(History, WithoutAPlainFileToWriteNothingStarts) {
  // A dismissed dialog only restarts the mirror; a FIFO or a folder is left untouched.
  const fs::path fifo = dir / "fifo", folder = dir / "folder";
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
    EXPECT_TRUE(!target || desktop->messages[0].find(message) != std::string::npos);
    EXPECT_EQ(window->file.has_value(), target.has_value());
    EXPECT_TRUE(Idle() && !window->DHThread()->IsRunning());
  }
  EXPECT_TRUE(fs::is_fifo(fifo) && fs::exists(folder / "inside"));
}

TEST_F(History, AMeterThatNeverAnswersOrAFullDiskLeavesNoFile) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit full = old;
  full.rlim_cur = 2000;  // the disk looks full to this process
  for (const bool silent : {true, false}) {
    desktop->Clear();
    sim->SetSilent(silent);
    ASSERT_EQ(silent ? 0 : setrlimit(RLIMIT_FSIZE, &full), 0);
    const fs::path csv = Chosen();
    window->DHButton()->click();
    const bool reported = WaitForMessage(60000);
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(reported);
    EXPECT_EQ(desktop->messages[0].rfind(silent ? "The meter did not answer.\nNo file was kept."
                                                : "The history could not be saved.\n",
                                         0),
              0u);
    EXPECT_FALSE(fs::exists(csv));
    EXPECT_TRUE(Idle());
  }
  EXPECT_TRUE(window->download_error.empty());
}

TEST_F(History, CancelAfterTheFileIsFinishedKeepsIt) {
  window->Timer100ms()->SetMode(fw::Timer::kModeOff);
  const fs::path csv = Chosen();
  window->DHButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return window->download_finished; }));
  window->DHButton()->click();
  EXPECT_TRUE(fs::exists(csv));
  (Lock(), window->Timer100ms_Action(window->Timer100ms()));
  ExpectWholeHistory(csv);
}

TEST_F(History, StartWaitsForARunningCapture) {
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
