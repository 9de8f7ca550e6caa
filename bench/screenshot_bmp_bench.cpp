// Composing the BMP file of a stored screenshot: 1024 display bytes into 393,270 file bytes.
// It runs on the user-interface thread between the download and the save dialog, so it
// should stay well under 1 ms.
#include <benchmark/benchmark.h>

#include <string>

#include "screen/screenshot_bmp.h"

namespace {

void BM_ComposeScreenshotBmp(benchmark::State& state) {
  std::string image(1024, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 37 + i / 128);
  for (auto _ : state) {
    std::string bmp = ComposeScreenshotBmp(image);
    benchmark::DoNotOptimize(bmp.data());
  }
}
BENCHMARK(BM_ComposeScreenshotBmp)->Unit(benchmark::kMicrosecond)->Repetitions(10);

}  // namespace

BENCHMARK_MAIN();
