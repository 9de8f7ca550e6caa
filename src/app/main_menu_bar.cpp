#include "app/main_menu_bar.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

namespace {

// "Cmd+Q" and friends: Qt's Ctrl is the command key on macOS and Ctrl elsewhere.
QKeySequence ShortcutFromText(const QString& text) {
  if (text.isEmpty()) return {};
  QString portable = text;
  portable.replace(QStringLiteral("Cmd+"), QStringLiteral("Ctrl+"));
  return QKeySequence(portable);
}

// The Edit items act on whichever text control has the focus. A read-only
// control (the console, the byte counter) only shows what the program wrote:
// there, copying and selecting are all an item may do.
void EditFocused(const QString& item) {
  QWidget* focus = QApplication::focusWidget();
  auto* line = qobject_cast<QLineEdit*>(focus);
  auto* text = qobject_cast<QPlainTextEdit*>(focus);
  if (line == nullptr && text == nullptr) return;
  if (item == "EditCopy") return line ? line->copy() : text->copy();
  if (item == "EditSelectAll") return line ? line->selectAll() : text->selectAll();
  if (line ? line->isReadOnly() : text->isReadOnly()) return;
  if (line) {
    if (item == "EditUndo") line->undo();
    if (item == "EditCut") line->cut();
    if (item == "EditPaste") line->paste();
    if (item == "EditClear") line->del();
  } else {
    if (item == "EditUndo") text->undo();
    if (item == "EditCut") text->cut();
    if (item == "EditPaste") text->paste();
    if (item == "EditClear") text->textCursor().removeSelectedText();
  }
}

}  // namespace

MainMenuBar& MainMenuBar::Instance() {
  // Parentless, so that on macOS it serves as the application's menu bar; the
  // main window adopts it as its own.
  static QPointer<MainMenuBar> instance;
  if (instance.isNull()) instance = new MainMenuBar();
  return *instance;
}

MainMenuBar::MainMenuBar() : QMenuBar(nullptr) {
  setObjectName(QStringLiteral("MainMenuBar"));
  Untitled0();
  Untitled1();
}

void MainMenuBar::Untitled0() {
  AddMenu("FileMenu", "&File");
  AddItem("FileMenu", "FileQuit", "&Quit", "Cmd+Q");
}

void MainMenuBar::Untitled1() {
  AddMenu("EditMenu", "&Edit");
  AddItem("EditMenu", "EditUndo", "&Undo", "Cmd+Z");
  AddItem("EditMenu", "EditSeparator1", "-", "");
  AddItem("EditMenu", "EditCut", "Cu&t", "Cmd+X");
  AddItem("EditMenu", "EditCopy", "&Copy", "Cmd+C");
  AddItem("EditMenu", "EditPaste", "&Paste", "Cmd+V");
  AddItem("EditMenu", "EditClear", "&Delete", "");
  AddItem("EditMenu", "EditSeparator2", "-", "");
  AddItem("EditMenu", "EditSelectAll", "Select &All", "Cmd+A");
}

QMenu* MainMenuBar::AddMenu(const char* name, const char* text) {
  QMenu* menu = addMenu(QString::fromUtf8(text));
  menu->setObjectName(QString::fromUtf8(name));
  menu->menuAction()->setObjectName(QString::fromUtf8(name));
  return menu;
}

QAction* MainMenuBar::Child(const QString& name) const {
  for (QAction* menuAction : actions()) {
    if (menuAction->objectName() == name) return menuAction;
    if (QMenu* menu = menuAction->menu()) {
      for (QAction* item : menu->actions()) {
        if (item->objectName() == name) return item;
      }
    }
  }
  return nullptr;
}

void MainMenuBar::AddItem(const char* menuName, const char* name, const char* text,
                          const char* shortcut) {
  QMenu* menu = Child(QString::fromUtf8(menuName))->menu();
  const QString caption = QString::fromUtf8(text);
  QAction* item = caption == "-" ? menu->addSeparator() : menu->addAction(caption);
  item->setObjectName(QString::fromUtf8(name));
  item->setShortcut(ShortcutFromText(QString::fromUtf8(shortcut)));
  const QString itemName = item->objectName();
  if (itemName == "FileQuit") {
    item->setMenuRole(QAction::QuitRole);
    // Closing the windows first lets the main window stop its threads.
    connect(item, &QAction::triggered, [] {
      QApplication::closeAllWindows();
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isWindow() && window->isVisible()) return;  // it refused to close
      }
      QCoreApplication::exit(0);
    });
  } else if (!item->isSeparator()) {
    connect(item, &QAction::triggered, [itemName] { EditFocused(itemName); });
  }
}
