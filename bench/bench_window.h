// The window as a user drives it, for the benchmarks that time whole transfers: offscreen,
// connected to a simulated meter found by its probe, with save dialogs answered by a scratch
// file and message boxes noted instead of shown.
#pragma once

#include <unistd.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <memory>

#include "app/app.h"
#include "framework/desktop.h"
#include "framework/serial.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"

class BenchDesktop : public fw::DesktopServices {
 public:
  explicit BenchDesktop(std::filesystem::path file) : file_(std::move(file)) {}
  void MsgBox(const std::string& text) override { message = text; }
  void Beep() override {}
  std::optional<fw::FolderItem> GetSaveFolderItem(const std::string&, const std::string&) override {
    return fw::FolderItem(file_);
  }
  std::string message;

 private:
  std::filesystem::path file_;
};

struct BenchWindow {
  // `suffix` names the scratch file ("csv", "bmp").
  BenchWindow(meter_sim::SimulatorOptions options, const char* suffix)
      : file(std::filesystem::temp_directory_path() /
             ("maglyx-bench-" + std::to_string(getpid()) + "." + suffix)),
        sim(std::move(options)) {
    fw::Application::Register(&app);
    auto services = std::make_unique<BenchDesktop>(file);
    desktop = services.get();
    fw::SetDesktopServices(std::move(services));
    sim.Start();
    setenv("MAGLYX_EXTRA_PORTS", sim.SlavePath().c_str(), 1);
    fw::SetPortSource(fw::MakeSystemPortSource());
    window = std::make_unique<MAGLYX>();
    window->RefreshPorts()->click();
    window->SerialPortsPopupMenu()->setCurrentIndex(window->SerialPortsPopupMenu()->count() - 1);
    window->ConnectButton()->click();
  }
  ~BenchWindow() {
    window.reset();
    std::filesystem::remove(file);
  }
  // Clicks `button` and waits for the closing message; seconds from the click, or -1.
  double Time(QPushButton* button) {
    desktop->message.clear();
    const auto start = std::chrono::steady_clock::now();
    button->click();
    if (!QTest::qWaitFor([&] { return !desktop->message.empty(); }, 3600 * 1000)) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  // Before the application object: no desktop is needed.
  bool offscreen =
      qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qputenv("QT_QPA_PLATFORM", "offscreen");
  App app;
  std::filesystem::path file;
  BenchDesktop* desktop = nullptr;
  meter_sim::Simulator sim;
  std::unique_ptr<MAGLYX> window;
};
