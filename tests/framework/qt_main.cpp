// main() for the framework tests that need a Qt application: an offscreen one
// unless the environment asks for another platform.

#include <gtest/gtest.h>

#include <QApplication>

#include "framework/thread.h"

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt's own dialogs, which a test can find and answer.
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  const int result = RUN_ALL_TESTS();
  fw::Thread::KillAndJoinAll();
  return result;
}
