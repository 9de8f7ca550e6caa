// A full history download (256 pages) against the simulator paced like the
// real line, through the window as a user starts it. Every page costs at
// least its 600 ms wait, so the floor is 256 x 600 ms = 153.6 s; the target
// is to stay within 2% of it. Takes about three minutes.
//
// A meter that answers late, or loses a request now and then, must still give
// the exact file, only more slowly.
//
// Usage: history_download_bench [pages [latency_ms [lose_every_s]]]
//   (defaults 256, 5, 0 = never)

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "app/app.h"
#include "framework/desktop.h"
#include "history/history_csv.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"

namespace {

// Answers the save dialog with a scratch file and notes the closing message.
class ScriptedDesktop : public fw::DesktopServices {
 public:
  explicit ScriptedDesktop(std::filesystem::path file) : file_(std::move(file)) {}
  void MsgBox(const std::string& text) override { message = text; }
  void Beep() override {}
  std::optional<fw::FolderItem> GetSaveFolderItem(const std::string&, const std::string&) override {
    return fw::FolderItem(file_);
  }
  std::string message;

 private:
  std::filesystem::path file_;
};

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 256;
  const int latency = argc > 2 ? std::atoi(argv[2]) : 5;
  const int loseEvery = argc > 3 ? std::atoi(argv[3]) : 0;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  App app;
  fw::Application::Register(&app);
  const auto csv = std::filesystem::temp_directory_path() /
                   ("maglyx-download-bench-" + std::to_string(getpid()) + ".csv");
  auto desktop = std::make_unique<ScriptedDesktop>(csv);
  ScriptedDesktop* scripted = desktop.get();
  fw::SetDesktopServices(std::move(desktop));

  meter_sim::MemoryOptions memory;
  memory.pages = pages;
  meter_sim::SimulatorOptions options;  // paced at 115200 baud
  options.meter = meter_sim::DefaultMeterConfig(memory);
  meter_sim::Simulator sim(options);
  sim.Start();
  setenv("MAGLYX_EXTRA_PORTS", sim.SlavePath().c_str(), 1);
  fw::SetPortSource(fw::MakeSystemPortSource());

  MAGLYX window;
  window.RefreshPorts()->click();
  window.SerialPortsPopupMenu()->setCurrentIndex(window.SerialPortsPopupMenu()->count() - 1);
  window.ConnectButton()->click();
  const int expectedPages = meter_sim::PagesInUse(sim.Memory());
  sim.SetLatency(latency);  // after the port probe, whose version request it would hold up

  std::atomic<bool> done{false};
  std::thread loser([&] {
    for (int ms = 0; loseEvery > 0 && !done; ms += 100) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (ms > 0 && ms % (loseEvery * 1000) == 0) sim.IgnoreNext(1);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  window.DHButton()->click();
  if (!QTest::qWaitFor([&] { return !scripted->message.empty(); }, 3600 * 1000)) {
    std::printf("the download did not finish\n");
    return 1;
  }
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  done = true;
  loser.join();
  // The file against the decoder's output for the pages the message reports.
  std::ifstream in(csv, std::ios::binary);
  std::stringstream got;
  got << in.rdbuf();
  std::size_t kb = 0;
  const auto at = scripted->message.find_first_of("0123456789");
  if (at != std::string::npos) kb = std::stoul(scripted->message.substr(at));
  const std::size_t length = (kb * 1000 + 4095) / 4096 * 4096;
  std::vector<std::uint8_t> image(sim.Memory().begin(), sim.Memory().begin() + length);
  image.resize(1048576, 0);
  std::string expected;
  WriteHistoryCsv(image, length, [&](std::string_view t) { expected += t; }, {});
  std::printf("file: %s of %zu pages\n", got.str() == expected ? "exact" : "WRONG", length / 4096);
  const double floor = expectedPages * 0.6;

  std::printf("latency: %d ms, losing a request every %d s\n", latency, loseEvery);
  std::printf("pages: %d\nmessage: %s\ntook: %.2f s\nfloor (pages x 600 ms): %.2f s\n",
              expectedPages, scripted->message.c_str(), took, floor);
  std::printf("over the floor: %.2f%% (target: at most 2%%)\n", 100.0 * (took - floor) / floor);
  std::filesystem::remove(csv);
  return 0;
}
