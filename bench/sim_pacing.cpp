// Pacing of the meter simulator: a paced reply must take as long as it would
// on a 115200 baud 8N1 line (10 bits a byte, 11,520 bytes/s), e.g. 355.6 ms
// for a 4096-byte memory page and 89.0 ms for a 1025-byte screen.
//
// Each iteration sends one request over the pseudo-terminal and times the
// reply from the request to its last byte (manual time). The counters show
// the achieved byte rate and its deviation from the line rate; the deviation
// should stay within a few percent (latency and scheduling add a little).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "meter_sim/simulator.h"

namespace {

constexpr double kLineBytesPerSecond = 115200.0 / 10.0;

class Port {
 public:
  explicit Port(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Port() { close(fd_); }

  void Write(const std::vector<uint8_t>& bytes) {
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("short write");
    }
  }

  std::size_t Read(std::size_t count) {
    std::size_t got = 0;
    uint8_t buf[4096];
    while (got < count) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) break;
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    return got;
  }

 private:
  int fd_ = -1;
};

void TimeReplies(benchmark::State& state, const std::vector<uint8_t>& request, std::size_t reply,
                 int latency_ms) {
  meter_sim::SimulatorOptions options;
  options.paced = true;
  options.latency_ms = latency_ms;
  meter_sim::Simulator sim(std::move(options));
  sim.Start();
  Port port(sim.SlavePath());
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    port.Write(request);
    if (port.Read(reply) != reply) {
      state.SkipWithError("reply incomplete");
      break;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  const double expected_s = reply / kLineBytesPerSecond + latency_ms / 1000.0;
  state.counters["line_rate_Bps"] = kLineBytesPerSecond;
  state.counters["expected_ms"] = expected_s * 1000.0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply));
}

void BM_PacedMemoryPage(benchmark::State& state) {
  TimeReplies(state, meter_sim::MakeSpirFrame(0, 0x1000), 4096, 0);
}
BENCHMARK(BM_PacedMemoryPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_PacedScreen(benchmark::State& state) {
  TimeReplies(state, meter_sim::MakeFrame("GETSCREEN"), meter_sim::kScreenFrameBytes, 5);
}
BENCHMARK(BM_PacedScreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
