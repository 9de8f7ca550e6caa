#pragma once
// The program's one menu bar: File with the quit item, Edit with the usual
// editing items. Built once, on first request, and shared by the application
// and the main window.

#include <QMenuBar>

class QAction;
class QMenu;

class MainMenuBar : public QMenuBar {
  Q_OBJECT
 public:
  // The one instance, built on the first call.
  static MainMenuBar& Instance();

  // The menu or item with this name ("FileMenu", "EditCopy", ...), or nullptr.
  QAction* Child(const QString& name) const;

 private:
  MainMenuBar();
  void Untitled0();  // the File menu
  void Untitled1();  // the Edit menu
  QMenu* AddMenu(const char* name, const char* text);
  void AddItem(const char* menuName, const char* name, const char* text, const char* shortcut);
};
