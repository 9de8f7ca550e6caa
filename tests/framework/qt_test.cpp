// Timers, reports of unhandled exceptions, modal calls and files on an
// offscreen Qt application.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "framework/coop_internal.h"
#include "framework/dispatch.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "framework/timer.h"
#include "support/fake_desktop.h"

namespace {

using namespace std::chrono_literals;

// Hang guard for another thread to queue up for the program lock, without
// running the event loop.
bool WaitForAWaiter() {
  for (int ms = 0; ms < 30000 && fw::coop::ProgramLockWaiterCount() == 0; ++ms)
    std::this_thread::sleep_for(1ms);
  return fw::coop::ProgramLockWaiterCount() > 0;
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

class FilesTest : public testing::Test {
 protected:
  fw::FolderItem Item(const std::string& name) const {
    return fw::FolderItem(std::filesystem::path(dir_.path().toStdString()) / name);
  }
  static std::string Contents(const fw::FolderItem& item) {
    std::ifstream in(item.Path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  QTemporaryDir dir_;
};

TEST_F(FilesTest, FailuresRaiseIOExceptionWithTheErrorNumber) {
  const auto existing = Item("face.bin"), inMissingFolder = Item("no-such-folder/history.csv");
  std::ofstream(existing.Path()) << "kept";
  const fw::FolderItem device(std::filesystem::path("/dev/full"));
  const auto folder = Item("a-folder"), fifo = Item("a-fifo");
  std::filesystem::create_directory(folder.Path());
  ASSERT_EQ(::mkfifo(fifo.Path().c_str(), 0600), 0);
  const std::tuple<const char*, std::function<void()>, int> cases[] = {
      {"create without overwrite on an existing file",
       [&] { fw::BinaryStream::Create(existing, false); }, 104},
      {"create in a missing folder", [&] { fw::TextOutputStream::Create(inMissingFolder); },
       ENOENT},
      {"delete a missing file", [&] { inMissingFolder.Delete(); }, ENOENT},
      {"a full disk, at the latest on Close",
       [&] {
         auto stream = fw::TextOutputStream::Create(Item("big.csv"));
         stream->Write(std::string(8192, 'x'));
         stream->Close();
       },
       EFBIG},
      // Saving never truncates, opens or unlinks what is not a regular file.
      {"create on a device", [&] { fw::TextOutputStream::Create(device); }, EPERM},
      {"create on a FIFO (would block)", [&] { fw::BinaryStream::Create(fifo, true); }, EPERM},
      {"delete a device", [&] { device.Delete(); }, EPERM},
      {"delete a folder", [&] { folder.Delete(); }, EPERM},
  };
  // The disk is "full" past 4 KB for this process while the cases run.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  for (const auto& [what, code, error] : cases) {
    int raised = -1;  // none
    try {
      code();
    } catch (const fw::IOException& e) {
      raised = e.ErrorNumber();
    }
    EXPECT_EQ(raised, error) << what;
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(Contents(existing), "kept") << "a refused create must leave the file alone";
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path()));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo.Path()));
  EXPECT_TRUE(Item("new.csv").IsRegularOrAbsent());
  EXPECT_TRUE(existing.IsRegularOrAbsent());
  fw::TextOutputStream::Create(existing)->Close();  // a plain file is replaced, not appended to
  EXPECT_EQ(Contents(existing), "");
  existing.Delete();
  EXPECT_FALSE(existing.Exists());
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
