// The main window as it stands before any connection, and the operations
// that switch it.

#include <gtest/gtest.h>

#include <QAbstractItemView>
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

TEST_F(WindowTest, FreshWindowIsInItsDesignState) {
  EXPECT_EQ(window->download_progress, 0);
  EXPECT_FALSE(window->download_started || window->download_finished || window->download_save ||
               window->GSThreadRunning);
  EXPECT_TRUE(window->bIsVerticalLCD);
  EXPECT_TRUE(window->TxBuffer.empty() && window->Model.empty());
  EXPECT_FALSE(window->fileStream || window->file || window->ScreenH || window->ScreenV);

  EXPECT_EQ(window->windowTitle(), "MAGLYX");
  EXPECT_EQ(window->centralWidget()->size(), QSize(642, 491));
  EXPECT_EQ(window->Timer100ms()->Mode(), fw::Timer::kModeMultiple);
  EXPECT_EQ(window->Timer100ms()->Period(), 100);
  EXPECT_EQ(window->SerialTimer()->Mode(), fw::Timer::kModeMultiple);
  EXPECT_EQ(window->SerialTimer()->Period(), 50);
  EXPECT_EQ(window->PortListUpdater()->Mode(), fw::Timer::kModeOff);
  EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);
  EXPECT_EQ(window->DHThread()->Priority(), 20);
  EXPECT_EQ(window->GSThread()->Priority(), 5);
  EXPECT_FALSE(window->Serial1()->IsOpen());

  EXPECT_EQ(window->SerialText()->Text(), "Welcome to MAGLYX!\n");
  EXPECT_EQ(window->SerialText()->Length(), 19);
  EXPECT_EQ(window->SerialSize()->text(), "19");
  EXPECT_EQ(window->DownloadingLabel()->text(), "Downloading...0 Bytes");
  // A doubled ampersand is how a button shows one "&".
  EXPECT_EQ(window->SaveButton()->text(), "Stop && Save");
  EXPECT_EQ(window->SyncTime()->text(), "Sync Date && Time");
  QStringList rows;
  for (int i = 0; i < window->Command1()->count(); ++i) rows << window->Command1()->itemText(i);
  EXPECT_EQ(rows,
            QStringList({"<GETVER>>", "<GETSERIAL>>", "<DSID>>", "<FACTORYRESET>>", "<REBOOT>>"}));
  EXPECT_EQ(window->Command1()->currentIndex(), 0);
  EXPECT_EQ(window->SerialPortsPopupMenu()->currentIndex(), -1);
  EXPECT_TRUE(window->bIsVerticalCheck()->isChecked());
  EXPECT_TRUE(window->SerialText()->isReadOnly());

  EXPECT_FALSE(window->SaveButton()->isVisible());
  EXPECT_FALSE(window->DownloadingLabel()->isVisible());
  for (QWidget* shown : std::initializer_list<QWidget*>{
           window->CScreenH(), window->CScreenV(), window->S1H(), window->S4V(),
           window->DownloadProgressBar(), window->SS1(), window->SerialText()})
    EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
  for (QWidget* off : std::initializer_list<QWidget*>{
           window->ConnectButton(), window->SendCommand1(), window->SendCommand2(),
           window->DHButton(), window->DSButton(), window->OnOff(), window->ZoomIn(),
           window->ZoomOut(), window->SyncTime()})
    EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
  for (QWidget* on : std::initializer_list<QWidget*>{window->ClearButton(), window->RefreshPorts(),
                                                     window->S1H()})
    EXPECT_TRUE(on->isEnabled());
}

TEST_F(WindowTest, ControlsSitAtTheirDesignPlacesAndStayThere) {
  // Window content coordinates, also for controls inside another control.
  const std::pair<QWidget*, QRect> places[] = {{window->SimBorder(), {15, 196, 291, 288}},
                                               {window->CScreenH(), {30, 211, 261, 136}},
                                               {window->S4H(), {228, 237, 21, 17}},
                                               {window->S1V(), {69, 408, 21, 17}},
                                               {window->OnOff(), {198, 359, 80, 22}},
                                               {window->SerialText(), {329, 12, 293, 137}},
                                               {window->DownloadingLabel(), {15, 110, 159, 16}},
                                               {window->SS4(), {142, 162, 32, 20}},
                                               {window->HEXButton(), {392, 167, 58, 20}},
                                               {window->RefreshPorts(), {15, 12, 40, 20}}};
  for (const auto& [control, place] : places)
    EXPECT_EQ(At(control), place) << control->objectName().toStdString();
  window->resize(900, 700);
  QTest::qWait(50);
  for (const auto& [control, place] : places) EXPECT_EQ(At(control), place);
}

TEST_F(WindowTest, APortRowTooLongForTheListShowsWholeInItsTipAndDropDown) {
  fw::PopupMenu* list = window->SerialPortsPopupMenu();
  list->addItem("MXR-420 EMF Meter V1.12\r\n");
  EXPECT_EQ(list->toolTip(), "MXR-420 EMF Meter V1.12");
  EXPECT_EQ(list->width(), 167);
  list->showPopup();
  EXPECT_GE(list->view()->viewport()->width(), list->view()->sizeHintForColumn(0));
  list->hidePopup();
  EXPECT_EQ(window->Command1()->toolTip(), "") << "a row that fits needs no tip";
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
  // Under a running download it leaves the download alone.
  window->EnableUI();
  window->download_started = true;
  window->SaveButton()->show();
  window->DisableUI();
  EXPECT_FALSE(window->DHButton()->isEnabled());
  EXPECT_TRUE(window->SaveButton()->isVisible() && window->download_started);
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

TEST_F(ScrollDownTest, KeepsSixLinesAboveTheLastOrTheLastLineItselfUpToSix) {
  // Lines count from 0: a text of 8 lines ends on line 7, one of 7 lines on line 6.
  const std::pair<int, int> cases[] = {{8, 1}, {101, 94}, {7, 6}, {1, 0}};
  for (const auto& [lines, top] : cases) EXPECT_EQ(TopLineAfterScrollDown(lines), top) << lines;
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
  std::async(std::launch::async, [&] {
    EXPECT_THROW(window->ConnectButton(), fw::ThreadAccessingUIException);
    EXPECT_TRUE(window->Serial1() != nullptr && window->SerialTimer() != nullptr);
  }).get();
}

}  // namespace
