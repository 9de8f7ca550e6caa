// The live mirror watched for a long while, as the user sees it: the window (offscreen) connected
// to the simulator paced like the real line, the mirror running, half the time on each face.
// After every repaint of the shown face, the glass as the screen holds it must be all display
// pixels, ink (0, 0, 0) or paper (200, 220, 255): never the empty glass or the face showing
// through, also while a new frame is being decoded.
//
// Usage: mirror_soak [seconds]   (600: five minutes a face)

#include <QCheckBox>
#include <QEvent>
#include <QScreen>
#include <cstdio>

#include "bench_window.h"

namespace {

// Counts the repaints of the face canvases and checks the glass after each.
struct GlassWatch : QObject {
  MAGLYX* window = nullptr;
  int repaints = 0, blank = 0;
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    // After the face's own paint handler has run.
    QMetaObject::invokeMethod(
        this, [this, object] { Check(object); }, Qt::QueuedConnection);
    return false;
  }
  void Check(QObject* face) {
    if (!window->ScreenV) return;  // no frame yet: the face alone is right
    const bool vertical = face == window->CScreenV();
    const QPoint at = window->centralWidget()->mapTo(
        window, vertical ? QPoint(43 + 36, 211 + 40) : QPoint(30 + 40, 211 + 36));
    const QImage shown =
        window->screen()
            ->grabWindow(window->winId(), at.x(), at.y(), vertical ? 64 : 128, vertical ? 128 : 64)
            .toImage();
    ++repaints;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x) {
        const QRgb p = shown.pixel(x, y) & 0xFFFFFF;
        if (p != 0 && p != 0xC8DCFF) {
          ++blank;
          return;
        }
      }
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 600;
  meter_sim::SimulatorOptions options;  // paced at 115200 baud
  BenchWindow bench(std::move(options), "unused");
  MAGLYX& window = *bench.window;
  GlassWatch watch;
  watch.window = &window;
  window.CScreenV()->installEventFilter(&watch);
  window.CScreenH()->installEventFilter(&watch);
  int frames = 0;
  fw::Picture last;
  for (const bool vertical : {true, false}) {
    window.bIsVerticalCheck()->setChecked(vertical);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds / 2);
    while (std::chrono::steady_clock::now() < end) {
      QTest::qWait(20);
      if (window.ScreenV != last) ++frames, last = window.ScreenV;
    }
    std::printf("%s face: %d repaints checked so far, %d frames captured, %d with blank glass\n",
                vertical ? "vertical" : "horizontal", watch.repaints, frames, watch.blank);
  }
  return watch.blank == 0 && watch.repaints > 0 ? 0 : 1;
}
