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

// Captions ("-" for a separator) and shortcuts of a menu's items, in order.
QStringList Items(const QList<QAction*>& actions) {
  QStringList items;
  for (QAction* action : actions)
    items << (action->isSeparator() ? "-" : action->text() + " " + action->shortcut().toString());
  return items;
}

TEST(MenuBar, HasFileThenEditWithThePlatformShortcutsBuiltOnceAndShared) {
  MainMenuBar& bar = MainMenuBar::Instance();
  EXPECT_EQ(&MainMenuBar::Instance(), &bar);
  EXPECT_EQ(Items(bar.actions()), QStringList({"&File ", "&Edit "}));
  EXPECT_EQ(Items(bar.Child("FileMenu")->menu()->actions()), QStringList({"&Quit Ctrl+Q"}));
  EXPECT_EQ(Items(bar.Child("EditMenu")->menu()->actions()),
            QStringList({"&Undo Ctrl+Z", "-", "Cu&t Ctrl+X", "&Copy Ctrl+C", "&Paste Ctrl+V",
                         "&Delete ", "-", "Select &All Ctrl+A"}));
  EXPECT_EQ(bar.Child("FileQuit")->menuRole(), QAction::QuitRole);
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
