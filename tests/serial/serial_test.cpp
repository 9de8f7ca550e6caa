// The serial line against a pseudo-terminal whose master side plays the meter,
// and the list of serial ports: the extra ports, the order and the scan of the
// kernel's tty class that the system's list comes from.

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "framework/serial_ports.h"
#include "support/pty.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Every byte value once, then pseudo-random bytes: a dropped, doubled or
// swapped byte shows up as a difference.
std::string MixedBytes(std::size_t size, unsigned seed) {
  std::string bytes;
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i < 256 ? i : random()));
  return bytes;
}

// Takes what the line delivers, with varying pauses, until `count` bytes came
// or the hang guard (60 s of pauses at least) ran out.
std::string ReadUntil(fw::Serial& serial, std::size_t count) {
  std::string got;
  for (int round = 0; got.size() < count && round < 20000; ++round) {
    got += serial.ReadAll();
    std::this_thread::sleep_for(round % 4 * 2ms);
  }
  return got;
}

class SerialOnPty : public testing::Test {
 protected:
  void SetUp() override {
    // A view of the port of our own, taken before the line holds it.
    slave_ = open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave_, 0);
    serial_.SetSerialPort({pty_.SlavePath(), pty_.SlavePath()});
    ASSERT_TRUE(serial_.Open()) << pty_.SlavePath();
  }
  void TearDown() override { close(slave_); }

  Pty pty_;
  int slave_ = -1;
  fw::Serial serial_;  // after the pty: closed before the pty goes
};

TEST_F(SerialOnPty, OpenSetsRaw8N1At115200WithoutFlowControl) {
  // Wrong in every respect that matters, so that each check sees Open act.
  serial_.Close();
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

  ASSERT_TRUE(serial_.Open());
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  EXPECT_EQ(
      std::tuple(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
                 t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK),
                 t.c_oflag & OPOST, t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN),
                 t.c_cc[VMIN], t.c_cc[VTIME], cfgetispeed(&t), cfgetospeed(&t)),
      std::tuple(tcflag_t{CS8 | CLOCAL | CREAD}, 0u, 0u, 0u, cc_t{1}, cc_t{0}, speed_t{B115200},
                 speed_t{B115200}));
}

