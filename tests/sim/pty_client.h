// The host side of a simulated line: the slave device (already raw), read with
// poll() under a generous safety timeout that is never a speed requirement.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "meter_sim/simulator.h"

namespace sim_test {

using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kSafetyTimeout = 15s;
// Listening this long shows that nothing comes: the simulator never sends
// unasked, so a slow machine cannot make such a check fail.
inline constexpr std::chrono::milliseconds kQuiet = 300ms;

inline std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class PtyClient {
 public:
  explicit PtyClient(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}  // raw: the simulator set it
  ~PtyClient() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool IsOpen() const { return fd_ >= 0; }
  bool HungUp() const { return hung_up_; }

  void Write(const std::vector<uint8_t>& bytes) {
    for (std::size_t off = 0; fd_ >= 0 && off < bytes.size();) {
      const ssize_t n = write(fd_, bytes.data() + off, bytes.size() - off);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      off += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    }
  }

  // Reads until `count` bytes came, the line hung up or `timeout` passed.
  std::vector<uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout = kSafetyTimeout) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t buf[4096];
    while (fd_ >= 0 && out.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) {
        out.insert(out.end(), buf, buf + n);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        hung_up_ = true;
        break;
      }
    }
    return out;
  }
  std::vector<uint8_t> ReadAll(std::chrono::milliseconds w = kQuiet) { return Read(SIZE_MAX, w); }

 private:
  int fd_;
  bool hung_up_ = false;
};

// A started simulator, unpaced and without latency, with a client on its line.
struct SimLine {
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& frame, std::size_t reply_bytes) {
    client.Write(frame);
    return client.Read(reply_bytes);
  }
  std::vector<uint8_t> Slice(uint32_t address, std::size_t length) const {
    const auto& m = sim.Memory();
    return {m.begin() + address, m.begin() + address + static_cast<std::ptrdiff_t>(length)};
  }

  meter_sim::Simulator sim{[] {
    meter_sim::SimulatorOptions o;
    o.paced = false;
    o.latency_ms = 0;
    return o;
  }()};
  PtyClient client{(sim.Start(), sim.SlavePath())};  // started before the client opens
};

}  // namespace sim_test
