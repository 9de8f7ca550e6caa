// The main window as it stands before any connection, the operations that switch it, and the
// menu bar.

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <future>

#include "app/main_menu_bar.h"
#include "framework/exceptions.h"
#include "support/meter_window.h"

using Controls = std::initializer_list<QWidget*>;

// The window shown, disconnected, with an empty port list.
class WindowTest : public MeterWindow {
 protected:
  void SetUp() override { ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get())); }
  // Window content coordinates, also for controls inside another control.
  QRect At(QWidget* control) {
    return QRect(control->mapTo(window->centralWidget(), QPoint(0, 0)), control->size());
  }
  void Focus(QWidget* control) {
    window->activateWindow();
    control->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == control; }));
  }
  static void Item(const char* name) { MainMenuBar::Instance().Child(name)->trigger(); }
};

TEST_F(WindowTest, FreshWindowIsInItsDesignState) {
  // A doubled ampersand is how a button shows one "&".
  QStringList shown = {window->windowTitle(),        window->SerialText()->Text(),
                       window->SerialSize()->text(), window->DownloadingLabel()->text(),
                       window->SaveButton()->text(), window->SyncTime()->text()};
  for (int i = 0; i < window->Command1()->count(); ++i) shown << window->Command1()->itemText(i);
  EXPECT_EQ(shown, QStringList({"MAGLYX", "Welcome to MAGLYX!\n", "19", "Downloading...0 Bytes",
                                "Stop && Save", "Sync Date && Time", "<GETVER>>", "<GETSERIAL>>",
                                "<DSID>>", "<FACTORYRESET>>", "<REBOOT>>"}));
  // Modes and periods of the repeating, serial, port list and display capture timers.
  QList<int> timers;
  for (fw::Timer* timer :
       {window->Timer100ms(), window->SerialTimer(), window->PortListUpdater(), window->GSTimer()})
    timers << timer->Mode() << timer->Period();
  EXPECT_EQ(timers, QList<int>({2, 100, 2, 50, 0, 500, 0, 500}));
  EXPECT_TRUE(window->bIsVerticalLCD && window->bIsVerticalCheck()->isChecked());
  EXPECT_FALSE(window->SerialPortsPopupMenu()->currentIndex() != -1 ||
               window->SaveButton()->isVisible() || window->DownloadingLabel()->isVisible());
  for (QWidget* off :
       Controls{window->ConnectButton(), window->SendCommand1(), window->SendCommand2(),
                window->DHButton(), window->DSButton(), window->OnOff(), window->ZoomIn(),
                window->ZoomOut(), window->SyncTime()})
    EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
  const std::pair<QWidget*, QRect> places[] = {{window->SimBorder(), {15, 196, 291, 288}},
                                               {window->S4H(), {228, 237, 21, 17}},
                                               {window->S1V(), {69, 408, 21, 17}},
                                               {window->SerialText(), {329, 12, 293, 137}},
                                               {window->DownloadingLabel(), {15, 110, 159, 16}},
                                               {window->HEXButton(), {392, 167, 58, 20}}};
  EXPECT_EQ(window->centralWidget()->size(), QSize(642, 491));
  for (const auto& [control, place] : places)
    EXPECT_EQ(At(control), place) << control->objectName().toStdString();
  // The screenshot slots and the console view are separate radio groups.
  window->SS3()->click();
  window->HEXButton()->click();
  EXPECT_TRUE(window->SS3()->isChecked() && window->HEXButton()->isChecked());
  EXPECT_FALSE(window->SS1()->isChecked() || window->ASCIIButton()->isChecked());
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

TEST_F(WindowTest, EnableAndDisableSwitchOnlyTheConnectionBoundControls) {
  fw::ProgramLockHolder lock;
  const Controls bound = {window->SendCommand1(), window->SendCommand2(), window->DHButton(),
                          window->DSButton(),     window->OnOff(),        window->ZoomIn(),
                          window->ZoomOut(),      window->SyncTime()};
  for (const bool on : {true, true, false, false}) {
    if (on)
      window->EnableUI();
    else
      window->DisableUI();
    for (QWidget* control : bound) EXPECT_EQ(control->isEnabled(), on);
    // The port list, Clear and the console stay as they were; Connect waits for a port.
    EXPECT_EQ(std::tuple(window->GSTimer()->Mode(), window->SerialTimer()->Mode(),
                         window->ConnectButton()->isEnabled(),
                         window->SerialPortsPopupMenu()->isEnabled() &&
                             window->ClearButton()->isEnabled()),
              std::tuple(on ? 2 : 0, 2, false, true));
  }
  // Under a running download it leaves the download alone.
  window->EnableUI();
  window->download_started = true;
  window->SaveButton()->show();
  window->DisableUI();
  EXPECT_TRUE(!window->DHButton()->isEnabled() && window->SaveButton()->isVisible() &&
              window->download_started);
  // Workers may reach only the non-visual members.
  std::async(std::launch::async, [&] {
    EXPECT_THROW(window->ConnectButton(), fw::ThreadAccessingUIException);
    EXPECT_TRUE(window->Serial1() != nullptr && window->SerialTimer() != nullptr);
  }).get();
}

// Six lines above the last one stay in view (lines count from 0), or the last line itself up to
// six; text and selection stay as they were.
TEST_F(WindowTest, ScrollDownShowsTheEndAndLeavesTextAndSelectionAlone) {
  fw::TextArea* area = window->SerialText();
  area->resize(area->width(), 30);  // short, so that even a few lines can be scrolled
  for (const auto& [lines, top] : {std::pair(8, 1), {101, 94}, {7, 6}, {1, 0}}) {
    QStringList text;
    for (int i = 0; i < lines; ++i) text << QString::number(i);
    area->SetText(text.join('\n'));
    QTextCursor cursor = area->textCursor();
    cursor.setPosition(1, QTextCursor::KeepAnchor);
    area->setTextCursor(cursor);
    area->SetScrollPosition(0);
    fw::ProgramLockHolder lock;
    window->ScrollDown(area);
    EXPECT_EQ(std::tuple(area->ScrollPosition(), area->Text(), area->textCursor().selectedText()),
              std::tuple(top, text.join('\n'), "0"));
  }
}

// Captions ("-" for a separator) and shortcuts of the bar's and then each menu's items.
TEST_F(WindowTest, MenuBarHasFileThenEditWithThePlatformShortcutsAndEditsTheFocusedField) {
  MainMenuBar& bar = MainMenuBar::Instance();
  QStringList items;
  for (QList<QAction*> menu : {bar.actions(), bar.Child("FileMenu")->menu()->actions(),
                               bar.Child("EditMenu")->menu()->actions()})
    for (QAction* action : menu)
      items << (action->isSeparator() ? "-" : action->text() + " " + action->shortcut().toString());
  EXPECT_EQ(items,
            QStringList({"&File ", "&Edit ", "&Quit Ctrl+Q", "&Undo Ctrl+Z", "-", "Cu&t Ctrl+X",
                         "&Copy Ctrl+C", "&Paste Ctrl+V", "&Delete ", "-", "Select &All Ctrl+A"}));
  EXPECT_EQ(bar.Child("FileQuit")->menuRole(), QAction::QuitRole);
  // The Edit items work on the focused text field.
  window->Command2()->setText("<GETVER>>");
  Focus(window->Command2());
  QApplication::clipboard()->clear();
  QStringList texts;
  for (const char* item : {"EditSelectAll", "EditCut", "EditPaste", "EditPaste", "EditUndo",
                           "EditSelectAll", "EditClear"}) {
    Item(item);
    texts << window->Command2()->text();
  }
  EXPECT_EQ(texts, QStringList({"<GETVER>>", "", "<GETVER>>", "<GETVER>><GETVER>>", "<GETVER>>",
                                "<GETVER>>", ""}));
}

TEST_F(WindowTest, ReadOnlyControlsOnlyCopyAndSelect) {
  window->SerialText()->AppendText("reply\r\n");
  QApplication::clipboard()->setText("pasted");
  for (QWidget* control : Controls{window->SerialSize(), window->SerialText()}) {
    SCOPED_TRACE(control->objectName().toStdString());
    const QString before = window->SerialSize()->text() + window->SerialText()->Text();
    Focus(control);
    for (const char* item : {"EditSelectAll", "EditCut", "EditPaste", "EditClear", "EditUndo"})
      Item(item);
    for (QKeySequence::StandardKey key :
         {QKeySequence::Cut, QKeySequence::Paste, QKeySequence::Undo, QKeySequence::SelectAll})
      QTest::keySequence(control, QKeySequence(key));
    EXPECT_EQ(window->SerialSize()->text() + window->SerialText()->Text(), before);
    Item("EditCopy");
    EXPECT_EQ(QApplication::clipboard()->text(),
              control == window->SerialSize() ? "19" : "Welcome to MAGLYX!\nreply\n");
  }
  // The console keeps no undo history of what it was sent.
  EXPECT_FALSE(window->SerialText()->document()->isUndoAvailable());
}
