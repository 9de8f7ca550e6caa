// The history download driven through the window against the simulated meter: start, progress,
// save, cancel, the finish, and what happens when the meter, the port or the disk fails.

#include <sys/stat.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "history/history_csv.h"
#include "support/meter_window.h"
#include "support/window_seam.h"

class History : public MeterWindow {
 protected:
  void SetUp() override {
    fw::SetSleepSpeedup(4);  // page waits of 150 ms: plenty for an unpaced meter on a pty
    Connect(StartMeter(40));
  }
  // Chooses `csv` in the save dialog and starts.
  void Start() {
    desktop->saveAnswers.push_back(fw::FolderItem(csv));
    window->DHButton()->click();
  }
  bool Idle(bool connected = true) {
    return !window->download_started && !window->download_save && !window->download_finished &&
           window->DHButton()->text() == "Download History" &&
           window->DHButton()->isEnabled() == connected && !window->SaveButton()->isVisible() &&
           !window->DownloadingLabel()->isVisible() && !window->DHThread()->IsRunning() &&
           window->GSTimer()->Mode() ==
               (connected ? fw::Timer::kModeMultiple : fw::Timer::kModeOff);
  }
  // The file holds the first pages of `memory` that the closing message, beginning with `head`,
  // reports as saved; returns how many.
  std::size_t ExpectPagesSaved(const std::string& head, std::vector<std::uint8_t> memory) {
    const std::string& message = desktop->messages.back();
    EXPECT_EQ(message.rfind(head, 0), 0u) << message;
    const std::size_t pages =
        message.rfind(head, 0) ? 0 : (std::stoul(message.substr(head.size())) * 1000 + 4095) / 4096;
    // What the decoder makes of those pages alone.
    std::fill(memory.begin() + pages * 4096, memory.end(), 0);
    std::string want;
    WriteHistoryCsv(memory, pages * 4096, [&](std::string_view t) { want += t; }, {});
    EXPECT_EQ(ReadFile(csv), want);
    return pages;
  }
  const fs::path csv = dir / "history.csv";
};

TEST_F(History, CancelOrClosingTheWindowDeletesThePartialFileOrSaysWhyNot) {
  sim->SetSilent(true);  // keeps the reader on its first page
  enum { kCancel, kUndeletable, kClose };
  for (const int end : {kCancel, kUndeletable, kClose}) {
    desktop->Clear();
    Start();
    QTest::qWait(100);
    ASSERT_TRUE(fs::exists(csv));
    if (end == kClose) break;  // closed below, amid the download
    // In place of the file, something that is none of the program's to delete.
    if (end == kUndeletable && fs::remove(csv)) fs::create_directories(csv / "inside");
    window->DHButton()->click();
    const bool kept = end == kUndeletable;
    EXPECT_EQ(
        std::tuple(fs::exists(csv / "inside"), fs::exists(csv), desktop->events.size(), Idle()),
        std::tuple(kept, kept, kept ? 2u : 1u, true));
    EXPECT_TRUE(!kept || desktop->events.back().rfind(
                             "msg:The unfinished history file could not be deleted.\n", 0) == 0);
    fs::remove_all(csv);
  }
  window->close();
  EXPECT_FALSE(fs::exists(csv));
}

TEST_F(History, ADownloadReplacesTheFileAndSaveStopsItAfterTheCurrentPage) {
  std::ofstream(csv) << "an older file of the same name";
  Start();
  EXPECT_EQ(std::tuple(window->DHButton()->text(), window->SaveButton()->text(),
                       window->SaveButton()->isVisible(), window->DownloadingLabel()->isVisible()),
            std::tuple("Cancel", "Save", true, true));
  // A screenshot is refused meanwhile; the line stays the download's.
  window->DSButton()->click();
  EXPECT_EQ(desktop->messages, std::vector<std::string>{"Downloading history.\nPlease wait."});
  EXPECT_EQ(window->DSButton()->text(), "Download Screenshot");
  ASSERT_TRUE(WaitUntil([&] { return window->download_progress >= 2 * 4096; }, 10000));
  window->SaveButton()->click();
  window->SaveButton()->click();  // twice acts as once
  ASSERT_TRUE(WaitUntil([&] { return desktop->messages.size() == 2; }));
  EXPECT_EQ(std::tuple(desktop->events.size(), desktop->events.at(2)), std::tuple(4u, "beep"));
  const std::size_t pages = ExpectPagesSaved("Finished!\nDownloaded ", sim->Memory());
  EXPECT_TRUE(pages >= 2 && pages < 40 && Idle() && window->download_progress == 0) << pages;
}

