// The console's cost per received chunk must not grow with what it already
// holds: the same 512-byte append at 10 KB and at 10 MB of console text, in
// both views.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QRadioButton>

#include "framework/program_lock.h"
#include "mainwindow/maglyx.h"

namespace {

// A reply-like chunk: text lines for the ASCII view.
std::string Chunk() {
  std::string chunk;
  while (chunk.size() < 512) chunk += "MXR-420 EMF Meter V1.12 mG 12.3\r\n";
  chunk.resize(512);
  return chunk;
}

void Fill(MAGLYX& window, std::size_t bytes, bool hex) {
  window.SerialText()->SetText(QString());
  if (hex) window.HEXButton()->setChecked(true);
  const std::string chunk = Chunk();
  // Fill through the same path as the ticks, in large pieces.
  std::string big;
  while (big.size() < 64 * 1024) big += chunk;
  std::size_t filled = 0;
  while (filled < bytes) {
    window.ShowReceived(big);
    filled += big.size() * (hex ? 3 : 1);
  }
}

void ConsoleTick(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const bool hex = state.range(1) != 0;
  MAGLYX window;
  window.SerialTimer()->SetMode(fw::Timer::kModeOff);
  window.Timer100ms()->SetMode(fw::Timer::kModeOff);
  fw::ProgramLockHolder lock;
  Fill(window, size, hex);
  const std::string chunk = Chunk();
  for (auto _ : state) {
    window.ShowReceived(chunk);
    QApplication::processEvents();  // the repaint a tick causes
  }
  state.counters["console_chars"] = window.SerialText()->Length();
}

BENCHMARK(ConsoleTick)
    ->ArgsProduct({{10 * 1024, 10 * 1024 * 1024}, {0, 1}})
    ->ArgNames({"bytes", "hex"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
