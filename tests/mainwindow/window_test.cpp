// The main window as it stands before any connection, and the operations
// that switch it.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <future>
#include <thread>

#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "mainwindow/maglyx.h"

namespace {

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<MAGLYX>();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  QRect At(QWidget* control) {
    return QRect(control->mapTo(window->centralWidget(), QPoint(0, 0)), control->size());
  }
  std::unique_ptr<MAGLYX> window;
};

TEST_F(WindowTest, FreshWindowHasItsInitialProperties) {
  EXPECT_EQ(window->download_progress, 0);
  EXPECT_FALSE(window->download_started);
  EXPECT_FALSE(window->download_finished);
  EXPECT_FALSE(window->download_save);
  EXPECT_FALSE(window->GSThreadRunning);
  EXPECT_TRUE(window->bIsVerticalLCD);
  EXPECT_TRUE(window->TxBuffer.empty());
  EXPECT_TRUE(window->Model.empty());
  EXPECT_EQ(window->fileStream, nullptr);
  EXPECT_FALSE(window->file.has_value());
  EXPECT_EQ(window->ScreenH, nullptr);
  EXPECT_EQ(window->ScreenV, nullptr);
}

TEST_F(WindowTest, WindowHasItsDesignSizeAndTitle) {
  EXPECT_EQ(window->windowTitle(), "MAGLYX");
  EXPECT_EQ(window->centralWidget()->size(), QSize(642, 491));
  EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, ControlsSitAtTheirDesignPlaces) {
  // Window content coordinates, also for controls inside another control.
  EXPECT_EQ(At(window->SimBorder()), QRect(15, 196, 291, 288));
  EXPECT_EQ(At(window->CScreenH()), QRect(30, 211, 261, 136));
  EXPECT_EQ(At(window->S4H()), QRect(228, 237, 21, 17));
  EXPECT_EQ(At(window->S1H()), QRect(228, 300, 21, 17));
  EXPECT_EQ(At(window->CScreenV()), QRect(43, 211, 136, 261));
  EXPECT_EQ(At(window->S1V()), QRect(69, 408, 21, 17));
  EXPECT_EQ(At(window->bIsVerticalCheck()), QRect(198, 445, 77, 20));
  EXPECT_EQ(At(window->OnOff()), QRect(198, 359, 80, 22));
  EXPECT_EQ(At(window->SerialPortsPopupMenu()), QRect(54, 12, 167, 22));
  EXPECT_EQ(At(window->SerialText()), QRect(329, 12, 293, 137));
  EXPECT_EQ(At(window->SerialSize()), QRect(450, 167, 80, 22));
  EXPECT_EQ(At(window->DownloadingLabel()), QRect(15, 110, 159, 16));
  EXPECT_EQ(At(window->SS4()), QRect(142, 162, 32, 20));
  EXPECT_EQ(At(window->HEXButton()), QRect(392, 167, 58, 20));
  EXPECT_EQ(At(window->SyncTime()), QRect(362, 219, 216, 22));
  EXPECT_EQ(At(window->RefreshPorts()), QRect(15, 12, 40, 20));
}

TEST_F(WindowTest, ResizingMovesNoControl) {
  const QRect before = At(window->SerialText());
  const QRect border = At(window->SimBorder());
  window->resize(900, 700);
  QTest::qWait(50);
  EXPECT_EQ(At(window->SerialText()), before);
  EXPECT_EQ(At(window->SimBorder()), border);
  window->resize(300, 200);
  QTest::qWait(50);
  EXPECT_EQ(At(window->SerialText()), before);
}

TEST_F(WindowTest, OnlyTheDownloadControlsStartHidden) {
  EXPECT_FALSE(window->SaveButton()->isVisible());
  EXPECT_FALSE(window->DownloadingLabel()->isVisible());
  for (QWidget* shown : std::initializer_list<QWidget*>{
           window->CScreenH(), window->CScreenV(), window->S1H(), window->S4V(), window->DHButton(),
           window->DownloadProgressBar(), window->GroupBox1(), window->SS1(), window->ASCIIButton(),
           window->SerialText()}) {
    EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
  }
}

