// The list of serial ports: the installed source, the extra ports, the order
// and the scan of the kernel's tty class that the system's list comes from.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "framework/exceptions.h"
#include "framework/serial.h"
#include "framework/serial_ports.h"
#include "support/port_list.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Paths(const std::vector<fw::SerialPort>& ports) {
  std::vector<std::string> paths;
  for (const fw::SerialPort& port : ports) paths.push_back(port.Path);
  return paths;
}

TEST(PortList, CountAndAtAskTheInstalledSourceEachTime) {
  TestPorts ports;
  ports.Set({{"Meter A", "/dev/fake-a"}, {"Meter B", "/dev/fake-b"}});
  ASSERT_EQ(fw::System::SerialPortCount(), 2);
  EXPECT_EQ(fw::System::SerialPortAt(1).Name, "Meter B");
  EXPECT_EQ(fw::System::SerialPortAt(1).Path, "/dev/fake-b");
  for (int outside : {-1, 2})
    EXPECT_THROW(fw::System::SerialPortAt(outside), fw::OutOfBoundsException);
  ports.RemoveAt(0);
  ASSERT_EQ(fw::System::SerialPortCount(), 1);
  EXPECT_EQ(fw::System::SerialPortAt(0).Path, "/dev/fake-b");
}

TEST(PortList, ExtraPortsFollowTheSystemsInOrderWithoutEmptyItems) {
  unsetenv("MAGLYX_EXTRA_PORTS");
  const auto system = fw::MakeSystemPortSource();
  std::vector<std::string> want = Paths(system->List());
  setenv("MAGLYX_EXTRA_PORTS", ":/tmp/meter-sim-b::/dev/pts/77:/tmp/meter-sim-a:", 1);
  const std::vector<fw::SerialPort> ports = system->List();  // read anew each time
  unsetenv("MAGLYX_EXTRA_PORTS");

  want.insert(want.end(), {"/tmp/meter-sim-b", "/dev/pts/77", "/tmp/meter-sim-a"});
  EXPECT_EQ(Paths(ports), want);
  for (const fw::SerialPort& port : ports) EXPECT_EQ(port.Name, port.Path);
  for (const char* none : {static_cast<const char*>(nullptr), "", ":::"})
    EXPECT_TRUE(fw::detail::ExtraPorts(none).empty()) << (none ? none : "null");
}

TEST(PortList, NaturalOrderComparesDigitRunsAsNumbers) {
  std::istringstream names(
      "cu.usbserial-2 cu.usbserial-10 port99999999999999999999 port100000000000000000000 tty tty0 "
      "ttyACM0 ttyS0 ttyS2 ttyS02x ttyS10 ttyS10x ttyUSB2 ttyUSB10 ttyUSB100 ttyUSBa");
  const std::vector<std::string> sorted{std::istream_iterator<std::string>(names), {}};
  std::vector<std::string> shuffled = sorted;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  std::sort(shuffled.begin(), shuffled.end(), [](const std::string& a, const std::string& b) {
    return fw::detail::NaturalLess(a, b);
  });
  EXPECT_EQ(shuffled, sorted);
  EXPECT_FALSE(fw::detail::NaturalLess("ttyUSB1", "ttyUSB1"));
  // Equal values with different zeros are still told apart, one way only.
  EXPECT_NE(fw::detail::NaturalLess("ttyS01", "ttyS1"), fw::detail::NaturalLess("ttyS1", "ttyS01"));
}

TEST(PortList, TtyClassScanListsDevicesWithHardwareInNaturalOrder) {
  const fs::path root = testing::TempDir() + "maglyx-ports-" + std::to_string(getpid());
  const fs::path classDir = root / "class", devDir = root / "dev", hardware = root / "devices";
  fs::create_directories(hardware);
  fs::create_directories(devDir);
  // Name, backed by hardware, contents of the type file (none when empty), node in dev.
  const std::tuple<const char*, bool, const char*, bool> entries[] = {
      {"ttyS0", true, "0\n", true},    // placeholder UART: left out
      {"ttyS1", true, "4\n", true},    // a real 16550A
      {"ttyS3", true, "", true},       // no type to go by: kept
      {"ttyUSB10", true, "", true},    //
      {"ttyUSB2", true, "", true},     //
      {"ttyACM0", true, "", true},     //
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
  for (const char* name : {"ttyACM0", "ttyAMA0", "ttyS1", "ttyS3", "ttyUSB2", "ttyUSB10"})
    want.push_back((devDir / name).string());
  EXPECT_EQ(Paths(fw::detail::ScanTtyClass(classDir, devDir)), want);
  EXPECT_TRUE(fw::detail::ScanTtyClass(root / "missing", devDir).empty());
  fs::remove_all(root);
}

}  // namespace
