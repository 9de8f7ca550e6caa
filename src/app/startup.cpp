#include "app/startup.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/app.h"
#include "app/main_menu_bar.h"
#include "framework/desktop.h"
#include "framework/dispatch.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "mainwindow/maglyx.h"

namespace {

std::vector<std::string>& Steps() {
  static std::vector<std::string> steps;
  return steps;
}

std::unique_ptr<App> g_app;

void NewAppInstance(const StartupHooks& hooks) {
  Steps().push_back("NewAppInstance");
  g_app = std::make_unique<App>();
  fw::VersionData version;
  version.major = 1;
  version.minor = 0;
  version.bug = 0;
  g_app->SetVersionData(version);
  g_app->SetMenuBar(&MainMenuBar::Instance());
  fw::Application::Register(g_app.get());
  if (hooks.afterAppInstance) hooks.afterAppInstance();
}

void EarlyStartup(const StartupHooks& hooks) {
  Steps().push_back("SetSupportsHiDPI");
  fw::Application::SetSupportsHiDPI(true);
  // The program registers no document types and no menu handlers of its own.
  NewAppInstance(hooks);
}

void LateStartup(const StartupHooks& hooks) {
  Steps().push_back("LateStartup");
  // Making the window shows it: its design says it is visible.
  MAGLYX::Instance();
  if (hooks.afterLateStartup) hooks.afterLateStartup();
}

void RunFrameworkInitialization(const StartupHooks& hooks) {
  Steps().push_back("FrameworkInitialization");
  // Desktop services default to the Qt dialogs unless a test installed its own.
  fw::Dispatch([&] { LateStartup(hooks); });
}

// The start-up road and the event loop. An exception from any step skips the
// rest and goes to the framework's handling; the process still finishes below.
// Returns the exit code that the event loop was asked to end with; 1 when
// start-up failed or left no main window.
int Main(const StartupHooks& hooks) {
  try {
    EarlyStartup(hooks);
    RunFrameworkInitialization(hooks);
    // A late step that failed has been reported; with no window there is
    // nothing the event loop could ever do, so the run ends here.
    if (MAGLYX::Existing() == nullptr) return 1;
    Steps().push_back("Run");
    return g_app->Run();
  } catch (...) {
    Steps().push_back("UnhandledException");
    fw::ReportUnhandledException(std::current_exception());
    return 1;
  }
}

// Set while a run may have work going: from the start of RunProgram until its
// finalisers have stopped that work.
std::atomic<bool> g_work_may_run{false};

// Whatever way the run ended, the window may not have closed: no worker
// outlives it, and a history file that a download left unfinished goes, as
// on closing the window.
void StopWork() {
  fw::Thread::KillAndJoinAll();
  if (MAGLYX* window = MAGLYX::Existing()) {
    fw::ProgramLockHolder lock;
    window->DiscardUnfinishedHistory();
  }
}

// exit() in the middle of a run: Qt calls it from inside the event loop when
// the connection to the display breaks. The static destructors it goes on to
// run would take the application down under the open window and the running
// workers, and Qt cannot tear its widgets down without a display anyway. So
// the work stops here as at any other end, and the process ends at once,
// saying that the run failed. The program lock may be held, given away by a
// modal dialog or not held at all; stopping the work takes care of each.
void EndInterruptedRun() {
  if (!g_work_may_run.exchange(false)) return;
  StopWork();
  std::fflush(nullptr);
  std::_Exit(1);
}

}  // namespace

const std::vector<std::string>& StartupSteps() { return Steps(); }

int RunProgram(const StartupHooks& hooks) {
  // exit() calls what was registered last first: registered here, after the
  // program's statics (g_app among them) exist, it runs before any of them goes.
  static const bool hooked = std::atexit(EndInterruptedRun) == 0;
  g_work_may_run = hooked;
  const int status = Main(hooks);
  // Finalisers: the work stops, then the window and the application go.
  Steps().push_back("Finalizers");
  StopWork();
  g_work_may_run = false;
  MAGLYX::Destroy();
  g_app.reset();
  return status;
}
