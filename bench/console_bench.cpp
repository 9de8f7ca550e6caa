// The console's cost per received chunk must not grow with what it already
// holds: the same 512-byte append, and the repaint it causes, at 10 K and at
// 10 M characters of console text, in both views. Each case is held at its
// size: once the appends have grown the text by a twentieth, it is filled
// back to the size, outside the timing.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>

#include "../tests/support/window_seam.h"
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

// Empties the console as Clear does, then fills it to `chars` characters
// through the same path as the ticks, in large pieces.
void Fill(MAGLYX& window, std::size_t chars) {
  window.ClearButton_Action(window.ClearButton());
  const bool hex = window.HEXButton()->isChecked();
  std::string piece;
  while (piece.size() < 64 * 1024) piece += Chunk();
  for (std::size_t now = 0; now < chars; now = window.SerialText()->Length()) {
    // A byte is one character in ASCII, at least three in HEX.
    const std::size_t bytes = std::min(piece.size(), (chars - now) / (hex ? 3 : 1) + 1);
    WindowSeam::ShowReceived(window, piece.substr(0, bytes));
  }
  QApplication::processEvents();  // the fill's own repaint, not a tick's
}

void ConsoleTick(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  MAGLYX window;
  window.SerialTimer()->SetMode(fw::Timer::kModeOff);
  window.Timer100ms()->SetMode(fw::Timer::kModeOff);
  fw::ProgramLockHolder lock;
  window.HEXButton()->setChecked(state.range(1) != 0);
  Fill(window, size);
  const std::string chunk = Chunk();
  double chars = 0, refills = 0;
  for (auto _ : state) {
    chars += window.SerialText()->Length();
    WindowSeam::ShowReceived(window, chunk);
    QApplication::processEvents();  // the repaint a tick causes
    if (static_cast<std::size_t>(window.SerialText()->Length()) > size + size / 20) {
      state.PauseTiming();
      Fill(window, size);
      ++refills;
      state.ResumeTiming();
    }
  }
  // The console's mean size before an append: the size the case is labelled with.
  state.counters["console_chars"] = chars / static_cast<double>(state.iterations());
  state.counters["refills"] = refills;
}

BENCHMARK(ConsoleTick)
    ->ArgsProduct({{10 * 1000, 10 * 1000 * 1000}, {0, 1}})
    ->ArgNames({"chars", "hex"})
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
