#pragma once
// The application object. It adds nothing to the framework's application; the
// rest of the program reaches it only to sleep the calling thread.

#include "framework/application.h"

class App : public fw::Application {
 public:
  App() = default;
  // The registered application object.
  static App& Instance();
};
