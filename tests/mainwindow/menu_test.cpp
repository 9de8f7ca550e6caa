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

TEST(MenuBar, EditItemsWorkOnTheFocusedTextControl) {
  MAGLYX window;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QLineEdit* field = window.Command2();
  field->setText("<GETVER>>");
  window.activateWindow();
  field->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == field; }));
  MainMenuBar& bar = MainMenuBar::Instance();
  bar.Child("EditSelectAll")->trigger();
  EXPECT_EQ(field->selectedText(), "<GETVER>>");
  bar.Child("EditCut")->trigger();
  EXPECT_EQ(field->text(), "");
  bar.Child("EditPaste")->trigger();
  bar.Child("EditPaste")->trigger();
  EXPECT_EQ(field->text(), "<GETVER>><GETVER>>");
  bar.Child("EditUndo")->trigger();
  EXPECT_EQ(field->text(), "<GETVER>>");
  bar.Child("EditSelectAll")->trigger();
  bar.Child("EditClear")->trigger();
  EXPECT_EQ(field->text(), "");
}

}  // namespace
