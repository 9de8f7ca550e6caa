// The menu bar: two menus, their items, shortcuts and what the Edit items do.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "app/main_menu_bar.h"
#include "mainwindow/maglyx.h"

namespace {

QStringList Captions(const QList<QAction*>& actions) {
  QStringList captions;
  for (QAction* action : actions) captions << (action->isSeparator() ? "-" : action->text());
  return captions;
}

TEST(MenuBar, HasFileThenEdit) {
  MainMenuBar& bar = MainMenuBar::Instance();
  EXPECT_EQ(Captions(bar.actions()), QStringList({"&File", "&Edit"}));
  EXPECT_EQ(Captions(bar.Child("FileMenu")->menu()->actions()), QStringList({"&Quit"}));
  EXPECT_EQ(Captions(bar.Child("EditMenu")->menu()->actions()),
            QStringList({"&Undo", "-", "Cu&t", "&Copy", "&Paste", "&Delete", "-", "Select &All"}));
}

TEST(MenuBar, ItemsCarryThePlatformShortcuts) {
  MainMenuBar& bar = MainMenuBar::Instance();
  EXPECT_EQ(bar.Child("FileQuit")->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_EQ(bar.Child("EditUndo")->shortcut(), QKeySequence("Ctrl+Z"));
  EXPECT_EQ(bar.Child("EditCut")->shortcut(), QKeySequence("Ctrl+X"));
  EXPECT_EQ(bar.Child("EditCopy")->shortcut(), QKeySequence("Ctrl+C"));
  EXPECT_EQ(bar.Child("EditPaste")->shortcut(), QKeySequence("Ctrl+V"));
  EXPECT_EQ(bar.Child("EditSelectAll")->shortcut(), QKeySequence("Ctrl+A"));
  EXPECT_TRUE(bar.Child("EditClear")->shortcut().isEmpty());
  EXPECT_EQ(bar.Child("FileQuit")->menuRole(), QAction::QuitRole);
}

TEST(MenuBar, IsBuiltOnceAndSharedWithTheWindow) {
  MainMenuBar& first = MainMenuBar::Instance();
  EXPECT_EQ(&MainMenuBar::Instance(), &first);
  EXPECT_EQ(first.actions().size(), 2);
  MAGLYX window;
  EXPECT_EQ(window.menuBar(), &MainMenuBar::Instance());
}

class EditMenuTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QTest::qWaitForWindowExposed(&window)); }
  void Focus(QWidget* control) {
    window.activateWindow();
    control->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == control; }));
  }
  void Item(const char* name) { MainMenuBar::Instance().Child(name)->trigger(); }
  MAGLYX window;
};

TEST_F(EditMenuTest, ItemsWorkOnTheFocusedTextField) {
  QLineEdit* field = window.Command2();
  field->setText("<GETVER>>");
  Focus(field);
  Item("EditSelectAll");
  EXPECT_EQ(field->selectedText(), "<GETVER>>");
  Item("EditCut");
  EXPECT_EQ(field->text(), "");
  Item("EditPaste");
  Item("EditPaste");
  EXPECT_EQ(field->text(), "<GETVER>><GETVER>>");
  Item("EditUndo");
  EXPECT_EQ(field->text(), "<GETVER>>");
  Item("EditSelectAll");
  Item("EditClear");
  EXPECT_EQ(field->text(), "");
}

TEST_F(EditMenuTest, ReadOnlyControlsOnlyCopyAndSelect) {
  window.SerialText()->AppendText("reply\r\n");
  QApplication::clipboard()->setText("pasted");
  for (QWidget* control :
       {static_cast<QWidget*>(window.SerialSize()), static_cast<QWidget*>(window.SerialText())}) {
    SCOPED_TRACE(control->objectName().toStdString());
    const QString before = window.SerialSize()->text() + window.SerialText()->Text();
    Focus(control);
    for (const char* item : {"EditSelectAll", "EditCut", "EditPaste", "EditClear", "EditUndo"})
      Item(item);
    for (QKeySequence::StandardKey key :
         {QKeySequence::Cut, QKeySequence::Paste, QKeySequence::Undo, QKeySequence::SelectAll})
      QTest::keySequence(control, QKeySequence(key));
    EXPECT_EQ(window.SerialSize()->text() + window.SerialText()->Text(), before);
    Item("EditCopy");
    EXPECT_EQ(QApplication::clipboard()->text(),
              control == window.SerialSize() ? "19" : "Welcome to MAGLYX!\nreply\n");
  }
  // The console keeps no undo history of what it was sent.
  EXPECT_FALSE(window.SerialText()->document()->isUndoAvailable());
}

}  // namespace
