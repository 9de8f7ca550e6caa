// The meter simulator as other tests lean on it: the page layout of the
// logging memory that downloads stop on, and the faults that tests set, seen
// from the host side of a real pseudo-terminal under a generous safety timeout
// that is never a speed requirement.
#include <fcntl.h>
#include <poll.h>

#include <gtest/gtest.h>

#include <bit>

#include "meter_sim/simulator.h"

namespace meter_sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr std::chrono::milliseconds kSafetyTimeout = 15s;
// Listening this long shows that nothing comes: the simulator never sends
// unasked, so a slow machine cannot make such a check fail.
constexpr std::chrono::milliseconds kQuiet = 300ms;
// The slot information of an empty slot.
const Bytes kEmptySlot{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kEndMarker};

bool EndsErased(const Bytes& m, std::size_t end) {
  return m[end - 2] == kErased && m[end - 1] == kErased;
}

// What the downloads rely on: a time stamp first, no page before the last in
// use that ends as erased (a reader would stop there), and an erased tail.
TEST(GeneratedMemory, NoPageBeforeTheLastEndsErased) {
  const std::tuple<int, uint64_t, int> layouts[] = {{40, 1, 10}, {3, 7, 2}, {kPageCount, 5, 60}};
  for (const auto& [pages, seed, interval] : layouts) {
    SCOPED_TRACE(pages);
    const Bytes m = BuildLoggingMemory({.seed = seed, .pages = pages, .interval_s = interval});
    ASSERT_TRUE(m.size() == kMemoryBytes && m[0] == 0x55) << "1 MiB, opening with a time stamp";
    for (int p = 1; p < pages; ++p)
      ASSERT_FALSE(EndsErased(m, p * kPageBytes)) << "page " << p - 1 << " would end a download";
    const std::size_t end = pages * kPageBytes;
    EXPECT_TRUE(Bytes(m.begin() + end, m.end()) == Bytes(m.size() - end, kErased));
    EXPECT_EQ(PagesInUse(m), pages);
  }
}

TEST(MemoryWriter, ShiftsARecordThatWouldEndAPageInFFFF) {
  // E = 10.06 V/m is 0x4120FFFF: its low bytes are FF FF.
  const auto sample = EncodeSample(1.0, std::bit_cast<float>(0x4120FFFFu), 1.0f);
  for (std::size_t lead = kPageBytes - 12; lead <= kPageBytes - 4; lead += 2) {
    MemoryWriter w(2 * kPageBytes);
    ASSERT_TRUE(w.Append(Bytes(lead, 0x11)) && w.Append(sample));
    const auto& m = w.Image();
    // At an even offset, after zero padding, and the page does not end in FF FF.
    const std::size_t at = w.Offset() - sample.size();
    EXPECT_TRUE(at % 2 == 0 && Bytes(m.begin() + lead, m.begin() + at) == Bytes(at - lead, 0) &&
                std::equal(sample.begin(), sample.end(), m.begin() + at) &&
                !EndsErased(m, kPageBytes))
        << "lead " << lead;
  }
}

// A started simulator, unpaced and without latency, and the host's end of its
// line (raw already: the simulator set the line up).
struct SimLine {
  SimLine() {
    sim.Start();
    fd = open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  }
  ~SimLine() { close(fd); }
  // Frames are short: the terminal takes each at once.
  void Send(const Bytes& frame) {
    ASSERT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  }
  // Up to `count` bytes, waiting at most `wait` for each piece.
  Bytes Read(std::size_t count, std::chrono::milliseconds wait = kSafetyTimeout) {
    Bytes got(count);
    std::size_t size = 0;
    pollfd ready{fd, POLLIN, 0};
    while (size < count && poll(&ready, 1, static_cast<int>(wait.count())) > 0) {
      const ssize_t n = read(fd, got.data() + size, count - size);
      if (n <= 0) break;  // hung up
      size += static_cast<std::size_t>(n);
    }
    got.resize(size);
    return got;
  }

  static SimulatorOptions Quick() {
    SimulatorOptions options;
    options.paced = false;
    options.latency_ms = 0;
    return options;
  }

  Simulator sim{Quick()};
  int fd = -1;
};

// The faults that other tests set, each until cleared, asked for the slot
// information that a screenshot download asks first.
TEST(SimulatorLine, FaultsChangeWhatArrivesUntilCleared) {
  // What is set, whether it is answered, and how late at the earliest.
  const std::tuple<const char*, Misbehaviour, bool, std::chrono::milliseconds> faults[] = {
      {"late", {.only_command = {}, .extra_delay_ms = 600}, true, 600ms},
      {"silent", {.only_command = {}, .silent = true}, false, 0ms},
      {"other command only", {.only_command = "GETSS", .silent = true}, true, 0ms},
  };
  for (const auto& [name, set, answered, notBefore] : faults) {
    SCOPED_TRACE(name);
    SimLine line;
    line.sim.SetMisbehaviour(set);
    const auto sent = std::chrono::steady_clock::now();
    line.Send(MakeFrame("GETSSN4"));
    EXPECT_EQ(line.Read(kEmptySlot.size(), answered ? kSafetyTimeout : kQuiet),
              answered ? kEmptySlot : Bytes{});
    EXPECT_GE(std::chrono::steady_clock::now() - sent, notBefore);
    EXPECT_TRUE(line.Read(1, kQuiet).empty()) << "more than expected arrived";
    line.sim.ClearMisbehaviour();
    line.Send(MakeFrame("GETSSN4"));
    EXPECT_EQ(line.Read(kEmptySlot.size()), kEmptySlot);
  }
}

}  // namespace
}  // namespace meter_sim
