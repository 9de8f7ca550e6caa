#include "app/app.h"

#include <QGuiApplication>

#include "framework/exceptions.h"

App::App() { QGuiApplication::setApplicationDisplayName(QStringLiteral("MAGLYX")); }

App& App::Instance() {
  auto* app = dynamic_cast<App*>(fw::Application::Registered());
  if (app == nullptr) throw fw::NilObjectException("no application object is registered");
  return *app;
}
