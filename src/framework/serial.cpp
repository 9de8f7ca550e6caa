#include "framework/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>
#include <utility>

namespace fw {

namespace {

// A device that takes no byte for this long is gone or stuck; the write that
// waits on it gives up.
constexpr std::chrono::milliseconds kWriteStall{2000};

// Bytes taken from the device per read; a Linux terminal hands out at most a
// little under 4 KB at a time anyway.
constexpr std::size_t kReadChunk = 16384;

void CloseFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

// Closes a descriptor on every way out of Open that does not hand it on.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() { CloseFd(fd_); }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// One open connection: the device, the reader thread that drains it, and what
// that thread has received.
struct Line {
  int fd = -1;
  // Close writes a byte here; both the reader and a waiting Write watch the
  // other end, which stays readable from then on.
  int wake_read = -1;
  int wake_write = -1;
  std::thread reader;

  std::mutex buffer_mutex;
  std::string buffer;  // guarded by buffer_mutex

  // Set once the device hung up or failed; never cleared.
  std::atomic<bool> gone{false};
  // Numbers the openings of every line of the process: never 0, never reused.
  std::uint64_t connection = 0;

  // Held by a Write for its whole length and by Close while it releases the
  // device, so the descriptor is never closed under a Write.
  std::mutex write_mutex;
  bool closed = false;  // guarded by write_mutex

  ~Line() {
    CloseFd(fd);
    CloseFd(wake_read);
    CloseFd(wake_write);
  }
};

bool MakeWakePipe(int& readEnd, int& writeEnd) {
  int ends[2];
#ifdef __linux__
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
#else
  if (::pipe(ends) != 0) return false;
  for (int end : ends) {
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
    ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
  }
#endif
  readEnd = ends[0];
  writeEnd = ends[1];
  return true;
}

// Raw 8N1 at 115200 without any flow control; a read waits for one byte, and
// O_NONBLOCK turns that wait into EAGAIN so that "nothing yet" and "hung up"
// (0 or EIO) stay distinguishable.
bool ApplyLineSettings(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, B115200) != 0 || ::cfsetospeed(&t, B115200) != 0) return false;
  int result;
  do {
    result = ::tcsetattr(fd, TCSANOW, &t);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// The kernel raises DTR while opening; the meter must not see it raised, so it
// goes down again at once. Pseudo-terminals have no modem lines and refuse;
// that is no failure.
void ClearDtr(int fd) {
#if defined(TIOCMBIC) && defined(TIOCM_DTR)
  int bits = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &bits);
#else
  (void)fd;
#endif
}

// False only when someone else holds the device.
bool HoldExclusively(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno == EWOULDBLOCK) return false;
    // Further opens fail with EBUSY (for anyone but root).
#ifdef TIOCEXCL
  ::ioctl(fd, TIOCEXCL);
#endif
  return true;
}

bool IsHangupError(int error) {
  return error == EIO || error == ENXIO || error == EPIPE || error == ENODEV || error == EBADF;
}

// The reader thread: keeps the device drained into the line's buffer until
// Close wakes it or the device goes away. After a hangup poll would report the
// descriptor ready forever, so the thread ends there rather than watch it.
void ReadLoop(Line& line) {
  std::string chunk(kReadChunk, '\0');
  pollfd fds[2] = {{line.fd, POLLIN, 0}, {line.wake_read, POLLIN, 0}};
  for (;;) {
    fds[0].revents = 0;
    fds[1].revents = 0;
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      line.gone = true;
      return;
    }
    if (fds[1].revents != 0) return;  // closing
    const short events = fds[0].revents;
    if (events == 0) continue;
    if ((events & POLLNVAL) != 0) {
      line.gone = true;
      return;
    }
    // Whatever arrived before a hangup is still delivered.
    for (;;) {
      const ssize_t n = ::read(line.fd, chunk.data(), chunk.size());
      if (n > 0) {
        std::lock_guard lock(line.buffer_mutex);
        line.buffer.append(chunk.data(), static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // 0 or an error: hung up, unplugged or failed.
      line.gone = true;
      return;
    }
    if ((events & (POLLHUP | POLLERR)) != 0) {
      line.gone = true;
      return;
    }
  }
}

// Waits until the device takes bytes again. False when the write should stop:
// the line is closing, the device went away, or it took nothing for too long.
bool WaitWritable(Line& line) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kWriteStall;
  pollfd fds[2] = {{line.fd, POLLOUT, 0}, {line.wake_read, POLLIN, 0}};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    fds[0].revents = 0;
    fds[1].revents = 0;
    const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (ready < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    if (ready == 0) return false;
    if (fds[1].revents != 0) return false;
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      line.gone = true;
      return false;
    }
    if ((fds[0].revents & POLLOUT) != 0) return true;
  }
}

