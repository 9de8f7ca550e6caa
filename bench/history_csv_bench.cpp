// Exporting a full history: a 1 MiB memory densely packed with stamp + sample records, turned
// into CSV. The export should stay well under 50 ms.
//
// HistoryCsvToFile times what the download's worker does after the last page: every piece
// written into a real file through the framework's text stream, a yield per record step, and
// the Close that flushes it. Left out: making the file (before the timing, as the start makes it
// before the worker runs); the disk itself (the page cache takes the data, nothing waits for a
// sync); and other threads: nobody waits for the program lock here, so each yield is its check
// alone, while in the program a timer tick that falls in the export takes its turn at a yield.
// HistoryCsvTextOnly times the CSV text alone, collected in a string, without file or yields.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/files.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "history/history_csv.h"

namespace {

constexpr std::size_t kImageSize = 1048576;

void PutFloat(std::vector<std::uint8_t>& image, std::size_t at, float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::vector<std::uint8_t> DenseImage() {
  std::vector<std::uint8_t> image(kImageSize, 0);
  std::size_t at = 0;
  unsigned n = 0;
  while (at + 20 <= kImageSize) {
    const std::uint8_t stamp[] = {0x55,
                                  0xAA,
                                  static_cast<std::uint8_t>(24 + n % 3),
                                  static_cast<std::uint8_t>(1 + n % 12),
                                  static_cast<std::uint8_t>(1 + n % 28),
                                  static_cast<std::uint8_t>(n % 24),
                                  static_cast<std::uint8_t>(n % 60),
                                  static_cast<std::uint8_t>((n * 7) % 60)};
    for (std::uint8_t b : stamp) image[at++] = b;
    const unsigned field = (n * 37) % 0x10000;
    image[at++] = 0xAA;
    image[at++] = 0x55;
    image[at++] = static_cast<std::uint8_t>(field >> 8);
    image[at++] = static_cast<std::uint8_t>(field);
    PutFloat(image, at, 0.1f * static_cast<float>(n % 5000));
    at += 4;
    PutFloat(image, at, 123.456f * static_cast<float>(n % 100000));
    at += 4;
    ++n;
  }
  return image;
}

void HistoryCsvToFile(benchmark::State& state) {
  const std::vector<std::uint8_t> image = DenseImage();
  const fw::FolderItem file(std::filesystem::temp_directory_path() /
                            ("maglyx-csv-bench-" + std::to_string(getpid()) + ".csv"));
  fw::ProgramLockHolder lock;  // held by the worker while it writes
  for (auto _ : state) {
    state.PauseTiming();
    if (file.Exists()) file.Delete();
    std::unique_ptr<fw::TextOutputStream> stream = fw::TextOutputStream::Create(file);
    state.ResumeTiming();
    WriteHistoryCsv(
        image, image.size(), [&](std::string_view piece) { stream->Write(piece); },
        [] { fw::YieldToOthers(); });
    stream->Close();
  }
  state.counters["csv_bytes"] = static_cast<double>(std::filesystem::file_size(file.Path()));
  file.Delete();
}
BENCHMARK(HistoryCsvToFile)->Unit(benchmark::kMillisecond);

void HistoryCsvTextOnly(benchmark::State& state) {
  const std::vector<std::uint8_t> image = DenseImage();
  std::string csv;
  for (auto _ : state) {
    csv.clear();
    WriteHistoryCsv(image, image.size(), [&](std::string_view piece) { csv += piece; }, {});
    benchmark::DoNotOptimize(csv.data());
  }
  state.counters["csv_bytes"] = static_cast<double>(csv.size());
}
BENCHMARK(HistoryCsvTextOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