TEST_F(WindowTest, ConnectionBoundControlsStartDisabled) {
  for (QWidget* off : std::initializer_list<QWidget*>{
           window->ConnectButton(), window->SendCommand1(), window->SendCommand2(),
           window->DHButton(), window->DSButton(), window->OnOff(), window->ZoomIn(),
           window->ZoomOut(), window->SyncTime()}) {
    EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
  }
  EXPECT_TRUE(window->ClearButton()->isEnabled());
  EXPECT_TRUE(window->RefreshPorts()->isEnabled());
  EXPECT_TRUE(window->SaveButton()->isEnabled());
  EXPECT_TRUE(window->S1H()->isEnabled());
}

TEST_F(WindowTest, ControlsShowTheirDesignTexts) {
  EXPECT_EQ(window->SerialText()->Text(), "Welcome to MAGLYX!\n");
  EXPECT_EQ(window->SerialText()->Length(), 19);
  EXPECT_EQ(window->SerialSize()->text(), "19");
  EXPECT_EQ(window->ConnectButton()->text(), "Connect");
  EXPECT_EQ(window->DHButton()->text(), "Download History");
  EXPECT_EQ(window->DSButton()->text(), "Download Screenshot");
  EXPECT_EQ(window->DownloadingLabel()->text(), "Downloading...0 Bytes");
  // A doubled ampersand is how a button shows one "&".
  EXPECT_EQ(window->SaveButton()->text(), "Stop && Save");
  EXPECT_EQ(window->SyncTime()->text(), "Sync Date && Time");
  ASSERT_EQ(window->Command1()->count(), 5);
  const char* rows[] = {"<GETVER>>", "<GETSERIAL>>", "<DSID>>", "<FACTORYRESET>>", "<REBOOT>>"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(window->Command1()->itemText(i), rows[i]);
  EXPECT_EQ(window->Command1()->currentIndex(), 0);
  EXPECT_EQ(window->SerialPortsPopupMenu()->count(), 0);
  EXPECT_EQ(window->SerialPortsPopupMenu()->currentIndex(), -1);
  EXPECT_TRUE(window->bIsVerticalCheck()->isChecked());
  EXPECT_EQ(window->DownloadProgressBar()->maximum(), 100);
  EXPECT_EQ(window->DownloadProgressBar()->value(), 0);
  EXPECT_TRUE(window->SerialText()->isReadOnly());
  EXPECT_TRUE(window->SerialSize()->isReadOnly());
}

TEST_F(WindowTest, TimersAndThreadsHaveTheirDesignValues) {
  EXPECT_EQ(window->Timer100ms()->Mode(), fw::Timer::kModeMultiple);
  EXPECT_EQ(window->Timer100ms()->Period(), 100);
  EXPECT_EQ(window->SerialTimer()->Mode(), fw::Timer::kModeMultiple);
  EXPECT_EQ(window->SerialTimer()->Period(), 50);
  EXPECT_EQ(window->PortListUpdater()->Mode(), fw::Timer::kModeOff);
  EXPECT_EQ(window->PortListUpdater()->Period(), 500);
  EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);
  EXPECT_EQ(window->GSTimer()->Period(), 500);
  EXPECT_EQ(window->DHThread()->Priority(), 20);
  EXPECT_EQ(window->GSThread()->Priority(), 5);
  EXPECT_FALSE(window->DHThread()->IsRunning());
  EXPECT_FALSE(window->Serial1()->IsOpen());
}

TEST_F(WindowTest, RadioGroupsAreIndependent) {
  window->SS3()->click();
  EXPECT_TRUE(window->SS3()->isChecked());
  EXPECT_FALSE(window->SS1()->isChecked());
  EXPECT_TRUE(window->ASCIIButton()->isChecked());
  window->HEXButton()->click();
  EXPECT_TRUE(window->HEXButton()->isChecked());
  EXPECT_FALSE(window->ASCIIButton()->isChecked());
  EXPECT_TRUE(window->SS3()->isChecked());
}

