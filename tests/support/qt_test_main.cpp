// main() for the tests of windows and handlers: an offscreen Qt application
// with the program's application object registered, and desktop services that
// never open a real modal box.

#include <gtest/gtest.h>

#include "app/app.h"
#include "support/fake_desktop.h"

int main(int argc, char** argv) {
  // Set here as well as in the test environment: test discovery runs the
  // binary without it.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  App app;
  fw::Application::Register(&app);
  fw::SetDesktopServices(std::make_unique<FakeDesktop>());
  return RUN_ALL_TESTS();
}