TEST_F(SerialOnPty, NoByteIsLostBetweenReads) {
  // A page nobody reads for a while is more than the terminal itself keeps.
  const std::string page = MixedBytes(4096, 7);
  pty_.Send(page);
  std::this_thread::sleep_for(600ms);
  EXPECT_TRUE(serial_.ReadAll() == page && serial_.ReadAll().empty()) << "not the page at once";

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

TEST_F(SerialOnPty, OpenFailsOnMissingPathsWhatIsNoTerminalAndAPortAnotherLineHolds) {
  int mode = -1;  // the terminal's own exclusive mode, which turns away programs that take no lock
  ioctl(slave_, TIOCGEXCL, &mode);
  EXPECT_NE(mode, 0);
  fw::Serial second;
  // The held port last: `second` stays set to it.
  const std::string paths[] = {"", "/nonexistent/maglyx-port", "/dev/null", "/tmp",
                               pty_.SlavePath()};
  for (const std::string& path : paths) {
    second.SetSerialPort({path, path});
    EXPECT_FALSE(second.Open() || second.IsOpen()) << "'" << path << "'";
  }
  pty_.Send("still ours");  // the refused attempt leaves the holder's line working
  EXPECT_EQ(ReadUntil(serial_, 10), "still ours");
  serial_.Close();
  EXPECT_TRUE(second.Open()) << "a closed port is free again";
}

TEST_F(SerialOnPty, HangupReadsAsNothingAndCostsNoProcessorTime) {
  pty_.Close();  // as if the meter were unplugged
  // A reader that kept polling the dead device would burn a core meanwhile.
  const std::clock_t before = std::clock();  // processor time of the whole process
  std::this_thread::sleep_for(1s);
  EXPECT_LT(std::clock() - before, CLOCKS_PER_SEC / 4);
  // Only Close closes, and the line notices the loss by itself, with nothing written to it.
  for (int round = 0; round < 1000 && !serial_.IsGone(); ++round) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(std::tuple(serial_.ReadAll(), serial_.IsOpen(), serial_.IsGone()),
            std::tuple("", true, true));
  serial_.Close();
  EXPECT_FALSE(serial_.IsGone());
}

TEST_F(SerialOnPty, ClosedLineIsHarmlessAndReopenStartsEmpty) {
  pty_.Send("old");
  std::this_thread::sleep_for(300ms);
  serial_.Close();
  // What came belongs to the closed connection.
  EXPECT_EQ(std::pair(serial_.IsOpen(), serial_.ReadAll()), std::pair(false, std::string()));
  serial_.Write("lost");
  ASSERT_TRUE(serial_.Open());
  pty_.Send("new");  // read alone: what came before the open is gone
  EXPECT_EQ(ReadUntil(serial_, 3), "new");
  serial_.Write("reply");
  EXPECT_EQ(pty_.Receive(10s), "reply");
}

// The paths of the ports; a port is named by its path.
std::vector<std::string> Paths(const std::vector<fw::SerialPort>& ports) {
  std::vector<std::string> paths;
  for (const auto& port : ports)
    paths.push_back(port.Name == port.Path ? port.Path : "named " + port.Name);
  return paths;
}

TEST(PortList, ExtraPortsFollowTheSystemsInOrderWithoutEmptyItems) {
  unsetenv("MAGLYX_EXTRA_PORTS");
  const auto system = fw::MakeSystemPortSource();
  std::vector<std::string> want = Paths(system->List());
  setenv("MAGLYX_EXTRA_PORTS", ":/tmp/meter-sim-b::/dev/pts/77:/tmp/meter-sim-a:", 1);
  const std::vector<std::string> got = Paths(system->List());  // read anew each time
  unsetenv("MAGLYX_EXTRA_PORTS");
  want.insert(want.end(), {"/tmp/meter-sim-b", "/dev/pts/77", "/tmp/meter-sim-a"});
  EXPECT_EQ(got, want);
}

TEST(PortList, NaturalOrderComparesDigitRunsAsNumbers) {
  std::istringstream names(
      "cu.usbserial-2 cu.usbserial-10 port99999999999999999999 port100000000000000000000 tty tty0 "
      "ttyACM0 ttyS0 ttyS2 ttyS02x ttyS10 ttyS10x ttyUSB2 ttyUSB10 ttyUSB100 ttyUSBa");
  const std::vector<std::string> sorted{std::istream_iterator<std::string>(names), {}};
  std::vector<std::string> shuffled = sorted;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  std::sort(shuffled.begin(), shuffled.end(), fw::detail::NaturalLess);
  EXPECT_EQ(shuffled, sorted);
  // Equal values with different zeros are still told apart, one way only.
  EXPECT_TRUE(!fw::detail::NaturalLess("ttyUSB1", "ttyUSB1") &&
              fw::detail::NaturalLess("ttyS01", "ttyS1") !=
                  fw::detail::NaturalLess("ttyS1", "ttyS01"));
}

TEST(PortList, TtyClassScanListsDevicesWithHardwareInNaturalOrder) {
  const fs::path root = testing::TempDir() + "maglyx-ports-" + std::to_string(getpid());
  const fs::path classDir = root / "class", devDir = root / "dev", hardware = root / "devices";
  for (const fs::path& dir : {hardware, devDir}) fs::create_directories(dir);
  // Name, backed by hardware, contents of the type file (none when empty), node in dev.
  const std::tuple<const char*, bool, const char*, bool> entries[] = {
      {"ttyS0", true, "0\n", true},    // placeholder UART: left out
      {"ttyS1", true, "4\n", true},    // a real 16550A
      {"ttyS3", true, "", true},       // no type to go by: kept
      {"ttyUSB10", true, "", true},    //
      {"ttyUSB2", true, "", true},     //
      {"ttyUSB5", true, "", false},    // no node to open: left out
      {"tty0", false, "", true},       // virtual terminal: left out
      {"ttyAMA0", true, "0\n", true},  // type 0 only marks legacy UARTs
  };
  for (const auto& [name, device, type, node] : entries) {
    fs::create_directories(classDir / name);
    if (device) fs::create_directory_symlink(hardware, classDir / name / "device");
    if (*type) std::ofstream(classDir / name / "type") << type;
    if (node) std::ofstream(devDir / name) << "";
  }
  std::vector<std::string> want;
  for (const char* name : {"ttyAMA0", "ttyS1", "ttyS3", "ttyUSB2", "ttyUSB10"})
    want.push_back((devDir / name).string());
  EXPECT_EQ(Paths(fw::detail::ScanTtyClass(classDir, devDir)), want);
  EXPECT_TRUE(fw::detail::ScanTtyClass(root / "missing", devDir).empty());
  fs::remove_all(root);
}

}  // namespace
