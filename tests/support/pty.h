#pragma once
// A bare pseudo-terminal for tests: the test holds the master side and plays
// whatever device it likes; the program opens the slave path.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    slave_path_ = ptsname(master_);
    // Raw, so that nothing is echoed or translated on the way.
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    // Holding a slave open keeps the master from seeing a hang-up while the
    // program closes and reopens the port.
    keep_slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
  }
  ~Pty() { Close(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& SlavePath() const { return slave_path_; }

  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      if (n < 0) throw std::runtime_error("pty write failed");
    }
  }

  // Reads what the program wrote, waiting up to `timeout` for the first byte
  // and then taking everything that follows within a short quiet gap.
  std::string Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    std::string got;
    int wait = static_cast<int>(timeout.count());
    for (;;) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN)) return got;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return got;
      got.append(buffer, static_cast<std::size_t>(n));
      wait = 100;
    }
  }

  // As if the device were unplugged.
  void Close() {
    if (keep_slave_ >= 0) close(keep_slave_);
    if (master_ >= 0) close(master_);
    keep_slave_ = master_ = -1;
  }

 private:
  int master_ = -1;
  int keep_slave_ = -1;
  std::string slave_path_;
};
