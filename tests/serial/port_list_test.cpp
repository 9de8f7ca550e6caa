// The list of serial ports: the installed source, the system source with its
// extra ports, and the scans and order it is built from.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/serial.h"
#include "framework/serial_ports.h"

namespace {

namespace fs = std::filesystem;
using fw::SerialPort;

std::vector<std::string> Paths(const std::vector<SerialPort>& ports) {
  std::vector<std::string> paths;
  for (const SerialPort& port : ports) paths.push_back(port.Path);
  return paths;
}

class FakeSource : public fw::PortSource {
 public:
  explicit FakeSource(std::shared_ptr<std::vector<SerialPort>> ports) : ports_(std::move(ports)) {}
  std::vector<SerialPort> List() override { return *ports_; }

 private:
  std::shared_ptr<std::vector<SerialPort>> ports_;
};

// Installs a source for one test and puts the previous one back.
class ScopedSource {
 public:
  explicit ScopedSource(std::unique_ptr<fw::PortSource> source)
      : previous_(fw::SetPortSource(std::move(source))) {}
  ~ScopedSource() { fw::SetPortSource(std::move(previous_)); }

 private:
  std::unique_ptr<fw::PortSource> previous_;
};

// Sets MAGLYX_EXTRA_PORTS for one test and restores it.
class ScopedExtraPorts {
 public:
  ScopedExtraPorts() {
    if (const char* value = getenv(kName)) saved_ = value;
  }
  ~ScopedExtraPorts() {
    if (saved_) {
      setenv(kName, saved_->c_str(), 1);
    } else {
      unsetenv(kName);
    }
  }
  void Set(const char* value) { setenv(kName, value, 1); }
  void Unset() { unsetenv(kName); }

