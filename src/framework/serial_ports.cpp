#include "framework/serial_ports.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <system_error>
#include <utility>

#include "framework/exceptions.h"

namespace fw {

namespace detail {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Compares two runs of digits by value, of any length: -1, 0 or 1.
int CompareNumbers(std::string_view a, std::string_view b) {
  const auto significant = [](std::string_view s) {
    const std::size_t first = s.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view{} : s.substr(first);
  };
  const std::string_view x = significant(a);
  const std::string_view y = significant(b);
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  const int c = x.compare(y);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string FirstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  return end == std::string::npos ? std::string{} : text.substr(0, end + 1);
}

std::vector<SerialPort> SortedPorts(std::vector<std::string> names,
                                    const std::filesystem::path& devDir) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  std::vector<SerialPort> ports;
  ports.reserve(names.size());
  for (const std::string& name : names) {
    const std::string path = (devDir / name).string();
    ports.push_back({path, path});
  }
  return ports;
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      std::size_t ie = i;
      while (ie < a.size() && IsDigit(a[ie])) ++ie;
      std::size_t je = j;
      while (je < b.size() && IsDigit(b[je])) ++je;
      const int c = CompareNumbers(a.substr(i, ie - i), b.substr(j, je - j));
      if (c != 0) return c < 0;
      i = ie;
      j = je;
      continue;
    }
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[j]);
    if (x != y) return x < y;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  // Equal by value (differing only in leading zeros): plain order decides.
  return a < b;
}

std::vector<SerialPort> ScanTtyClass(const std::filesystem::path& classDir,
                                     const std::filesystem::path& devDir) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(classDir, error), end; !error && it != end; it.increment(error)) {
    const fs::path entry = it->path();
    const std::string name = entry.filename().string();
    std::error_code ignored;
    // Virtual terminals, ptys and the like have no device behind them.
    if (!fs::exists(fs::symlink_status(entry / "device", ignored))) continue;
    // The legacy UART driver lists its placeholder ports whether or not
    // hardware exists; those have the unknown port type 0.
    if (name.starts_with("ttyS") && FirstLine(entry / "type") == "0") continue;
    if (!fs::exists(devDir / name, ignored)) continue;
    names.push_back(name);
  }
  return SortedPorts(std::move(names), devDir);
}

std::vector<SerialPort> ScanCallOutDevices(const std::filesystem::path& devDir) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(devDir, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.starts_with("cu.")) names.push_back(std::move(name));
  }
  return SortedPorts(std::move(names), devDir);
}

std::vector<SerialPort> ExtraPorts(const char* value) {
  std::vector<SerialPort> ports;
  if (value == nullptr) return ports;
  const std::string_view text(value);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(':', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) {
      const std::string path(text.substr(start, end - start));
      ports.push_back({path, path});
    }
    start = end + 1;
  }
  return ports;
}

}  // namespace detail

namespace {

class SystemPortSource : public PortSource {
 public:
  std::vector<SerialPort> List() override {
#if defined(__linux__)
    std::vector<SerialPort> ports = detail::ScanTtyClass("/sys/class/tty", "/dev");
#elif defined(__APPLE__)
    std::vector<SerialPort> ports = detail::ScanCallOutDevices("/dev");
#else
    std::vector<SerialPort> ports;
#endif
    for (SerialPort& extra : detail::ExtraPorts(std::getenv("MAGLYX_EXTRA_PORTS"))) {
      ports.push_back(std::move(extra));
    }
    return ports;
  }
};

std::mutex& SourceMutex() {
  static std::mutex mutex;
  return mutex;
}

// Guarded by SourceMutex. Filled on first use.
std::unique_ptr<PortSource>& InstalledSource() {
  static std::unique_ptr<PortSource> source;
  if (!source) source = MakeSystemPortSource();
  return source;
}

// Listing under the lock keeps the source alive while it is asked.
std::vector<SerialPort> CurrentPorts() {
  std::lock_guard lock(SourceMutex());
  return InstalledSource()->List();
}

}  // namespace

std::unique_ptr<PortSource> MakeSystemPortSource() { return std::make_unique<SystemPortSource>(); }

std::unique_ptr<PortSource> SetPortSource(std::unique_ptr<PortSource> source) {
  if (!source) source = MakeSystemPortSource();
  std::lock_guard lock(SourceMutex());
  std::swap(InstalledSource(), source);
  return source;
}

int System::SerialPortCount() {
  const std::size_t count = CurrentPorts().size();
  return static_cast<int>(std::min<std::size_t>(count, INT_MAX));
}

SerialPort System::SerialPortAt(int index) {
  std::vector<SerialPort> ports = CurrentPorts();
  if (index < 0 || static_cast<std::size_t>(index) >= ports.size()) {
    throw OutOfBoundsException("SerialPortAt: index " + std::to_string(index) + " outside 0 .. " +
                               std::to_string(static_cast<long long>(ports.size()) - 1));
  }
  return std::move(ports[static_cast<std::size_t>(index)]);
}

}  // namespace fw
