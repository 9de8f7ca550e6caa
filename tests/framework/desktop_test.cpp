// Desktop services: the program lock is given away while a modal box or
// dialog is open, and the Qt services show what they are asked to.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "framework/desktop.h"
#include "framework/dispatch.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "recording_desktop.h"

namespace {

using namespace std::chrono_literals;

struct DesktopCall {
  const char* name;
  std::function<void()> call;
};

void PrintTo(const DesktopCall& call, std::ostream* out) { *out << call.name; }

class GiveawayTest : public ::testing::TestWithParam<DesktopCall> {};

TEST_P(GiveawayTest, LockIsGivenAwayWhileOpenAndComesBackAtFullDepth) {
  RecordingDesktopScope desktop;
  std::atomic<bool> workerRan{false};
  bool workerRanWhileOpen = false;
  desktop->whileOpen = [&] {
    // A worker waiting for the lock can only run if the lock was given away.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!workerRan && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    workerRanWhileOpen = workerRan;
  };
  fw::Thread worker("worker");
  worker.RunHandler = [&] { workerRan = true; };

  int depthAfter = 0;
  fw::Dispatch([&] {
    fw::ProgramLockHolder nested;
    worker.Run();
    GetParam().call();
    depthAfter = fw::ProgramLock::ReleaseAll();
    fw::ProgramLock::Reacquire(depthAfter);
  });
  worker.Join();

  EXPECT_TRUE(workerRanWhileOpen);
  EXPECT_EQ(depthAfter, 2);
  const auto shown = desktop->Seen();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_FALSE(shown[0].lockHeld);
}

INSTANTIATE_TEST_SUITE_P(
    EveryModalCall, GiveawayTest,
    ::testing::Values(DesktopCall{"MsgBox", [] { fw::MsgBox("Meter not found"); }},
                      DesktopCall{"Beep", [] { fw::Beep(); }},
                      DesktopCall{"GetSaveFolderItem",
                                  [] { fw::GetSaveFolderItem("CSV", "history.csv"); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Installs the Qt services for one test.
class QtDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = fw::SetDesktopServices(fw::MakeQtDesktopServices()); }
  void TearDown() override { fw::SetDesktopServices(std::move(previous_)); }

  // Answers the next modal widget of type T with `answer`, from inside its
  // event loop.
  template <typename T>
  void AnswerNextModal(std::function<void(T*)> answer) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
      if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
        poll->stop();
        poll->deleteLater();
        answer(widget);
      }
    });
    poll->start();
  }

 private:
  std::unique_ptr<fw::DesktopServices> previous_;
};

TEST_F(QtDesktopTest, MessageBoxShowsTheTextWithTheLockGivenAway) {
  QString shownText;
  bool lockHeldWhileOpen = true;
  AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
    shownText = box->text();
    lockHeldWhileOpen = fw::ProgramLock::HeldByCurrentThread();
    box->accept();
  });
  fw::Dispatch([] { fw::MsgBox("Battery low"); });
  EXPECT_EQ(shownText, "Battery low");
  EXPECT_FALSE(lockHeldWhileOpen);
}

// Points the home folder at a scratch folder for one test.
class ScratchHome {
 public:
  ScratchHome()
      : home_(qgetenv("HOME")),
        config_(qgetenv("XDG_CONFIG_HOME")),
        hadConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("HOME", dir_.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
  }
  ~ScratchHome() {
    qputenv("HOME", home_);
    if (hadConfig_) qputenv("XDG_CONFIG_HOME", config_);
  }
  QString Path() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
  QByteArray home_;
  QByteArray config_;
  bool hadConfig_;
};

TEST_F(QtDesktopTest, SaveDialogProposesTheNameInDocumentsElseHome) {
  ScratchHome home;
  ASSERT_TRUE(QDir(home.Path()).mkdir("Documents"));
  const QString documents = QDir(home.Path()).filePath("Documents");

  auto acceptProposal = [this] {
    AnswerNextModal<QFileDialog>([](QFileDialog* dialog) {
      // As the Save button does; QFileDialog keeps its own accept() protected.
      static_cast<QDialog*>(dialog)->accept();
    });
  };

  acceptProposal();
  const auto inDocuments = fw::GetSaveFolderItem("CSV", "history.csv");
  ASSERT_TRUE(inDocuments.has_value());
  EXPECT_EQ(QString::fromStdString(inDocuments->Path().string()),
            QDir(documents).filePath("history.csv"));

  ASSERT_TRUE(QDir(documents).removeRecursively());
  acceptProposal();
  const auto inHome = fw::GetSaveFolderItem("CSV", "history.csv");
  ASSERT_TRUE(inHome.has_value());
  EXPECT_EQ(QString::fromStdString(inHome->Path().string()),
            QDir(home.Path()).filePath("history.csv"));

  AnswerNextModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(fw::GetSaveFolderItem("CSV", "history.csv").has_value());
}

}  // namespace
