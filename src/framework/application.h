#pragma once
// The framework's application object: owns the Qt application, carries the
// version data and the application's menu bar, and is registered once so that
// program code can reach it.

#include <QApplication>
#include <QPointer>
#include <memory>
#include <string>

#include <QMenuBar>

namespace fw {

struct VersionData {
  int major = 0;
  int minor = 0;
  int bug = 0;
};

class Application {
 public:
  // Says whether the program supports high-resolution displays. Must come
  // before the first Application is made, as Qt fixes its scaling then.
  static void SetSupportsHiDPI(bool supported);

  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  void SetVersionData(const VersionData& version) { version_ = version; }
  std::string VersionText() const;  // "major.minor.bug"

  void SetMenuBar(QMenuBar* bar) { menu_bar_ = bar; }
  QMenuBar* MenuBar() const { return menu_bar_; }

  // Sleeps the calling thread; see fw::SleepCurrentThread.
  void SleepCurrentThread(int ms) const;

  // Registration: the one application object of the process.
  static void Register(Application* app);
  static Application* Registered();

  // Runs the event loop until Quit; returns its exit code.
  int Run();

 private:
  std::unique_ptr<QApplication> qt_;
  VersionData version_;
  QPointer<QMenuBar> menu_bar_;
};

// Asks the framework to quit the application: the event loop ends with this
// exit code.
void Quit(int exitCode);

}  // namespace fw
