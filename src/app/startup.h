#pragma once
// Process start-up and shutdown, in their fixed order: high-resolution support
// on; the application object made with its version and menu bar, and
// registered; the framework initialised; the main window made once and shown;
// the event loop; then the finalisers and the exit status.

#include <functional>
#include <string>
#include <vector>

// Points where tests look in; the program passes none.
struct StartupHooks {
  std::function<void()> afterAppInstance;  // right after the application object is registered
  std::function<void()> afterLateStartup;  // once the main window exists and shows
};

int RunProgram(const StartupHooks& hooks = {});

// The start-up steps taken so far in this process, in order.
const std::vector<std::string>& StartupSteps();
