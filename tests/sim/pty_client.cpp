#include "pty_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace sim_test {

PtyClient::PtyClient(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    error_ = "open " + path + ": " + std::strerror(errno);
    return;
  }
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) {
    error_ = std::string("tcgetattr: ") + std::strerror(errno);
    Close();
    return;
  }
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
    error_ = std::string("tcsetattr: ") + std::strerror(errno);
    Close();
  }
}

PtyClient::~PtyClient() { Close(); }

void PtyClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void PtyClient::Write(std::span<const uint8_t> bytes) {
  std::size_t off = 0;
  while (fd_ >= 0 && off < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + off, bytes.size() - off);
    if (n > 0) {
      off += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, 100);
    } else {
      return;
    }
  }
}

void PtyClient::Write(const std::string& text) { Write(Bytes(text)); }

std::vector<uint8_t> PtyClient::ReadExactly(std::size_t count, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  uint8_t buf[4096];
  while (fd_ >= 0 && out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const std::size_t want = std::min(sizeof buf, count - out.size());
    const ssize_t n = read(fd_, buf, want);
    if (n > 0) {
      out.insert(out.end(), buf, buf + n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;  // hung up
    }
  }
  return out;
}

std::vector<uint8_t> PtyClient::ReadFor(std::chrono::milliseconds window) {
  return ReadExactly(SIZE_MAX, window);
}

bool PtyClient::WaitForHangup(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  uint8_t buf[4096];
  while (fd_ >= 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) < 0) return false;
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno == EIO)) return true;
  }
  return false;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string Text(std::span<const uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace sim_test
