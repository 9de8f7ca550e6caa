// The meter's side of the protocol with no I/O: a frame goes in, the reply
// bytes come out. The simulator wraps this with a pseudo-terminal and timing.
//
// Replies:
//   GETVER                 version text containing "EMF", ending "\r\n"
//   GETSERIAL, DSID        serial number / device id text, ending "\r\n"
//   FACTORYRESET, REBOOT   "OK\r\n"; the display goes back to its first view,
//                          normal zoom, no hold, default units, power on.
//                          Logging memory and stored screenshots are kept.
//   SPIR a2 a1 a0 l1 l0    l1*256+l0 bytes of logging memory from the 24-bit
//                          address; see ReadMemory() for wrap-around
//   GETSCREEN              1024-byte page image of the display + 0xAA
//   KEY0..3, KEYHOLD1..3   no reply; see Key in display.h
//   GETSSN d (d = 1..4)    yy mm dd hh mi ss + 0xAA of the stored screenshot
//                          in slot d, or FF FF FF FF FF FF AA if it is empty
//   GETSS d  (d = 1..4)    the stored 1025-byte screen frame of slot d; an
//                          empty slot answers a blank (all white) frame + 0xAA
//   anything else          no reply (also for slot digits outside 1..4)
// Commands are answered while the display is switched off too: the interface
// is powered from the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "meter_sim/display.h"
#include "meter_sim/frame_parser.h"
#include "meter_sim/logging_memory.h"

namespace meter_sim {

inline constexpr uint8_t kEndMarker = 0xAA;
inline constexpr std::size_t kScreenFrameBytes = kImageBytes + 1;
inline constexpr int kSlotCount = 4;
inline constexpr std::size_t kSlotInfoBytes = 7;

struct StoredScreen {
  DateTime when;
  ScreenImage image{};
};

using StoredScreens = std::array<std::optional<StoredScreen>, kSlotCount>;

struct MeterConfig {
  std::string version = "MXR-420 EMF Meter V1.12\r\n";
  std::string serial = "MX42017733\r\n";
  std::string device_id = "DS-5A3C-91F0\r\n";
  std::string reset_reply = "OK\r\n";
  // The 1 MiB logging memory. Empty means the default generated session;
  // other sizes are padded with 0xFF or cut to 1 MiB.
  std::vector<uint8_t> memory;
  StoredScreens slots;  // slot 1 is index 0
  MeterState state;     // display state at power-up
};

// Screenshots the meter holds in slots 1..count (count 0..4), taken on
// different days in different views; each image shows its own time of day.
StoredScreens DefaultStoredScreens(int count, uint64_t seed = 1);

// A default configuration: generated memory for `memory`, three stored
// screenshots, and info-screen fields matching.
MeterConfig DefaultMeterConfig(const MemoryOptions& memory = {});

// Image + end marker, as GETSCREEN and GETSS send it.
std::vector<uint8_t> ScreenFrame(const ScreenImage& image);

class Meter {
 public:
  explicit Meter(MeterConfig config);

  // The reply to `frame` received at meter time `seconds` (seconds since the
  // simulator started). Empty when the meter does not answer.
  std::vector<uint8_t> Handle(const Frame& frame, double seconds);

  // `length` bytes from `address`. The flash chip ignores address bits above
  // its size and, like a serial flash chip read, wraps from the last byte
  // back to address 0 when a read runs past the end.
  std::vector<uint8_t> ReadMemory(uint32_t address, std::size_t length) const;

  const MeterState& State() const { return config_.state; }
  MeterState& MutableState() { return config_.state; }
  const std::vector<uint8_t>& Memory() const { return config_.memory; }
  const StoredScreens& Slots() const { return config_.slots; }

 private:
  static std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }
  std::optional<int> SlotIndex(const Frame& frame) const;

  MeterConfig config_;
};

}  // namespace meter_sim
