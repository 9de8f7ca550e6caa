// Timers, reports of unhandled exceptions, modal calls and files on the
// offscreen Qt application of the shared test main.

#include <gmock/gmock.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "framework/coop_internal.h"
#include "framework/dispatch.h"
#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "framework/timer.h"
#include "support/disk_full.h"
#include "support/fake_desktop.h"

namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;

// Hang guard for another thread to queue up for the program lock, without
// running the event loop.
bool WaitForAWaiter() {
  for (int ms = 0; ms < 30000 && fw::coop::ProgramLockWaiterCount() == 0; ++ms)
    std::this_thread::sleep_for(1ms);
  return fw::coop::ProgramLockWaiterCount() > 0;
}

TEST(TimerTest, RunsUnderTheLockGoesOnAfterAThrowAndStopsAtOnceWhenOffFromAWorker) {
  FakeDesktopScope desktop;
  fw::Timer timer;
  int ticks = 0, ticksAtOff = -1;  // guarded by the program lock
  bool alwaysHeld = true, tickWasWaiting = false;
  timer.Action = [&] {
    alwaysHeld = alwaysHeld && fw::ProgramLock::HeldByCurrentThread();
    if (++ticks == 1) throw fw::OutOfBoundsException("index 7 of 4");
  };
  timer.SetPeriod(2);
  timer.SetMode(fw::Timer::kModeMultiple);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 30000));
  fw::Thread worker;
  worker.RunHandler = [&] {
    // That tick came before the mode changed and still must not run.
    tickWasWaiting = WaitForAWaiter();
    timer.SetMode(fw::Timer::kModeOff);
    ticksAtOff = ticks;
  };
  worker.Run();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !worker.IsRunning(); }, 60000));
  worker.Join();
  QTest::qWait(60);
  EXPECT_EQ(std::tuple(tickWasWaiting, ticks - ticksAtOff, alwaysHeld), std::tuple(true, 0, true));
  EXPECT_THAT(desktop->messages, testing::ElementsAre(HasSubstr("OutOfBoundsException")));
}

TEST(DispatchTest, ExceptionsEscapingHandlersAndWorkersAreShownAndTheProgramGoesOn) {
  FakeDesktopScope desktop;
  int shownOnUiWithoutLock = 0;
  desktop->whileMessageShows = [&](const std::string&) {
    shownOnUiWithoutLock += fw::IsUserInterfaceThread() && !fw::ProgramLock::HeldByCurrentThread();
  };
  // From a handler: shown before Dispatch returns, so also before the loop runs.
  fw::Dispatch([] { throw fw::IOException(ENOSPC, "history file is full"); });
  ASSERT_EQ(desktop->messages.size(), 1u);
  // From a worker: posted to the user-interface thread.
  fw::Thread worker;
  worker.RunHandler = [] {
    fw::ProgramLockHolder nested;  // unwinding must undo program code's own holds too
    throw std::runtime_error("capture failed");
  };
  worker.Run();
  worker.Join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return desktop->messages.size() >= 2; }, 30000));
  bool ranAfter = false;  // the lock is free again
  fw::Dispatch([&] { ranAfter = true; });
  EXPECT_THAT(desktop->messages,
              testing::ElementsAre(
                  testing::AllOf(HasSubstr("IOException"), HasSubstr("history file is full"),
                                 HasSubstr(std::to_string(ENOSPC))),
                  HasSubstr("capture failed")));
  EXPECT_EQ(std::pair(shownOnUiWithoutLock, ranAfter), std::pair(2, true));
}

TEST(DesktopTest, MessageBoxesAreTitledLikeTheWindow) {
  fw::SetDesktopServices(fw::MakeQtDesktopServices());
  QString title;
  QTimer::singleShot(0, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      title = box->windowTitle();
      box->close();
    }
  });
  fw::MsgBox("Meter not found");
  EXPECT_EQ(title, "MAGLYX");
}

TEST(DesktopTest, ModalCallsGiveTheLockAwayWhileOpenAndTakeItBackAtFullDepth) {
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"MsgBox", [] { fw::MsgBox("Meter not found"); }},
      {"Beep", [] { fw::Beep(); }},
      {"GetSaveFolderItem", [] { fw::GetSaveFolderItem("CSV", "history.csv"); }}};
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    FakeDesktopScope desktop;
    bool workerRan = false, ranDuringCall = false;  // guarded by the program lock
    int depthAfter = 0;
    fw::Thread worker;
    worker.RunHandler = [&] { workerRan = true; };
    fw::Dispatch([&] {
      fw::ProgramLockHolder nested;
      worker.Run();
      if (!WaitForAWaiter()) return;
      // The worker asked first, so it runs before the lock comes back.
      call();
      ranDuringCall = workerRan;
      depthAfter = fw::ProgramLock::ReleaseAll();
      fw::ProgramLock::Reacquire(depthAfter);
    });
    worker.Join();
    EXPECT_EQ(std::tuple(ranDuringCall, depthAfter, desktop->events.size()),
              std::tuple(true, 2, 1u));
  }
}

TEST(FilesTest, FailuresRaiseIOExceptionWithTheErrorNumberAndSpecialFilesAreLeftAlone) {
  namespace fs = std::filesystem;
  QTemporaryDir dir;
  const auto item = [&](const char* name) {
    return fw::FolderItem(dir.filePath(name).toStdString());
  };
  const auto existing = item("face.bin"), inMissingFolder = item("no-such-folder/history.csv"),
             folder = item("a-folder"), device = fw::FolderItem("/dev/full"),
             planted = item("history.csv");
  std::ofstream(existing.Path()) << "kept";
  fs::create_directory(folder.Path());
  fs::create_symlink(existing.Path(), planted.Path());
  const std::tuple<const char*, std::function<void()>, int> cases[] = {
      {"no overwrite of an existing file", [&] { fw::BinaryStream::Create(existing, false); }, 104},
      {"create in a missing folder", [&] { fw::TextOutputStream::Create(inMissingFolder); },
       ENOENT},
      // Every Write fits the stream's buffer: the full disk shows only when Close flushes.
      {"a full disk, at the latest on Close",
       [&] {
         auto stream = fw::TextOutputStream::Create(item("big.csv"));
         DiskFullBeyond full(10);
         stream->Write("0123456789ABCDEF");
         stream->Close();
       },
       EFBIG},
      // Saving never truncates, opens or unlinks what is not a regular file, nor writes through a
      // link put in the place of a file just deleted.
      {"create on a device", [&] { fw::TextOutputStream::Create(device); }, EPERM},
      {"delete a folder", [&] { folder.Delete(); }, EPERM},
      {"create where a link was put", [&] { fw::TextOutputStream::Create(planted); }, 104},
  };
  for (const auto& [what, code, error] : cases) {
    int raised = -1;  // none
    try {
      code();
    } catch (const fw::IOException& e) {
      raised = e.ErrorNumber();
    }
    EXPECT_EQ(raised, error) << what;
  }
  EXPECT_EQ(std::tuple(fs::file_size(existing.Path()), fs::is_directory(folder.Path()),
                       fs::is_symlink(planted.Path())),
            std::tuple(std::uintmax_t{4}, true, true));
}

}  // namespace
