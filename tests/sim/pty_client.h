// The host side of a simulated line, as the program opens it: the slave
// device in raw mode, reads with poll() and a generous safety timeout.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim_test {

using namespace std::chrono_literals;

// Safety net for reads that must succeed; never a speed requirement.
inline constexpr std::chrono::milliseconds kSafetyTimeout = 15s;

class PtyClient {
 public:
  explicit PtyClient(const std::string& path);
  ~PtyClient();
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Error() const { return error_; }

  void Write(std::span<const uint8_t> bytes);
  void Write(const std::string& text);

  // Reads until `count` bytes arrived or `timeout` passed; returns what came.
  std::vector<uint8_t> ReadExactly(std::size_t count,
                                   std::chrono::milliseconds timeout = kSafetyTimeout);
  // Everything that arrives within `window` (used to show silence).
  std::vector<uint8_t> ReadFor(std::chrono::milliseconds window);
  // True once the line hangs up (read gives EOF or EIO) within `timeout`.
  bool WaitForHangup(std::chrono::milliseconds timeout = kSafetyTimeout);

  void Close();

 private:
  int fd_ = -1;
  std::string error_;
};

std::vector<uint8_t> Bytes(const std::string& text);
std::string Text(std::span<const uint8_t> bytes);

}  // namespace sim_test
