// The serial line against a pseudo-terminal whose master side plays the meter.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "framework/serial.h"
#include "pty_peer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Every byte value once, in order, then pseudo-random bytes: a dropped,
// doubled or swapped byte shows up as a difference.
std::string MixedBytes(std::size_t size, unsigned seed) {
  std::string bytes;
  bytes.reserve(size);
  for (int value = 0; value < 256 && bytes.size() < size; ++value) {
    bytes.push_back(static_cast<char>(value));
  }
  std::mt19937 random(seed);
  while (bytes.size() < size) bytes.push_back(static_cast<char>(random() & 0xFF));
  return bytes;
}

// Compares without printing kilobytes of binary on a failure.
testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  const std::size_t common = std::min(got.size(), want.size());
  std::size_t at = 0;
  while (at < common && got[at] == want[at]) ++at;
  if (at == common && got.size() == want.size()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                     << "; first difference at offset " << at;
}

// Takes what the line delivers, piece by piece with varying pauses, until
// `count` bytes came or the hang guard ran out.
std::string ReadUntil(fw::Serial& serial, std::size_t count,
                      std::chrono::milliseconds guard = 60s) {
  static constexpr std::chrono::microseconds kPauses[] = {0us, 200us, 2000us, 7000us};
  std::string got;
  const auto deadline = Clock::now() + guard;
  for (std::size_t round = 0; got.size() < count && Clock::now() < deadline; ++round) {
    got += serial.ReadAll();
    std::this_thread::sleep_for(kPauses[round % std::size(kPauses)]);
  }
  return got;
}

std::chrono::nanoseconds ProcessCpuTime() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

fw::SerialPort PortAt(const std::string& path) { return {path, path}; }

class SerialOnPty : public testing::Test {
 protected:
  void OpenSerial() {
    serial_.SetSerialPort(PortAt(peer_.SlavePath()));
    ASSERT_TRUE(serial_.Open()) << peer_.SlavePath();
  }

  // The peer sends `total` bytes in `chunk`-sized pieces, pausing `pace`
  // after each; the line must deliver them all, unchanged and in order.
  void StreamThrough(std::size_t total, std::size_t chunk, std::chrono::microseconds pace) {
    const std::string data = MixedBytes(total, static_cast<unsigned>(total + chunk));
    bool sent = true;
    std::thread sender([&] {
      for (std::size_t at = 0; at < data.size() && sent; at += chunk) {
        sent = peer_.Send(std::string_view(data).substr(at, chunk));
        if (pace > 0us) std::this_thread::sleep_for(pace);
      }
    });
    const std::string got = ReadUntil(serial_, data.size());
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(SameBytes(got, data));
  }

  PtyPeer peer_;
  fw::Serial serial_;  // after the peer: closed before the peer goes
};