TEST_F(History, ADisconnectEndsTheReadingAndNoRequestReachesAnyPortAfterIt) {
  // Also when the port goes away (an adapter pulled out) and the program notices by itself.
  for (const bool unplug : {false, true}) {
    Connect(StartMeter(40));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return window->download_progress >= 3 * 4096; }, 10000));
    std::unique_ptr<meter_sim::Simulator> other = StartMeter(40);
    const std::vector<std::uint8_t> memory = sim->Memory();
    if (unplug)
      sim->Stop();  // hangs the line up
    else
      window->ConnectButton()->click();
    // The port list's probe now opens the line on both ports.
    ports.Set(
        {{"other", other->SlavePath()}, {"meter", unplug ? "/nonexistent" : sim->SlavePath()}});
    ASSERT_TRUE(WaitUntil([&] { return !desktop->messages.empty(); }, 60000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !other->Frames().empty(); }, 5000));
    // The meter got its last request before the probe's version request, if any.
    std::string names;
    for (const auto& f : sim->Frames()) names += f.name + " ";
    EXPECT_EQ(names.find("SPIR", names.find("GETVER")), std::string::npos) << names;
    sim = std::move(other);
    EXPECT_EQ(std::tuple(Frames("SPIR"), desktop->messages.size(),
                         desktop->messages[0] == "The connection to the serial port was lost."),
              std::tuple(0, unplug ? 2u : 1u, unplug));
    EXPECT_GE(ExpectPagesSaved("The port was disconnected during the download.\nSaved ", memory),
              2u);
    EXPECT_TRUE(Idle(false) && window->ConnectButton()->text() == "Connect");
    Connect(std::move(sim));  // back again: connecting works as before
  }
}

// A dismissed dialog only restarts the mirror; what is not a regular file is named and left
// untouched; a meter that never answers, or a disk that fills up only at the flush on Close, keeps
// no file.
TEST_F(History, WithoutAPlainFileOrAnAnswerNoFileIsKept) {
  const fs::path fifo = dir / "fifo", folder = dir / "folder", socket = dir / "socket",
                 dangling = dir / "dangling";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directories(folder / "inside");
  fs::create_symlink(dir / "gone", dangling);
  ASSERT_EQ(mknod(socket.c_str(), S_IFSOCK | 0600, 0), 0);
  // One byte short of the whole file: every Write goes through, the last piece is still in the
  // stream's buffer and only the flush on Close meets the full disk.
  std::string whole;
  WriteHistoryCsv(sim->Memory(), sim->Memory().size(), [&](std::string_view t) { whole += t; }, {});
  enum { kPlain, kSilent, kFull };
  const std::tuple<std::optional<fs::path>, int, std::string> cases[] = {
      {std::nullopt, kPlain, ""},
      {fifo, kPlain, "fifo\" is a FIFO, not a regular file.\n"},
      {folder, kPlain, "folder\" is a folder, not a regular file."},
      {socket, kPlain, "socket\" is a socket, not a regular file."},
      {dangling, kPlain, "dangling\" is a link that leads nowhere, not a regular file."},
      {"/dev/null", kPlain, "\"/dev/null\" is a device, not a regular file."},
      {dir / "no-such-folder" / "history.csv", kPlain, "The history file could not be created.\n"},
      {csv, kSilent, "The meter did not answer.\nNo file was kept."},
      {csv, kFull, "The history could not be saved.\n"}};
  for (const auto& [target, meter, message] : cases) {
    desktop->Clear();
    sim->SetSilent(meter == kSilent);
    if (target) desktop->saveAnswers.push_back(fw::FolderItem(*target));
    {
      DiskFullBeyond full(meter == kFull ? whole.size() - 1 : RLIM_INFINITY);
      window->DHButton()->click();
      ASSERT_TRUE(meter == kPlain || WaitUntil([&] { return !desktop->messages.empty(); }, 60000));
    }
    EXPECT_EQ(desktop->events.at(0).rfind("save:emfhistory_", 0), 0u);
    ASSERT_EQ(desktop->messages.size(), target ? 1u : 0u);
    EXPECT_TRUE(!target || desktop->messages[0].find(message) != std::string::npos);
    EXPECT_EQ(std::tuple(window->file.has_value(), fs::exists(csv),
                         Idle() && WindowSeam::DownloadError(*window).empty()),
              std::tuple(target.has_value(), false, true));
  }
  EXPECT_TRUE(fs::is_fifo(fifo) && fs::exists(folder / "inside") && fs::is_socket(socket) &&
              fs::is_symlink(dangling));
}

