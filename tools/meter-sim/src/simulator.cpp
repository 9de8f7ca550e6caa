#include "meter_sim/simulator.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#ifdef __APPLE__
#include <sys/select.h>
#else
#include <poll.h>
#endif

namespace meter_sim {
namespace {

constexpr std::size_t kMaxLogEntries = 100000;
// How long a write may stay blocked before the simulator decides nobody is
// reading the port and throws the unread bytes away, as a real line would.
constexpr auto kStuckWriteLimit = std::chrono::seconds(2);
// How long to wait for the host to take the last reply before closing the
// line on purpose.
constexpr auto kDrainBeforeClose = std::chrono::seconds(5);
constexpr int kPollMs = 20;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Waits until `fd` is readable (or writable). macOS poll() does not work on
// terminal devices, so select() is used there.
int WaitFd(int fd, bool for_write, int timeout_ms) {
#ifdef __APPLE__
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(fd + 1, for_write ? nullptr : &set, for_write ? &set : nullptr, nullptr, &tv);
#else
  pollfd p{fd, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
  return poll(&p, 1, timeout_ms);
#endif
}

template <typename T>
void PushCapped(std::deque<T>& log, T item) {
  log.push_back(std::move(item));
  if (log.size() > kMaxLogEntries) log.pop_front();
}

}  // namespace

std::vector<uint8_t> JunkBytes(std::size_t count) {
  std::vector<uint8_t> out(count);
  uint32_t x = 0x2545F491u;
  for (uint8_t& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)),
      meter_(std::move(options_.meter)),
      misbehaviour_(options_.misbehaviour),
      paced_(options_.paced),
      latency_ms_(options_.latency_ms) {}

Simulator::~Simulator() { Stop(); }

void Simulator::Start() {
  if (thread_.joinable() || master_fd_ >= 0) throw std::logic_error("simulator already started");

  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_fd_ < 0) ThrowErrno("posix_openpt");
  if (grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0) {
    const int err = errno;
    CloseFds();
    throw std::system_error(err, std::generic_category(), "grantpt/unlockpt");
  }
#ifdef __linux__
  char name[256];
  if (ptsname_r(master_fd_, name, sizeof name) != 0) {
    const int err = errno;
    CloseFds();
    throw std::system_error(err, std::generic_category(), "ptsname");
  }
  slave_path_ = name;
#else
  const char* name = ptsname(master_fd_);
  if (name == nullptr) {
    const int err = errno;
    CloseFds();
    throw std::system_error(err, std::generic_category(), "ptsname");
  }
  slave_path_ = name;
#endif
  (void)fcntl(master_fd_, F_SETFD, FD_CLOEXEC);

  // Holding the slave open keeps the line up while the host program closes
  // and reopens the port; without it the master reports a hang-up.
  slave_fd_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
  if (slave_fd_ < 0) {
    const int err = errno;
    CloseFds();
    throw std::system_error(err, std::generic_category(), "open " + slave_path_);
  }
  (void)fcntl(slave_fd_, F_SETFD, FD_CLOEXEC);

  // Raw mode, above all without echo: an echoing line discipline would hand
  // every reply straight back to the simulator as if the host had sent it.
  termios tio{};
  if (tcgetattr(slave_fd_, &tio) != 0) {
    const int err = errno;
    CloseFds();
    throw std::system_error(err, std::generic_category(), "tcgetattr");
  }
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(slave_fd_, TCSANOW, &tio) != 0) {
    const int err = errno;
    CloseFds();
    throw std::system_error(err, std::generic_category(), "tcsetattr");
  }

  const int flags = fcntl(master_fd_, F_GETFL);
  if (flags < 0 || fcntl(master_fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
    const int err = errno;
    CloseFds();
    throw std::system_error(err, std::generic_category(), "fcntl O_NONBLOCK");
  }

  if (!options_.link_path.empty()) {
    struct stat st {};
    if (lstat(options_.link_path.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        CloseFds();
        throw std::runtime_error(options_.link_path + " exists and is not a symbolic link");
      }
      unlink(options_.link_path.c_str());
    }
    if (symlink(slave_path_.c_str(), options_.link_path.c_str()) != 0) {
      const int err = errno;
      CloseFds();
      throw std::system_error(err, std::generic_category(), "symlink " + options_.link_path);
    }
    link_created_ = true;
  }

  start_ = SteadyClock::now();
  stop_ = false;
  running_ = true;
  thread_ = std::thread(&Simulator::Run, this);
}

void Simulator::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  CloseFds();
  RemoveLink();
  running_ = false;
  cv_.notify_all();
}

bool Simulator::WaitUntilStopped(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return !running_.load(); });
}

double Simulator::Seconds(SteadyClock::time_point t) const {
  if (start_ == SteadyClock::time_point{}) return 0.0;
  return std::chrono::duration<double>(t - start_).count();
}

