#pragma once
// The far end of a pseudo-terminal, standing in for the meter: the test holds
// the master side, the Serial under test opens the slave path.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

class PtyPeer {
 public:
  using Millis = std::chrono::milliseconds;

  PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) throw std::runtime_error("posix_openpt failed");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      ::close(master_);
      throw std::runtime_error("grantpt/unlockpt failed");
    }
#ifdef __linux__
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
      ::close(master_);
      throw std::runtime_error("ptsname_r failed");
    }
    slave_path_ = name;
#else
    const char* name = ::ptsname(master_);
    if (name == nullptr) {
      ::close(master_);
      throw std::runtime_error("ptsname failed");
    }
    slave_path_ = name;
#endif
    // Raw from the start, so nothing sent before the Serial opens is echoed
    // or translated.
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPeer() { Hangup(); }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return slave_path_; }
  int Master() const { return master_; }

  // Sends every byte, waiting while the other side's input is full. False
  // when that did not happen within the hang guard or the line failed.
  bool Send(std::string_view bytes, Millis guard = Millis(20000)) {
    const auto deadline = Clock::now() + guard;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
      if (Clock::now() >= deadline) return false;
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 10);
    }
    return true;
  }

  // Reads until `count` bytes came, the Serial's side is closed, or the hang
  // guard ran out; returns what came.
  std::string Receive(std::size_t count, Millis guard = Millis(20000)) {
    std::string got;
    const auto deadline = Clock::now() + guard;
    while (got.size() < count && Clock::now() < deadline) {
      if (!ReadSome(got, 10)) break;
    }
    return got;
  }

  // Reads until what came ends with `suffix`, or as Receive.
  std::string ReceiveThrough(std::string_view suffix, Millis guard = Millis(20000)) {
    std::string got;
    const auto deadline = Clock::now() + guard;
    while (!std::string_view(got).ends_with(suffix) && Clock::now() < deadline) {
      if (!ReadSome(got, 10)) break;
    }
    return got;
  }

  // Everything that arrives until nothing more has come for `quiet`.
  std::string ReceiveUntilQuiet(Millis quiet) {
    std::string got;
    auto last = Clock::now();
    while (Clock::now() - last < quiet) {
      const std::size_t before = got.size();
      if (!ReadSome(got, 10)) break;
      if (got.size() != before) last = Clock::now();
    }
    return got;
  }

  // Whether bytes wait to be read, within `wait`; reads none of them.
  bool Readable(Millis wait) const {
    pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(wait.count())) > 0 && (p.revents & POLLIN) != 0;
  }

  // As if the meter's cable were pulled.
  void Hangup() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  using Clock = std::chrono::steady_clock;

  // Appends what one wait of up to `waitMs` brings. False once the other side
  // is closed or the line failed.
  bool ReadSome(std::string& into, int waitMs) {
    char chunk[8192];
    const ssize_t n = ::read(master_, chunk, sizeof chunk);
    if (n > 0) {
      into.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0) return false;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    pollfd p{master_, POLLIN, 0};
    ::poll(&p, 1, waitMs);
    return true;
  }

  int master_ = -1;
  std::string slave_path_;
};