TEST_F(SerialOnPty, OpenSetsRaw8N1At115200WithoutFlowControl) {
  // Start from settings that are wrong in every respect that matters, so each
  // check below sees Open change something.
  termios before{};
  ASSERT_EQ(tcgetattr(peer_.Master(), &before), 0);
  before.c_iflag |= IXON | IXOFF | ICRNL | INLCR | ISTRIP | BRKINT;
  before.c_oflag |= OPOST | ONLCR;
  before.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
  before.c_cflag &= ~(CLOCAL | CREAD);
  before.c_cc[VMIN] = 0;
  before.c_cc[VTIME] = 5;
  cfsetispeed(&before, B9600);
  cfsetospeed(&before, B9600);
  ASSERT_EQ(tcsetattr(peer_.Master(), TCSANOW, &before), 0);

  OpenSerial();
  EXPECT_TRUE(serial_.IsOpen());
  EXPECT_EQ(serial_.Port().Path, peer_.SlavePath());

  // On a pseudo-terminal the master reports the slave's settings.
  termios t{};
  ASSERT_EQ(tcgetattr(peer_.Master(), &t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST_F(SerialOnPty, BurstLargerThanTheKernelHoldsIsReadWholeAfterAPause) {
  OpenSerial();
  const std::string page = MixedBytes(4096, 7);
  ASSERT_TRUE(peer_.Send(page));
  std::this_thread::sleep_for(600ms);
  EXPECT_TRUE(SameBytes(serial_.ReadAll(), page));
  EXPECT_EQ(serial_.ReadAll(), "");
}

TEST_F(SerialOnPty, DeviceIsDrainedWhileNobodyReads) {
  OpenSerial();
  // Far more than the kernel holds for a pseudo-terminal: the peer gets it
  // all out only if the line keeps taking bytes on its own.
  const std::string flood = MixedBytes(512 * 1024, 9);
  ASSERT_TRUE(peer_.Send(flood)) << "the line stopped taking bytes";
  EXPECT_TRUE(SameBytes(ReadUntil(serial_, flood.size()), flood));
}

TEST_F(SerialOnPty, LongStreamAtFullSpeedArrivesUnchangedInOrder) {
  OpenSerial();
  StreamThrough(200 * 1024, 1000, 0us);
}

TEST_F(SerialOnPty, LongStreamPacedArrivesUnchangedInOrder) {
  OpenSerial();
  StreamThrough(200 * 1024, 512, 500us);
}

TEST_F(SerialOnPty, WriteSendsEveryByteUnchanged) {
  OpenSerial();
  const std::string data = MixedBytes(10 * 1024, 11);
  auto received = std::async(std::launch::async, [&] { return peer_.Receive(data.size()); });
  serial_.Write(data);
  EXPECT_TRUE(SameBytes(received.get(), data));

  // Many small writes keep their order and leave nothing out.
  std::string all;
  std::vector<std::string> pieces;
  for (std::size_t size = 1; all.size() < 20000; size = size % 97 + 1) {
    pieces.push_back(MixedBytes(size, static_cast<unsigned>(all.size())));
    all += pieces.back();
  }
  received = std::async(std::launch::async, [&] { return peer_.Receive(all.size()); });
  for (const std::string& piece : pieces) serial_.Write(piece);
  EXPECT_TRUE(SameBytes(received.get(), all));
}

TEST_F(SerialOnPty, BothDirectionsAtOnce) {
  OpenSerial();
  const std::string out = MixedBytes(100 * 1024, 21);
  const std::string in = MixedBytes(100 * 1024, 22);
  auto received = std::async(std::launch::async, [&] { return peer_.Receive(out.size()); });
  auto sent = std::async(std::launch::async, [&] { return peer_.Send(in); });
  std::thread writer([&] {
    for (std::size_t at = 0; at < out.size(); at += 3000) serial_.Write(out.substr(at, 3000));
  });
  const std::string got = ReadUntil(serial_, in.size());
  writer.join();
  EXPECT_TRUE(sent.get());
  EXPECT_TRUE(SameBytes(got, in));
  EXPECT_TRUE(SameBytes(received.get(), out));
}

TEST_F(SerialOnPty, StalledWriteGivesUpAndTheLineStaysUsable) {
  OpenSerial();
  // Nobody reads the peer's side, so the kernel soon takes no more.
  const std::string big = MixedBytes(1024 * 1024, 31);
  auto writing = std::async(std::launch::async, [&] { serial_.Write(big); });
  ASSERT_EQ(writing.wait_for(30s), std::future_status::ready) << "Write never gave up";

  const std::string tail = std::string("\xFF\x00\x13\x11 end", 8);
  auto received = std::async(std::launch::async, [&] { return peer_.ReceiveThrough(tail); });
  serial_.Write(tail);
  const std::string got = received.get();
  ASSERT_TRUE(std::string_view(got).ends_with(tail)) << got.size() << " bytes";
  const std::size_t sent = got.size() - tail.size();
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, big.size());
  EXPECT_TRUE(SameBytes(got.substr(0, sent), big.substr(0, sent)));
}

TEST_F(SerialOnPty, CloseCutsShortAWriteWaitingOnAFullDevice) {
  OpenSerial();
  const std::string big = MixedBytes(1024 * 1024, 41);
  auto writing = std::async(std::launch::async, [&] { serial_.Write(big); });
  ASSERT_TRUE(peer_.Readable(20s));
  std::this_thread::sleep_for(100ms);  // long enough to fill the kernel's buffers

  const auto start = Clock::now();
  serial_.Close();
  const auto took = Clock::now() - start;
  ASSERT_EQ(writing.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(serial_.IsOpen());
  // Well below the two seconds after which a stalled write gives up anyway.
  EXPECT_LT(took, 1500ms);
}

TEST(SerialClosed, WriteReadAllAndCloseAreHarmlessBeforeOpenAndAfterClose) {
  fw::Serial serial;
  EXPECT_FALSE(serial.IsOpen());
  serial.Write("before open");
  EXPECT_EQ(serial.ReadAll(), "");
  serial.Close();
  EXPECT_FALSE(serial.IsOpen());

  PtyPeer peer;
  serial.SetSerialPort(PortAt(peer.SlavePath()));
  ASSERT_TRUE(serial.Open());
  ASSERT_TRUE(peer.Send("unread"));
  std::this_thread::sleep_for(200ms);
  serial.Close();
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_EQ(serial.ReadAll(), "") << "what was received belongs to the closed connection";
  serial.Write("after close");
  EXPECT_EQ(peer.ReceiveUntilQuiet(200ms), "");
  serial.Close();
  EXPECT_FALSE(serial.IsOpen());
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = testing::TempDir() + "maglyx-serial-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(SerialOpen, FailsOnMissingPathsAndOnFilesThatAreNoTerminal) {
  TempDir dir;
  const std::filesystem::path file = dir.Path() / "not-a-port";
  std::ofstream(file) << "text";

  for (const std::string& path : {std::string(), (dir.Path() / "missing").string(), file.string(),
                                  std::string("/dev/null")}) {
    fw::Serial serial;
    serial.SetSerialPort(PortAt(path));
    EXPECT_FALSE(serial.Open()) << "'" << path << "'";
    EXPECT_FALSE(serial.IsOpen()) << "'" << path << "'";
    EXPECT_EQ(serial.ReadAll(), "");
  }
}

// Tries the slave as an unprivileged user would, in a child process: the
// errno of a failed open(), or 0 when it opened; -1 when the child could not
// drop its privileges.
int OpenAsNobody(const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) _exit(errno);
    close(fd);
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

TEST_F(SerialOnPty, HeldPortRefusesOtherOpensUntilClosed) {
  OpenSerial();
  fw::Serial second;
  second.SetSerialPort(PortAt(peer_.SlavePath()));
  EXPECT_FALSE(second.Open());
  EXPECT_FALSE(second.IsOpen());

  // The refused attempt leaves the holder's line working.
  ASSERT_TRUE(peer_.Send("still ours"));
  EXPECT_EQ(ReadUntil(serial_, 10, 20s), "still ours");

  // Root passes the terminal's own exclusivity; anyone else is turned away
  // by it, and let in again once the port is closed.
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(peer_.SlavePath().c_str(), 0666), 0);
    const int whileHeld = OpenAsNobody(peer_.SlavePath());
    if (whileHeld != -1) {
      EXPECT_EQ(whileHeld, EBUSY);
      serial_.Close();
      EXPECT_EQ(OpenAsNobody(peer_.SlavePath()), 0);
    }
  }

  serial_.Close();
  EXPECT_TRUE(second.Open()) << "a closed port is free again";
}

TEST_F(SerialOnPty, HangupLeavesALineThatReadsNothingAndCostsNothing) {
  OpenSerial();
  ASSERT_TRUE(peer_.Send("before"));
  EXPECT_EQ(ReadUntil(serial_, 6, 20s), "before");

  peer_.Hangup();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(serial_.ReadAll(), "");

  const auto start = Clock::now();
  serial_.Write(MixedBytes(4096, 51));
  // Well below the two seconds a merely stalled write would wait.
  EXPECT_LT(Clock::now() - start, 1500ms);

  // A reader that kept polling the hung-up device would burn a whole core.
  const auto cpuBefore = ProcessCpuTime();
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(ProcessCpuTime() - cpuBefore, 100ms);

  EXPECT_EQ(serial_.ReadAll(), "");
  EXPECT_TRUE(serial_.IsOpen()) << "only Close closes";
  serial_.Close();
  EXPECT_FALSE(serial_.IsOpen());
}

TEST_F(SerialOnPty, ReopenStartsEmptyAndWorks) {
  OpenSerial();
  ASSERT_TRUE(peer_.Send("old"));
  std::this_thread::sleep_for(300ms);
  serial_.Close();
  ASSERT_TRUE(serial_.Open());
  EXPECT_EQ(serial_.ReadAll(), "");
  ASSERT_TRUE(peer_.Send("new"));
  EXPECT_EQ(ReadUntil(serial_, 3, 20s), "new");

  // Opening an open line starts it over as well.
  ASSERT_TRUE(peer_.Send("older"));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(serial_.Open());
  EXPECT_TRUE(serial_.IsOpen());
  EXPECT_EQ(serial_.ReadAll(), "");
  auto received = std::async(std::launch::async, [&] { return peer_.Receive(5); });
  serial_.Write("reply");
  EXPECT_EQ(received.get(), "reply");
  ASSERT_TRUE(peer_.Send("newer"));
  EXPECT_EQ(ReadUntil(serial_, 5, 20s), "newer");
}

}  // namespace