double Simulator::Now() const { return Seconds(SteadyClock::now()); }

void Simulator::CloseFds() {
  if (master_fd_ >= 0) close(master_fd_);
  if (slave_fd_ >= 0) close(slave_fd_);
  master_fd_ = -1;
  slave_fd_ = -1;
}

void Simulator::RemoveLink() {
  if (!link_created_) return;
  struct stat st {};
  // Only remove it if it is still our link (someone may have replaced it).
  char target[512];
  const ssize_t n = readlink(options_.link_path.c_str(), target, sizeof target - 1);
  if (n >= 0 && lstat(options_.link_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    target[n] = '\0';
    if (slave_path_ == target) unlink(options_.link_path.c_str());
  }
  link_created_ = false;
}

bool Simulator::SleepUntil(SteadyClock::time_point when) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !cv_.wait_until(lock, when, [&] { return stop_.load(); });
}

void Simulator::Run() {
  FrameParser parser;
  std::vector<uint8_t> buf(4096);
  std::vector<Frame> frames;
  while (!stop_ && master_fd_ >= 0) {
    const int r = WaitFd(master_fd_, false, kPollMs);
    if (r <= 0) continue;  // timeout or EINTR: look at stop_ again
    const ssize_t n = read(master_fd_, buf.data(), buf.size());
    if (n > 0) {
      frames.clear();
      parser.Feed(std::span<const uint8_t>(buf.data(), static_cast<std::size_t>(n)), frames);
      for (const Frame& f : frames) {
        Process(f);
        if (stop_ || master_fd_ < 0) break;
      }
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      continue;
    } else {
      // EIO: no slave open. Cannot happen while we hold one, but never spin.
      SleepFor(std::chrono::milliseconds(kPollMs));
    }
  }
}

void Simulator::Process(const Frame& frame) {
  const double t = Now();
  FrameRecord rec;
  rec.time_s = t;
  rec.name = frame.name;
  rec.arg = frame.arg;
  rec.raw = frame.raw;
  rec.hex = ToHex(frame.raw);

  Misbehaviour m;
  bool paced = true;
  int latency = 0;
  bool applies = false;
  std::vector<uint8_t> reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    m = misbehaviour_;
    paced = paced_;
    latency = latency_ms_;
    applies = m.only_command.empty() || m.only_command == frame.name;
    if (applies && misbehaviour_.ignore_requests > 0) {
      --misbehaviour_.ignore_requests;
      rec.outcome = "ignored";
    } else {
      reply = meter_.Handle(frame, t);
      if (reply.empty()) {
        rec.outcome = "no reply";
      } else if (applies && m.silent) {
        rec.outcome = "silent";
        reply.clear();
      } else {
        rec.outcome = "reply";
      }
    }
    PushCapped(frames_, rec);
    ++frames_total_;
  }
  cv_.notify_all();
  if (options_.on_frame) options_.on_frame(rec);
  if (reply.empty()) return;

  ReplyRecord rr;
  rr.command = frame.name;
  rr.complete = SendReply(std::move(reply), m, applies, paced, latency, rr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    PushCapped(replies_, rr);
    ++replies_total_;
  }
  cv_.notify_all();
  if (options_.on_reply) options_.on_reply(rr);

  if (rr.complete && frame.name == "SPIR") {
    bool close_now = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (misbehaviour_.close_after_spir > 0) close_now = --misbehaviour_.close_after_spir == 0;
    }
    if (close_now) CloseLine();
  }
}

bool Simulator::SendReply(std::vector<uint8_t> reply, const Misbehaviour& m, bool applies,
                          bool paced, int latency_ms, ReplyRecord& record) {
  if (applies) {
    record.cut = std::min(m.cut_bytes, reply.size());
    reply.resize(reply.size() - record.cut);
    if (m.junk_bytes > 0) {
      const std::vector<uint8_t> junk = JunkBytes(m.junk_bytes);
      reply.insert(reply.begin(), junk.begin(), junk.end());
      record.junk = junk.size();
    }
  }
  const int delay_ms = std::max(0, latency_ms + (applies ? m.extra_delay_ms : 0));
  if (!SleepFor(std::chrono::milliseconds(delay_ms))) return false;

  const std::size_t piece =
      (applies && m.split_bytes > 0) ? m.split_bytes : std::max<std::size_t>(1, reply.size());
  const std::size_t chunk = std::max<std::size_t>(1, options_.chunk_bytes);
  const std::chrono::duration<double> byte_time(10.0 / std::max(1, options_.baud));

  std::size_t sent = 0;
  while (sent < reply.size()) {
    if (record.pieces > 0 && !SleepFor(std::chrono::milliseconds(std::max(0, m.split_pause_ms)))) {
      return false;
    }
    ++record.pieces;
    const std::size_t end = std::min(reply.size(), sent + piece);
    // Each piece is paced from its own start; every chunk goes out when its
    // last byte would have left the UART, so the rate does not drift.
    const SteadyClock::time_point t0 = SteadyClock::now();
    const std::size_t base = sent;
    while (sent < end) {
      const std::size_t chunk_end = paced ? std::min(end, sent + chunk) : end;
      if (paced) {
        const auto due =
            t0 + std::chrono::duration_cast<SteadyClock::duration>(byte_time * (chunk_end - base));
        if (!SleepUntil(due)) return false;
      }
      if (!WriteAll(std::span<const uint8_t>(reply).subspan(sent, chunk_end - sent))) return false;
      if (sent == 0) record.start_s = Now();
      sent = chunk_end;
      record.bytes = sent;
    }
  }
  record.end_s = Now();
  return true;
}