 private:
  static constexpr const char* kName = "MAGLYX_EXTRA_PORTS";
  std::optional<std::string> saved_;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = testing::TempDir() + "maglyx-ports-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

void WriteFile(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

TEST(PortList, CountAndAtAskTheInstalledSourceEachTime) {
  auto ports = std::make_shared<std::vector<SerialPort>>(std::vector<SerialPort>{
      {"Meter A", "/dev/fake-a"}, {"Meter B", "/dev/fake-b"}, {"Meter C", "/dev/fake-c"}});
  ScopedSource scoped(std::make_unique<FakeSource>(ports));

  ASSERT_EQ(fw::System::SerialPortCount(), 3);
  for (int i = 0; i < 3; ++i) {
    const SerialPort port = fw::System::SerialPortAt(i);
    EXPECT_EQ(port.Name, (*ports)[i].Name);
    EXPECT_EQ(port.Path, (*ports)[i].Path);
  }
  EXPECT_THROW(fw::System::SerialPortAt(-1), fw::OutOfBoundsException);
  EXPECT_THROW(fw::System::SerialPortAt(3), fw::OutOfBoundsException);

  ports->pop_back();
  EXPECT_EQ(fw::System::SerialPortCount(), 2);
  EXPECT_THROW(fw::System::SerialPortAt(2), fw::OutOfBoundsException);
  ports->clear();
  EXPECT_EQ(fw::System::SerialPortCount(), 0);
  EXPECT_THROW(fw::System::SerialPortAt(0), fw::OutOfBoundsException);
}

TEST(PortList, SetPortSourceHandsBackThePreviousSource) {
  auto onePort = std::make_shared<std::vector<SerialPort>>(1, SerialPort{"one", "/dev/one"});
  auto first = std::make_unique<FakeSource>(onePort);
  const fw::PortSource* firstAddress = first.get();
  ScopedSource scoped(std::move(first));

  auto twoPorts = std::make_shared<std::vector<SerialPort>>(2, SerialPort{"two", "/dev/two"});
  std::unique_ptr<fw::PortSource> previous =
      fw::SetPortSource(std::make_unique<FakeSource>(twoPorts));
  EXPECT_EQ(previous.get(), firstAddress);
  EXPECT_EQ(fw::System::SerialPortCount(), 2);

  // No source at all means the system's own.
  previous = fw::SetPortSource(nullptr);
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(previous->List().size(), 2u);
  EXPECT_EQ(static_cast<std::size_t>(fw::System::SerialPortCount()),
            fw::MakeSystemPortSource()->List().size());
}

TEST(PortList, SystemSourceAppendsTheExtraPortsInOrder) {
  ScopedExtraPorts extra;
  extra.Unset();
  const std::unique_ptr<fw::PortSource> system = fw::MakeSystemPortSource();
  const std::vector<std::string> base = Paths(system->List());

  extra.Set(":/tmp/meter-sim-b::/dev/pts/77:/tmp/meter-sim-a:");
  std::vector<SerialPort> ports = system->List();
  std::vector<std::string> want = base;
  want.insert(want.end(), {"/tmp/meter-sim-b", "/dev/pts/77", "/tmp/meter-sim-a"});
  EXPECT_EQ(Paths(ports), want);
  for (const SerialPort& port : ports) EXPECT_EQ(port.Name, port.Path);

  // Read anew each time the list is taken, also through System.
  extra.Set("/tmp/meter-sim-c");
  ScopedSource scoped(fw::MakeSystemPortSource());
  const int count = fw::System::SerialPortCount();
  ASSERT_EQ(static_cast<std::size_t>(count), base.size() + 1);
  EXPECT_EQ(fw::System::SerialPortAt(count - 1).Path, "/tmp/meter-sim-c");
  EXPECT_EQ(fw::System::SerialPortAt(count - 1).Name, "/tmp/meter-sim-c");
}

TEST(PortList, ExtraPortsSplitAtColonsAndSkipEmptyItems) {
  EXPECT_TRUE(fw::detail::ExtraPorts(nullptr).empty());
  EXPECT_TRUE(fw::detail::ExtraPorts("").empty());
  EXPECT_TRUE(fw::detail::ExtraPorts(":::").empty());
  EXPECT_EQ(Paths(fw::detail::ExtraPorts("/dev/a")), std::vector<std::string>{"/dev/a"});
  EXPECT_EQ(Paths(fw::detail::ExtraPorts("/dev/b::/dev/a:")),
            (std::vector<std::string>{"/dev/b", "/dev/a"}));
}

TEST(NaturalOrder, DigitRunsCompareAsNumbers) {
  using fw::detail::NaturalLess;
  EXPECT_TRUE(NaturalLess("ttyUSB2", "ttyUSB10"));
  EXPECT_FALSE(NaturalLess("ttyUSB10", "ttyUSB2"));
  EXPECT_TRUE(NaturalLess("ttyS9", "ttyS10"));
  EXPECT_TRUE(NaturalLess("tty", "tty0"));
  EXPECT_TRUE(NaturalLess("ttyACM0", "ttyS0"));
  EXPECT_TRUE(NaturalLess("ttyS2", "ttyS02x")) << "value first, then what follows";
  EXPECT_TRUE(NaturalLess("port99999999999999999999", "port100000000000000000000"))
      << "numbers longer than any integer type";
  EXPECT_TRUE(NaturalLess("cu.usbserial-2", "cu.usbserial-10"));
  EXPECT_FALSE(NaturalLess("ttyUSB1", "ttyUSB1"));
  // Equal values with different zeros are still told apart, one way only.
  EXPECT_NE(NaturalLess("ttyS01", "ttyS1"), NaturalLess("ttyS1", "ttyS01"));
}

TEST(NaturalOrder, IsAStrictWeakOrderThatSortsPortsAsExpected) {
  const std::vector<std::string> sorted = {
      "/dev/ttyACM0", "/dev/ttyACM1",  "/dev/ttyS0",    "/dev/ttyS1",     "/dev/ttyS2",
      "/dev/ttyS10",  "/dev/ttyS010x", "/dev/ttyS10x",  "/dev/ttyUSB0",   "/dev/ttyUSB2",
      "/dev/ttyUSB9", "/dev/ttyUSB10", "/dev/ttyUSB11", "/dev/ttyUSB100", "/dev/ttyUSBa"};
  using fw::detail::NaturalLess;
  for (const auto& a : sorted) {
    EXPECT_FALSE(NaturalLess(a, a)) << a;
    for (const auto& b : sorted) {
      if (NaturalLess(a, b)) {
        EXPECT_FALSE(NaturalLess(b, a)) << a << " " << b;
      }
      for (const auto& c : sorted) {
        if (NaturalLess(a, b) && NaturalLess(b, c)) {
          EXPECT_TRUE(NaturalLess(a, c)) << a << " " << b << " " << c;
        }
      }
    }
  }
  std::vector<std::string> shuffled = sorted;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  std::sort(shuffled.begin(), shuffled.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  EXPECT_EQ(shuffled, sorted);
}

TEST(TtyClassScan, ListsDevicesWithHardwareInNaturalOrder) {
  TempDir root;
  const fs::path classDir = root.Path() / "class";
  const fs::path devDir = root.Path() / "dev";
  const fs::path hardware = root.Path() / "devices";
  fs::create_directories(hardware);
  fs::create_directories(devDir);

  // name, backed by a device, type file contents (empty: no file), node in dev
  struct Entry {
    std::string name;
    bool device;
    std::string type;
    bool node;
  };
  const std::vector<Entry> entries = {
      {"ttyS0", true, "0\n", true},    // placeholder UART: left out
      {"ttyS1", true, "4\n", true},    // a real 16550A
      {"ttyS3", true, "", true},       // no type to go by: kept
      {"ttyUSB10", true, "", true},    //
      {"ttyUSB2", true, "", true},     //
      {"ttyACM0", true, "", true},     //
      {"ttyUSB5", true, "", false},    // no node to open: left out
      {"tty0", false, "", true},       // virtual terminal: left out
      {"ptmx", false, "", true},       //
      {"ttyAMA0", true, "0\n", true},  // type 0 only marks legacy UARTs
  };
  for (const Entry& e : entries) {
    fs::create_directories(classDir / e.name);
    if (e.device) fs::create_directory_symlink(hardware, classDir / e.name / "device");
    if (!e.type.empty()) WriteFile(classDir / e.name / "type", e.type);
    if (e.node) WriteFile(devDir / e.name, "");
  }

  const std::vector<SerialPort> ports = fw::detail::ScanTtyClass(classDir, devDir);
  std::vector<std::string> want;
  for (const char* name : {"ttyACM0", "ttyAMA0", "ttyS1", "ttyS3", "ttyUSB2", "ttyUSB10"}) {
    want.push_back((devDir / name).string());
  }
  EXPECT_EQ(Paths(ports), want);
  for (const SerialPort& port : ports) EXPECT_EQ(port.Name, port.Path);

  EXPECT_TRUE(fw::detail::ScanTtyClass(root.Path() / "missing", devDir).empty());
}

TEST(CallOutScan, ListsOnlyCallOutDevicesInNaturalOrder) {
  TempDir dev;
  for (const char* name : {"cu.usbserial-10", "cu.usbserial-2", "tty.usbserial-2",
                           "cu.Bluetooth-Incoming-Port", "console", "ttys000"}) {
    WriteFile(dev.Path() / name, "");
  }
  std::vector<std::string> want;
  for (const char* name : {"cu.Bluetooth-Incoming-Port", "cu.usbserial-2", "cu.usbserial-10"}) {
    want.push_back((dev.Path() / name).string());
  }
  EXPECT_EQ(Paths(fw::detail::ScanCallOutDevices(dev.Path())), want);
  EXPECT_TRUE(fw::detail::ScanCallOutDevices(dev.Path() / "missing").empty());
}

}  // namespace
