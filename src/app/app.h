#pragma once
// The application object. It adds nothing to the framework's application; the
// rest of the program reaches it only to sleep the calling thread.

#include "framework/application.h"

class App : public fw::Application {
 public:
  // Names the program as people see it: message boxes and dialogs are titled
  // like the window, not after the executable.
  App();
  // The registered application object.
  static App& Instance();
};