bool Simulator::WriteAll(std::span<const uint8_t> data) {
  std::size_t off = 0;
  SteadyClock::time_point stuck_since{};
  while (off < data.size()) {
    if (stop_ || master_fd_ < 0) return false;
    const ssize_t n = write(master_fd_, data.data() + off, data.size() - off);
    if (n > 0) {
      off += static_cast<std::size_t>(n);
      stuck_since = {};
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitFd(master_fd_, true, kPollMs);
      const auto now = SteadyClock::now();
      if (stuck_since == SteadyClock::time_point{}) {
        stuck_since = now;
      } else if (now - stuck_since > kStuckWriteLimit) {
        // Nobody has read the port for a while (it is probably closed). On a
        // real line those bytes would have been lost; drop them.
        tcflush(slave_fd_, TCIFLUSH);
        stuck_since = now;
      }
      continue;
    }
    return false;
  }
  return true;
}

void Simulator::CloseLine() {
  // Let the host take the last reply before the plug comes out: closing the
  // master hangs up the slave and throws away whatever it has not read.
  // Freshly written bytes take a moment to reach the slave's input queue, so
  // the queue has to be seen empty several times in a row.
  const auto deadline = SteadyClock::now() + kDrainBeforeClose;
  int empty_checks = 0;
  while (SteadyClock::now() < deadline && empty_checks < 3) {
    if (!SleepFor(std::chrono::milliseconds(20))) break;
    int pending = 0;
    if (ioctl(slave_fd_, FIONREAD, &pending) != 0) break;
    empty_checks = pending == 0 ? empty_checks + 1 : 0;
  }
  CloseFds();
  RemoveLink();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  cv_.notify_all();
  if (options_.on_line_closed) options_.on_line_closed();
}

void Simulator::SetMisbehaviour(const Misbehaviour& m) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_ = m;
}

Misbehaviour Simulator::GetMisbehaviour() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return misbehaviour_;
}

void Simulator::SetPaced(bool paced) {
  std::lock_guard<std::mutex> lock(mutex_);
  paced_ = paced;
}

void Simulator::SetLatency(int ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  latency_ms_ = ms;
}

void Simulator::SetOnlyCommand(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.only_command = name;
}

void Simulator::SetExtraDelay(int ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.extra_delay_ms = ms;
}

void Simulator::SetSplit(std::size_t bytes, int pause_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.split_bytes = bytes;
  misbehaviour_.split_pause_ms = pause_ms;
}

void Simulator::SetJunk(std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.junk_bytes = bytes;
}

void Simulator::SetCutShort(std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.cut_bytes = bytes;
}

void Simulator::IgnoreNext(int frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.ignore_requests = frames;
}

void Simulator::CloseAfterSpirReplies(int replies) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.close_after_spir = replies;
}

void Simulator::SetSilent(bool silent) {
  std::lock_guard<std::mutex> lock(mutex_);
  misbehaviour_.silent = silent;
}

MeterState Simulator::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return meter_.State();
}

void Simulator::PressKey(Key key) {
  std::lock_guard<std::mutex> lock(mutex_);
  ApplyKey(meter_.MutableState(), key, Now());
}

ScreenImage Simulator::Screen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return RenderDisplay(meter_.State(), Now());
}

const std::vector<uint8_t>& Simulator::Memory() const { return meter_.Memory(); }

std::vector<FrameRecord> Simulator::Frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {frames_.begin(), frames_.end()};
}

std::vector<ReplyRecord> Simulator::Replies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {replies_.begin(), replies_.end()};
}

void Simulator::ClearLogs() {
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.clear();
  replies_.clear();
  frames_total_ = 0;
  replies_total_ = 0;
}

bool Simulator::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return frames_total_ >= count; });
}

bool Simulator::WaitForReplies(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return replies_total_ >= count; });
}

}  // namespace meter_sim
