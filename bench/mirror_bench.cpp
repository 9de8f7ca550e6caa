// The live mirror's work per accepted capture: two new pictures and the
// decode of one display frame into both, with the capture's yields (nobody
// waiting, as while the window is idle). Target: under 1 ms.

#include <benchmark/benchmark.h>

#include "framework/picture.h"
#include "framework/thread.h"
#include "screen/lcd_page_image.h"

namespace {

void DecodeFrame(benchmark::State& state) {
  std::string image(kLcdPageImageBytes, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 37 + 11);
  for (auto _ : state) {
    const fw::Picture v = fw::NewPicture(kScreenVWidth, kScreenVHeight);
    const fw::Picture h = fw::NewPicture(kScreenHWidth, kScreenHHeight);
    DrawLcdPageImage(image, *v, *h, [] { fw::YieldToOthers(); });
    benchmark::DoNotOptimize(v->constBits());
  }
}
BENCHMARK(DecodeFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
