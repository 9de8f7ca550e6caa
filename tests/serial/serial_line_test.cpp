// The serial line against a pseudo-terminal whose master side plays the meter.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/serial.h"
#include "support/pty.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Every byte value once, then pseudo-random bytes: a dropped, doubled or
// swapped byte shows up as a difference.
std::string MixedBytes(std::size_t size, unsigned seed) {
  std::string bytes;
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < size; ++i)
    bytes.push_back(static_cast<char>(i < 256 ? i : random() & 0xFF));
  return bytes;
}

// Takes what the line delivers, with varying pauses, until `count` bytes came
// or the hang guard ran out.
std::string ReadUntil(fw::Serial& serial, std::size_t count) {
  std::string got;
  const auto deadline = Clock::now() + 60s;
  for (int round = 0; got.size() < count && Clock::now() < deadline; ++round) {
    got += serial.ReadAll();
    std::this_thread::sleep_for(std::chrono::microseconds(round % 4 * 2000));
  }
  return got;
}

// The terminal's own exclusive mode, which turns away programs that take no
// lock: 1 or 0, or -1 where the system does not tell.
int TerminalExclusiveMode(int fd) {
  int mode = -1;
#ifdef TIOCGEXCL
  if (ioctl(fd, TIOCGEXCL, &mode) != 0) mode = -1;
#endif
  return mode;
}

class SerialOnPty : public testing::Test {
 protected:
  void SetUp() override {
    // A view of the port of our own, taken before the line holds it.
    slave_ = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave_, 0);
    serial_.SetSerialPort({pty_.SlavePath(), pty_.SlavePath()});
  }
  void TearDown() override { close(slave_); }
  void Open() { ASSERT_TRUE(serial_.Open()) << pty_.SlavePath(); }

  Pty pty_;
  int slave_ = -1;
  fw::Serial serial_;  // after the pty: closed before the pty goes
};

TEST_F(SerialOnPty, OpenSetsRaw8N1At115200WithoutFlowControl) {
  // Wrong in every respect that matters, so that each check sees Open act.
  termios t{};
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  t.c_iflag |= IXON | IXOFF | ICRNL | INLCR | ISTRIP | BRKINT;
  t.c_oflag |= OPOST | ONLCR;
  t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  t.c_cflag = (t.c_cflag & ~(CSIZE | CLOCAL | CREAD)) | CS7 | PARENB | CSTOPB | CRTSCTS;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 5;
  cfsetspeed(&t, B9600);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &t), 0);

  Open();
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
            static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
}

TEST_F(SerialOnPty, BurstIsReadWholeByOneReadAllAfterAPause) {
  Open();
  const std::string page = MixedBytes(4096, 7);
  pty_.Send(page);
  std::this_thread::sleep_for(600ms);
  const std::string got = serial_.ReadAll();
  EXPECT_TRUE(got == page) << "got " << got.size() << " bytes, not all the same";
  EXPECT_EQ(serial_.ReadAll(), "");
}

TEST_F(SerialOnPty, LongStreamArrivesWithNothingLostOrReordered) {
  Open();
  const std::string data = MixedBytes(256 * 1024, 3);
  std::thread sender([&] {
    // Pieces of varying size, now at full speed, now paced.
    for (std::size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 7 % 4001) {
      pty_.Send(data.substr(at, piece));
      if (piece % 5 == 0) std::this_thread::sleep_for(300us);
    }
  });
  const std::string got = ReadUntil(serial_, data.size());
  sender.join();
  EXPECT_TRUE(got == data) << "got " << got.size() << " bytes, not all the same";
}

TEST_F(SerialOnPty, WriteSendsEveryByteUnchanged) {
  Open();
  std::vector<std::string> pieces = {MixedBytes(10 * 1024, 11)};
  for (unsigned size = 1; pieces.size() < 400; size = size % 97 + 1)
    pieces.push_back(MixedBytes(size, size));
  std::string all;
  for (const std::string& piece : pieces) all += piece;
  auto received = std::async(std::launch::async, [&] {
    std::string got;
    for (std::string more; got.size() < all.size() && !(more = pty_.Receive(10s)).empty();)
      got += more;
    return got;
  });
  for (const std::string& piece : pieces) serial_.Write(piece);
  const std::string got = received.get();
  EXPECT_TRUE(got == all) << "got " << got.size() << " bytes, not all the same";
}

TEST(SerialOpen, FailsOnMissingPathsAndOnWhatIsNoTerminal) {
  for (const std::string& path : {std::string(), std::string("/nonexistent/maglyx-port"),
                                  std::string("/dev/null"), testing::TempDir()}) {
    fw::Serial serial;
    serial.SetSerialPort({path, path});
    EXPECT_FALSE(serial.Open()) << "'" << path << "'";
    EXPECT_FALSE(serial.IsOpen()) << "'" << path << "'";
  }
}

TEST_F(SerialOnPty, OpenLineHoldsThePortExclusively) {
  Open();
  fw::Serial second;
  second.SetSerialPort(serial_.Port());
  EXPECT_FALSE(second.Open());
  EXPECT_FALSE(second.IsOpen());
  EXPECT_NE(TerminalExclusiveMode(slave_), 0);
  // The refused attempt leaves the holder's line working.
  pty_.Send("still ours");
  EXPECT_EQ(ReadUntil(serial_, 10), "still ours");
  serial_.Close();
  EXPECT_NE(TerminalExclusiveMode(slave_), 1);
  EXPECT_TRUE(second.Open()) << "a closed port is free again";
}

TEST_F(SerialOnPty, HangupReadsAsNothingAndCostsNoProcessorTime) {
  Open();
  pty_.Send("before");
  EXPECT_EQ(ReadUntil(serial_, 6), "before");
  EXPECT_FALSE(serial_.IsGone());
  pty_.Close();  // as if the meter were unplugged
  serial_.Write(MixedBytes(4096, 5));

  // A reader that kept polling the dead device would burn a core meanwhile.
  const std::clock_t before = std::clock();  // processor time of the whole process
  std::this_thread::sleep_for(1s);
  EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC / 4);
  EXPECT_EQ(serial_.ReadAll(), "");
  EXPECT_TRUE(serial_.IsOpen()) << "only Close closes";
  EXPECT_TRUE(serial_.IsGone()) << "the program must be able to tell the port was lost";
  serial_.Close();
  EXPECT_FALSE(serial_.IsGone());
}

TEST_F(SerialOnPty, ClosedLineIsHarmlessAndReopenStartsEmpty) {
  serial_.Write("lost");  // before Open: nowhere
  EXPECT_EQ(serial_.ReadAll(), "");
  serial_.Close();
  Open();
  for (const bool closeFirst : {true, false}) {
    SCOPED_TRACE(closeFirst ? "closed and opened" : "opened while open");
    pty_.Send("old");
    std::this_thread::sleep_for(300ms);
    if (closeFirst) {
      serial_.Close();
      EXPECT_FALSE(serial_.IsOpen());
      EXPECT_EQ(serial_.ReadAll(), "") << "what came belongs to the closed connection";
      serial_.Write("lost");
    }
    ASSERT_TRUE(serial_.Open());
    EXPECT_EQ(serial_.ReadAll(), "");
    pty_.Send("new");
    EXPECT_EQ(ReadUntil(serial_, 3), "new");
    serial_.Write("reply");
    EXPECT_EQ(pty_.Receive(10s), "reply");
  }
}

}  // namespace
