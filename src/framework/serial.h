#pragma once
// The serial line on POSIX termios, and the list of the system's serial ports.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/serial_line.h"

namespace fw {

struct SerialPort {
  std::string Name;  // as shown to the user
  std::string Path;  // the device to open
};

// The one serial connection. Line settings are fixed: 115200 baud, 8 data
// bits, no parity, 1 stop bit, no XON/XOFF, no CTS/RTS, DTR not raised.
//
// The line keeps its device drained all the time: a reader thread of its own
// appends every received byte to the line's buffer, and ReadAll takes what
// that buffer holds. The kernel keeps only about 4 KB for a terminal, so a
// 4096-byte page that nobody read for 600 ms would otherwise be cut short.
class Serial : public SerialLine {
 public:
  Serial();
  ~Serial() override;
  Serial(const Serial&) = delete;
  Serial& operator=(const Serial&) = delete;

  // The port that the next Open opens.
  void SetSerialPort(const SerialPort& port);

  // Opens the chosen port raw at the line settings, held exclusively; false
  // when it cannot be opened. Opening an open line closes it first.
  bool Open();
  void Close();
  // From a successful Open until Close, also after the device went away: a
  // vanished device reads nothing and takes no bytes, but only Close closes.
  bool IsOpen() const;
  // Open, but the device hung up or failed (an adapter pulled out): nothing
  // more will come from it until it is closed and opened again.
  bool IsGone() const;

  // Sends every byte (waiting out a full output buffer). Nothing on a closed
  // line or a vanished device.
  void Write(const std::string& bytes) override;
  // Every byte received and not yet read, at once; empty on a closed line.
  std::string ReadAll() override;
  std::uint64_t Connection() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Where the list of ports comes from; replaceable in tests.
class PortSource {
 public:
  virtual ~PortSource() = default;
  virtual std::vector<SerialPort> List() = 0;
};

// The system's serial devices in a stable order, followed by the devices
// named in MAGLYX_EXTRA_PORTS (colon-separated; a development aid for
// reaching the meter simulator).
std::unique_ptr<PortSource> MakeSystemPortSource();

// Installs a port source; returns the previous one. Null installs the system's.
std::unique_ptr<PortSource> SetPortSource(std::unique_ptr<PortSource> source);

// The framework's System object, as far as ports go.
struct System {
  static int SerialPortCount();
  // OutOfBoundsException for an index outside 0 .. count - 1.
  static SerialPort SerialPortAt(int index);
};

}  // namespace fw
