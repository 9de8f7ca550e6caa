// The main window as it stands before any connection, the port row's tip, the console's scrolling
// and the menu bar.

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QStyleFactory>

#include <thread>

#include "app/main_menu_bar.h"
#include "framework/exceptions.h"
#include "support/meter_window.h"

using Controls = std::initializer_list<QWidget*>;

// The window shown, disconnected, with an empty port list.
class WindowTest : public MeterWindow {
 protected:
  void SetUp() override { ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get())); }
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
  EXPECT_FALSE(window->SerialPortsPopupMenu()->currentIndex() != -1 ||
               window->SaveButton()->isVisible() || window->DownloadingLabel()->isVisible());
  for (QWidget* off :
       Controls{window->ConnectButton(), window->SendCommand1(), window->SendCommand2(),
                window->DHButton(), window->DSButton(), window->OnOff(), window->ZoomIn(),
                window->ZoomOut(), window->SyncTime()})
    EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
  // The screenshot slots and the console view are separate radio groups.
  window->SS3()->click();
  window->HEXButton()->click();
  EXPECT_TRUE(window->SS3()->isChecked() && window->HEXButton()->isChecked());
  EXPECT_FALSE(window->SS1()->isChecked() || window->ASCIIButton()->isChecked());
  // Workers may reach only the non-visual members.
  std::thread([&] {
    EXPECT_THROW(Locked([&] { return window->ConnectButton(); }), fw::ThreadAccessingUIException);
    EXPECT_TRUE(
        Locked([&] { return window->Serial1() != nullptr && window->SerialTimer() != nullptr; }));
  }).join();
}

TEST_F(WindowTest, APortRowTooLongForTheListShowsWholeInItsTipAndDropDown) {
  fw::PopupMenu* list = window->SerialPortsPopupMenu();
  list->addItems({"MXR-420 EMF Meter V1.12\r\n", "/dev/serial/by-id/usb-FTDI_FT232R_A10K-port0"});
  EXPECT_EQ(list->toolTip(), "MXR-420 EMF Meter V1.12");
  EXPECT_EQ(list->width(), 167);
  // Qt's Fusion style widens its pop-up by itself; its Windows style leaves that to the control.
  list->setStyle(QStyleFactory::create("Windows"));
  list->style()->setParent(window.get());  // made after the list, and so deleted after it
  list->showPopup();
  EXPECT_GE(list->view()->viewport()->width(), list->view()->sizeHintForColumn(0));
  list->hidePopup();
  EXPECT_EQ(window->Command1()->toolTip(), "") << "a row that fits needs no tip";
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
    // After each item: a cut that the paste after it put back must show too.
    for (const char* item : {"EditSelectAll", "EditCut", "EditPaste", "EditClear", "EditUndo"}) {
      Item(item);
      EXPECT_EQ(window->SerialSize()->text() + window->SerialText()->Text(), before) << item;
    }
    Item("EditCopy");
    EXPECT_EQ(QApplication::clipboard()->text(),
              control == window->SerialSize() ? "19" : "Welcome to MAGLYX!\nreply\n");
  }
  // The console keeps no undo history of what it was sent.
  EXPECT_FALSE(window->SerialText()->document()->isUndoAvailable());
}
