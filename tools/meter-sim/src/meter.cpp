#include "meter_sim/meter.h"

#include <cmath>
#include <utility>

namespace meter_sim {

StoredScreens DefaultStoredScreens(int count, uint64_t seed) {
  struct Shot {
    DateTime when;
    View view;
    int zoom;
    double meter_time;
  };
  static const Shot kShots[kSlotCount] = {
      {{2026, 2, 3, 14, 5, 9}, View::kAll, 2, 412.0},
      {{2026, 2, 3, 14, 7, 41}, View::kMagnetic, 3, 564.5},
      {{2026, 2, 17, 9, 32, 15}, View::kGraph, 2, 1840.0},
      {{2026, 3, 1, 18, 20, 2}, View::kRf, 1, 97.0},
  };
  StoredScreens slots;
  for (int i = 0; i < kSlotCount && i < count; ++i) {
    const Shot& shot = kShots[i];
    MeterState state;
    state.seed = seed + static_cast<uint64_t>(i);
    state.view = shot.view;
    state.zoom = shot.zoom;
    // Set the clock so that the picture shows the time it was stored at.
    const int time_of_day = shot.when.hour * 3600 + shot.when.minute * 60 + shot.when.second;
    state.clock_start = time_of_day - static_cast<int>(std::floor(shot.meter_time));
    slots[i] = StoredScreen{shot.when, RenderDisplay(state, shot.meter_time)};
  }
  return slots;
}

MeterConfig DefaultMeterConfig(const MemoryOptions& memory) {
  MeterConfig config;
  config.memory = BuildLoggingMemory(memory);
  config.slots = DefaultStoredScreens(3, memory.seed);
  config.state.seed = memory.seed;
  config.state.log_pages = PagesInUse(config.memory);
  config.state.log_interval_s = memory.interval_s;
  return config;
}

std::vector<uint8_t> ScreenFrame(const ScreenImage& image) {
  std::vector<uint8_t> out(image.begin(), image.end());
  out.push_back(kEndMarker);
  return out;
}

Meter::Meter(MeterConfig config) : config_(std::move(config)) {
  if (config_.memory.empty()) config_.memory = BuildLoggingMemory({});
  config_.memory.resize(kMemoryBytes, kErased);
}

std::vector<uint8_t> Meter::ReadMemory(uint32_t address, std::size_t length) const {
  std::vector<uint8_t> out(length);
  std::size_t at = address % kMemoryBytes;
  for (std::size_t i = 0; i < length; ++i) {
    out[i] = config_.memory[at];
    at = (at + 1) % kMemoryBytes;
  }
  return out;
}

std::optional<int> Meter::SlotIndex(const Frame& frame) const {
  if (frame.arg.size() != 1) return std::nullopt;
  const int slot = frame.arg[0] - '0';
  if (slot < 1 || slot > kSlotCount) return std::nullopt;
  return slot - 1;
}

std::vector<uint8_t> Meter::Handle(const Frame& frame, double seconds) {
  const std::string& name = frame.name;
  // Everything but SPIR and the slot commands takes no argument.
  const bool plain = frame.arg.empty();

  if (name == "GETVER" && plain) return Text(config_.version);
  if (name == "GETSERIAL" && plain) return Text(config_.serial);
  if (name == "DSID" && plain) return Text(config_.device_id);
  if ((name == "FACTORYRESET" || name == "REBOOT") && plain) {
    ResetDisplay(config_.state);
    return Text(config_.reset_reply);
  }
  if (name == "GETSCREEN" && plain) return ScreenFrame(RenderDisplay(config_.state, seconds));
  if (name == "SPIR" && frame.arg.size() == kSpirArgBytes) {
    const uint32_t address =
        (uint32_t{frame.arg[0]} << 16) | (uint32_t{frame.arg[1]} << 8) | uint32_t{frame.arg[2]};
    const std::size_t length = (std::size_t{frame.arg[3]} << 8) | frame.arg[4];
    return ReadMemory(address, length);
  }
  if (name == "GETSSN") {
    const std::optional<int> slot = SlotIndex(frame);
    if (!slot) return {};
    const std::optional<StoredScreen>& s = config_.slots[*slot];
    if (!s) return {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kEndMarker};
    return {static_cast<uint8_t>(s->when.year % 100),
            static_cast<uint8_t>(s->when.month),
            static_cast<uint8_t>(s->when.day),
            static_cast<uint8_t>(s->when.hour),
            static_cast<uint8_t>(s->when.minute),
            static_cast<uint8_t>(s->when.second),
            kEndMarker};
  }
  if (name == "GETSS") {
    const std::optional<int> slot = SlotIndex(frame);
    if (!slot) return {};
    const std::optional<StoredScreen>& s = config_.slots[*slot];
    return ScreenFrame(s ? s->image : ScreenImage{});
  }
  if (plain) {
    if (const std::optional<Key> key = KeyFromCommand(name)) {
      ApplyKey(config_.state, *key, seconds);
      return {};
    }
  }
  return {};
}

}  // namespace meter_sim
