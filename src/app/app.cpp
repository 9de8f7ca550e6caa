#include "app/app.h"

#include "framework/exceptions.h"

App& App::Instance() {
  auto* app = dynamic_cast<App*>(fw::Application::Registered());
  if (app == nullptr) throw fw::NilObjectException("no application object is registered");
  return *app;
}
