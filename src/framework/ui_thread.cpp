#include <QCoreApplication>
#include <QThread>
#include <thread>

#include "framework/thread.h"

// Kept apart from thread.cpp so that the lock and the workers build without Qt.

namespace fw {
namespace {
// Initialised while the process loads, which happens on its main thread.
const std::thread::id g_main_thread = std::this_thread::get_id();
}  // namespace

bool IsUserInterfaceThread() {
  if (const QCoreApplication* app = QCoreApplication::instance())
    return QThread::currentThread() == app->thread();
  return std::this_thread::get_id() == g_main_thread;
}

}  // namespace fw