TEST_F(WindowTest, EnableAndDisableSwitchTheConnectionBoundControls) {
  fw::ProgramLockHolder lock;
  const std::vector<QWidget*> bound = {
      window->SendCommand1(), window->SendCommand2(), window->DHButton(), window->DSButton(),
      window->OnOff(),        window->ZoomIn(),       window->ZoomOut(),  window->SyncTime()};
  for (int twice = 0; twice < 2; ++twice) {
    window->EnableUI();
    for (QWidget* control : bound) EXPECT_TRUE(control->isEnabled());
    EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeMultiple);
  }
  // Nothing else is touched.
  EXPECT_FALSE(window->ConnectButton()->isEnabled());
  EXPECT_TRUE(window->SerialPortsPopupMenu()->isEnabled());
  for (int twice = 0; twice < 2; ++twice) {
    window->DisableUI();
    for (QWidget* control : bound) EXPECT_FALSE(control->isEnabled());
    EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);
  }
  EXPECT_TRUE(window->ClearButton()->isEnabled());
  EXPECT_EQ(window->SerialTimer()->Mode(), fw::Timer::kModeMultiple);
}

TEST_F(WindowTest, DisableDuringADownloadLeavesTheDownloadAlone) {
  fw::ProgramLockHolder lock;
  window->EnableUI();
  window->download_started = true;
  window->DHButton()->setText("Cancel");
  window->SaveButton()->show();
  window->DisableUI();
  EXPECT_FALSE(window->DHButton()->isEnabled());
  EXPECT_EQ(window->DHButton()->text(), "Cancel");
  EXPECT_TRUE(window->SaveButton()->isVisible());
  EXPECT_TRUE(window->download_started);
}

class ScrollDownTest : public WindowTest {
 protected:
  // A short console, so that even a few lines can be scrolled.
  int TopLineAfterScrollDown(int lines) {
    fw::TextArea* area = window->SerialText();
    area->resize(area->width(), 30);
    QString text;
    for (int i = 0; i < lines; ++i) text += (i ? "\n" : "") + QString::number(i);
    area->SetText(text);
    area->SetScrollPosition(0);
    fw::ProgramLockHolder lock;
    window->ScrollDown(area);
    return area->ScrollPosition();
  }
};

TEST_F(ScrollDownTest, KeepsSixLinesAboveTheLastWhenThereAreMore) {
  // Lines count from 0: the text of 8 lines ends on line 7.
  EXPECT_EQ(TopLineAfterScrollDown(8), 1);
  EXPECT_EQ(TopLineAfterScrollDown(101), 94);
}

TEST_F(ScrollDownTest, UpToSixTheEndLineItselfIsTheTop) {
  // Ends on line 6: the top line is 6, not 0.
  EXPECT_EQ(TopLineAfterScrollDown(7), 6);
  EXPECT_EQ(TopLineAfterScrollDown(1), 0);
}

TEST_F(ScrollDownTest, LeavesTextAndSelectionAlone) {
  fw::TextArea* area = window->SerialText();
  area->SetText("a\nb\nc\nd\ne\nf\ng\nh\ni");
  QTextCursor cursor = area->textCursor();
  cursor.setPosition(2);
  cursor.setPosition(5, QTextCursor::KeepAnchor);
  area->setTextCursor(cursor);
  fw::ProgramLockHolder lock;
  window->ScrollDown(area);
  EXPECT_EQ(area->Text(), "a\nb\nc\nd\ne\nf\ng\nh\ni");
  EXPECT_EQ(area->textCursor().selectionStart(), 2);
  EXPECT_EQ(area->textCursor().selectionEnd(), 5);
}

TEST_F(WindowTest, WorkersMayReachOnlyTheNonVisualMembers) {
  auto fromWorker = std::async(std::launch::async, [&] {
    bool uiRefused = false;
    try {
      window->ConnectButton();
    } catch (const fw::ThreadAccessingUIException&) {
      uiRefused = true;
    }
    const bool lineReached = window->Serial1() != nullptr && window->SerialTimer() != nullptr;
    return std::make_pair(uiRefused, lineReached);
  });
  const auto [uiRefused, lineReached] = fromWorker.get();
  EXPECT_TRUE(uiRefused);
  EXPECT_TRUE(lineReached);
}

}  // namespace
