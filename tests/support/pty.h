#pragma once
// A bare pseudo-terminal for tests: the test holds the master side and plays
// whatever device it likes; the program opens the slave path.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

class Pty {
 public:
  Pty() {
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
  Pty(Pty&&) = delete;  // and so no copies either: one owner closes the descriptors

  const std::string& SlavePath() const { return slave_path_; }

  // Blocking, so a terminal takes the whole of it at once.
  void Send(const std::string& bytes) {
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("pty write failed");
  }

  // Reads what the program wrote, waiting up to `timeout` for the first byte
  // and then taking everything that follows within a short quiet gap.
  std::string Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    std::string got;
    char buffer[4096];
    pollfd p{master_, POLLIN, 0};
    for (ssize_t n; poll(&p, 1, got.empty() ? int(timeout.count()) : 100) > 0 &&
                    (p.revents & POLLIN) && (n = read(master_, buffer, sizeof buffer)) > 0;)
      got.append(buffer, n);
    return got;
  }

  // As if the device were unplugged (closing -1 again is harmless).
  void Close() {
    close(keep_slave_);
    close(master_);
    keep_slave_ = master_ = -1;
  }

 private:
  int master_ = posix_openpt(O_RDWR | O_NOCTTY);
  int keep_slave_ = -1;
  std::string slave_path_;
};