// Meters slower than the page wait (ms late, and paced like the real line or answering at once),
// in real time, each in a process of its own: each gives the whole history, every page asked for
// once. The download waits for a running capture before its dialog, and a Cancel after the file
// is finished keeps it.
class LateMeter : public History, public testing::WithParamInterface<std::pair<int, bool>> {};
INSTANTIATE_TEST_SUITE_P(PacedAndAtOnce, LateMeter,
                         testing::Values(std::pair{700, true}, std::pair{300, true},
                                         std::pair{700, false}, std::pair{300, false}));

TEST_P(LateMeter, AfterACaptureGivesTheWholeHistoryThatCancelKeepsAndTheProgressShows) {
  fw::SetSleepSpeedup(1);  // the real page wait against the meter's latency
  Connect(StartMeter(4, GetParam().second));
  sim->SetLatency(GetParam().first);
  fw::Thread capture("capture");
  window->GSThreadRunning = true;
  capture.RunHandler = [&] {
    fw::SleepCurrentThread(300);
    window->GSThreadRunning = false;
  };
  capture.Run();
  window->Timer100ms()->SetMode(fw::Timer::kModeOff);
  Start();
  EXPECT_TRUE(!window->GSThreadRunning && desktop->events.size() == 1);  // then the dialog
  capture.Join();
  ASSERT_TRUE(WaitUntil([&] { return window->download_finished; }, 60000));
  window->DHButton()->click();
  fw::ProgramLockHolder lock;
  window->Timer100ms_Action(window->Timer100ms());  // reports the finished file
  ASSERT_EQ(desktop->messages.size(), 1u);
  const std::size_t pages = ExpectPagesSaved("Finished!\nDownloaded ", sim->Memory());
  EXPECT_EQ(pages, meter_sim::PagesInUse(sim->Memory()));
  EXPECT_EQ(Frames("SPIR"), static_cast<int>(pages));
  // The progress the tick shows: kilobytes, and the share of 1048000 bytes.
  for (const auto& [progress, label, percent] :
       {std::tuple{4096, "4", 0}, {1044480, "1044", 99}, {1048000, "1048", 100}}) {
    window->download_progress = progress;
    window->Timer100ms_Action(window->Timer100ms());
    EXPECT_EQ(std::pair(window->DownloadingLabel()->text(), window->DownloadProgressBar()->value()),
              std::pair(QString("Downloading...%1 KB").arg(label), percent));
  }
}

// Pages that come in two halves 400 ms apart are whole pages; pages with junk in front, whose
// whole length is in at the end of the window, are never taken: no file is better than a
// wrong one.
TEST_F(History, PagesInPiecesAreWholeAndJunkAtTheWindowsEdgeIsNeverTaken) {
  fw::SetSleepSpeedup(1);  // the real windows against the meter's pauses
  Connect(StartMeter(3, true));
  meter_sim::Misbehaviour halves, junk;
  halves.only_command = junk.only_command = "SPIR";
  halves.split_bytes = 2048;
  halves.split_pause_ms = 400;
  halves.extra_delay_ms = 100;
  junk.junk_bytes = 6;
  junk.extra_delay_ms = 241;
  for (const auto& m : {halves, junk}) {
    desktop->Clear();
    sim->SetMisbehaviour(m);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return desktop->messages.size() == 1; }, 60000));
    if (m.junk_bytes == 0) {
      EXPECT_EQ(ExpectPagesSaved("Finished!\nDownloaded ", sim->Memory()), 3u);
    } else {
      EXPECT_EQ(desktop->messages[0],
                "The meter answered, but its replies could not be used.\nNo file was kept.");
      EXPECT_FALSE(fs::exists(csv));
    }
  }
}

// The reply to a cancelled page that comes after the cancel is no message for the console.
TEST_F(History, ALateReplyToACancelledPageNeverReachesTheConsole) {
  fw::SetSleepSpeedup(1);
  sim->SetLatency(1500);
  sim->ClearLogs();
  Start();
  ASSERT_TRUE(sim->WaitForFrames(1, std::chrono::seconds(5)));
  window->DHButton()->click();  // Cancel, while the page is still to come
  ASSERT_TRUE(sim->WaitForReplies(1, std::chrono::seconds(5)));
  QTest::qWait(500);
  EXPECT_EQ(std::tuple(window->SerialSize()->text(), Idle()), std::tuple("19", true));
}