void WriteAll(Line& line, const std::string& bytes) {
  std::lock_guard lock(line.write_mutex);
  if (line.closed) return;
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (line.gone) return;
    const ssize_t n = ::write(line.fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (IsHangupError(errno)) line.gone = true;
      return;
    }
    if (!WaitWritable(line)) return;
  }
}

// Stops the reader, then takes the descriptor away from any Write.
void Shut(Line& line) {
  const char wake = 1;
  ssize_t n;
  do {
    n = ::write(line.wake_write, &wake, 1);
  } while (n < 0 && errno == EINTR);
  if (line.reader.joinable()) line.reader.join();
  std::lock_guard lock(line.write_mutex);
  line.closed = true;
  // A pseudo-terminal outlives its last close while its other side is open,
  // and would keep turning everyone else away.
#ifdef TIOCNXCL
  if (line.fd >= 0) ::ioctl(line.fd, TIOCNXCL);
#endif
  CloseFd(line.fd);
}

}  // namespace

struct Serial::Impl {
  // Held by Open and Close throughout, and briefly by the others to reach the line.
  mutable std::mutex mutex;
  SerialPort port;
  std::shared_ptr<Line> line;

  void CloseLocked() {
    if (!line) return;
    Shut(*line);
    line.reset();
  }
};

Serial::Serial() : impl_(std::make_unique<Impl>()) {}

Serial::~Serial() { Close(); }

void Serial::SetSerialPort(const SerialPort& port) {
  std::lock_guard lock(impl_->mutex);
  impl_->port = port;
}

bool Serial::Open() {
  std::lock_guard lock(impl_->mutex);
  impl_->CloseLocked();
  const std::string& path = impl_->port.Path;
  if (path.empty()) return false;

  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  FdGuard device(fd);
  if (::isatty(fd) != 1) return false;
  // Only once the device is ours may its lines and settings change.
  if (!HoldExclusively(fd)) return false;
  ClearDtr(fd);
  if (!ApplyLineSettings(fd)) return false;
  // Whatever waited in the kernel belongs to nobody's request.
  ::tcflush(fd, TCIFLUSH);

  auto line = std::make_shared<Line>();
  static std::atomic<std::uint64_t> openings{0};
  line->connection = ++openings;
  if (!MakeWakePipe(line->wake_read, line->wake_write)) return false;
  line->fd = device.Release();
  try {
    line->reader = std::thread(ReadLoop, std::ref(*line));
  } catch (const std::system_error&) {
    return false;  // the line's destructor closes everything
  }
  impl_->line = std::move(line);
  return true;
}

void Serial::Close() {
  std::lock_guard lock(impl_->mutex);
  impl_->CloseLocked();
}

bool Serial::IsOpen() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->line != nullptr;
}

bool Serial::IsGone() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->line != nullptr && impl_->line->gone;
}

void Serial::Write(const std::string& bytes) {
  if (bytes.empty()) return;
  std::shared_ptr<Line> line;
  {
    std::lock_guard lock(impl_->mutex);
    line = impl_->line;
  }
  if (line) WriteAll(*line, bytes);
}

std::uint64_t Serial::Connection() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->line && !impl_->line->gone ? impl_->line->connection : 0;
}

std::string Serial::ReadAll() {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->line) return {};
  Line& line = *impl_->line;
  std::string taken;
  {
    std::lock_guard bufferLock(line.buffer_mutex);
    taken.swap(line.buffer);
  }
  return taken;
}

}  // namespace fw
