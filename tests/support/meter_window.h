#pragma once
// The window connected to the simulated meter on a pseudo-terminal, with the fake desktop; and
// what the tests read back from disk or make the disk do.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "framework/program_lock.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "support/disk_full.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs `code` under the program lock, as the framework runs a handler.
template <class Code>
auto Locked(Code&& code) {
  fw::ProgramLockHolder lock;
  return code();
}

// A started meter with `pages` pages of history (and three stored screenshots), paced like the
// real line or answering at once, 5 ms after a request.
inline std::unique_ptr<meter_sim::Simulator> StartMeter(int pages = 3, bool paced = false,
                                                        bool hold = false) {
  meter_sim::MemoryOptions memory;
  memory.pages = pages;
  meter_sim::SimulatorOptions options;
  options.meter = meter_sim::DefaultMeterConfig(memory);
  options.meter.state.hold = hold;
  options.paced = paced;
  auto sim = std::make_unique<meter_sim::Simulator>(std::move(options));
  sim->Start();
  return sim;
}

class MeterWindow : public testing::Test {
 protected:
  MeterWindow() { fs::create_directories(dir); }
  void TearDown() override {
    window.reset();
    fw::SetSleepSpeedup(1);
    fs::remove_all(dir);
  }
  // Found in the port list by its answer to the probe. The mirror's captures stay off unless
  // `mirror`: each drains the line and could swallow a reply a test waits for.
  void Connect(std::unique_ptr<meter_sim::Simulator> meter, bool mirror = false) {
    if (window->ConnectButton()->text() == "Disconnect") window->ConnectButton()->click();
    sim = std::move(meter);
    ports.Set({{"meter", sim->SlavePath()}});
    window->RefreshPorts()->click();
    ASSERT_EQ(window->SerialPortsPopupMenu()->currentText(), "MXR-420 EMF Meter V1.12\r\n");
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
    if (!mirror) Locked([&] { window->GSTimer()->SetMode(fw::Timer::kModeOff); });
    desktop->Clear();
  }
  // Reads window state as the program's own code would: under its lock.
  template <class F>
  bool WaitUntil(F condition, int ms = 20000) {
    return QTest::qWaitFor([&] { return Locked(condition); }, ms);
  }
  int Frames(const std::string& name) {
    return std::ranges::count(sim->Frames(), name, &meter_sim::FrameRecord::name);
  }

  // For the files a test writes; gone after it.
  const fs::path dir = fs::temp_directory_path() / ("maglyx-test-" + std::to_string(getpid()));
  FakeDesktopScope desktop;
  TestPorts ports;
  std::unique_ptr<meter_sim::Simulator> sim;
  std::unique_ptr<MAGLYX> window = std::make_unique<MAGLYX>();
};
