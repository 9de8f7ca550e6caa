#include "framework/application.h"

#include <QMenuBar>
#include <atomic>

#include "framework/thread.h"

namespace fw {
namespace {
std::atomic<Application*> g_registered{nullptr};
int g_argc = 1;
char g_arg0[] = "maglyx";
char* g_argv[] = {g_arg0, nullptr};
}  // namespace

void Application::SetSupportsHiDPI(bool supported) {
  // Qt 6 always scales for high-resolution screens; what is left to choose is
  // whether fractional factors are kept. Keeping them draws the fixed-size
  // meter faces crisply on 150% desktops.
  QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
      supported ? Qt::HighDpiScaleFactorRoundingPolicy::PassThrough
                : Qt::HighDpiScaleFactorRoundingPolicy::Round);
}

Application::Application() {
  // The program takes no command-line arguments, so Qt gets none either.
  if (QApplication::instance() == nullptr) qt_ = std::make_unique<QApplication>(g_argc, g_argv);
}

Application::~Application() {
  Application* self = this;
  g_registered.compare_exchange_strong(self, nullptr);
}

std::string Application::VersionText() const {
  return std::to_string(version_.major) + "." + std::to_string(version_.minor) + "." +
         std::to_string(version_.bug);
}

void Application::SleepCurrentThread(int ms) const { fw::SleepCurrentThread(ms); }

void Quit(int exitCode) { QCoreApplication::exit(exitCode); }

void Application::Register(Application* app) { g_registered.store(app); }

Application* Application::Registered() { return g_registered.load(); }

int Application::Run() { return QApplication::exec(); }

}  // namespace fw
