// The meter simulator as other tests lean on it: the logging memory, decoded
// here from the record layout alone; and the meter seen from the
// host side of a real pseudo-terminal, read under a generous safety timeout
// that is never a speed requirement. The LCD page layout is checked where it
// matters: the mirror's own decoding against worked pixels, and the face
// against this display end to end.
#include <fcntl.h>

#include <gtest/gtest.h>

#include <bit>

#include "meter_sim/simulator.h"

namespace meter_sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr std::size_t kPage = 4096;
constexpr std::chrono::milliseconds kSafetyTimeout = 15s;
// Listening this long shows that nothing comes: the simulator never sends
// unasked, so a slow machine cannot make such a check fail.
constexpr std::chrono::milliseconds kQuiet = 300ms;
// The slot information of an empty slot.
const Bytes kEmptySlot{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kEndMarker};

bool EndsErased(const Bytes& m, std::size_t end) {
  return m[end - 2] == 0xFF && m[end - 1] == 0xFF;
}

// What the downloads rely on: records from the first byte on, no page before
// the last in use that ends as erased (a reader would stop there), and an
// erased tail.
TEST(GeneratedMemory, HoldsRecordsUpToWhereAReaderStops) {
  const std::tuple<int, uint64_t, int> layouts[] = {{40, 1, 10}, {3, 7, 2}, {kPageCount, 5, 60}};
  for (const auto& [pages, seed, interval] : layouts) {
    SCOPED_TRACE(pages);
    const Bytes m = BuildLoggingMemory({.seed = seed, .pages = pages, .interval_s = interval});
    ASSERT_TRUE(m.size() == 1u << 20 && m[0] == 0x55) << "1 MiB, opening with a time stamp";
    std::size_t i = 0, samples = 0;
    while (i + 1 < m.size() && !EndsErased(m, i + 2)) {
      if (m[i] == 0x55 && m[i + 1] == 0xAA) {
        i += 8;
      } else if (m[i] == 0xAA && m[i + 1] == 0x55) {
        ASSERT_LE(m[i + 3] & 0xF, 9) << "tenths digit at " << i;
        ++samples;
        i += 12;
      } else {
        ASSERT_TRUE(m[i] == 0 && m[i + 1] == 0) << "unknown pair at " << i;
        i += 2;
      }
    }
    const std::size_t full = (pages - 1) * kPage;  // bytes of the pages before the last in use
    EXPECT_TRUE(i > full && samples > full / 12 * 9 / 10) << "data ends before the last page";
    EXPECT_TRUE(Bytes(m.begin() + i, m.end()) == Bytes(m.size() - i, 0xFF)) << "data in the tail";
    for (int p = 1; p < pages; ++p)
      ASSERT_FALSE(EndsErased(m, p * kPage)) << "page " << p - 1 << " would end a download early";
    EXPECT_EQ(PagesInUse(m), pages);
  }
}

TEST(MemoryWriter, ShiftsARecordThatWouldEndAPageInFFFF) {
  // E = 10.06 V/m is 0x4120FFFF: its low bytes are FF FF.
  const auto sample = EncodeSample(1.0, std::bit_cast<float>(0x4120FFFFu), 1.0f);
  for (std::size_t lead = kPage - 12; lead <= kPage - 4; lead += 2) {
    MemoryWriter w(2 * kPage);
    ASSERT_TRUE(w.Append(Bytes(lead, 0x11)) && w.Append(sample));
    const auto& m = w.Image();
    // At an even offset, after zero padding, and the page does not end in FF FF.
    const std::size_t at = w.Offset() - sample.size();
    EXPECT_TRUE(at % 2 == 0 && Bytes(m.begin() + lead, m.begin() + at) == Bytes(at - lead, 0) &&
                std::equal(sample.begin(), sample.end(), m.begin() + at) && !EndsErased(m, kPage))
        << "lead " << lead;
  }
}

Bytes Wire(const std::string& s) { return {s.begin(), s.end()}; }

class PtyClient {
 public:
  // Raw already: the simulator set the line up.
  explicit PtyClient(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~PtyClient() { Close(); }
  void Close() { close(std::exchange(fd_, -1)); }
  // Frames are short: the terminal takes each at once.
  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until `count` bytes came, the line hung up or `timeout` passed.
  Bytes Read(std::size_t count, std::chrono::milliseconds timeout = kSafetyTimeout) {
    Bytes out;
    uint8_t buf[4096];
    for (const auto end = Clock::now() + timeout; out.size() < count && Clock::now() < end;
         std::this_thread::sleep_for(1ms)) {
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) out.insert(out.end(), buf, buf + n);
      if (n == 0 || (n < 0 && errno != EAGAIN)) break;  // hung up
    }
    return out;
  }
  Bytes ReadAll() { return Read(SIZE_MAX, kQuiet); }

 private:
  int fd_;
};

// A started simulator, unpaced and without latency, with a client on its line.
struct SimLine {
  Bytes Slice(uint32_t at, std::size_t length) const {
    return {sim.Memory().begin() + at, sim.Memory().begin() + at + length};
  }
  static SimulatorOptions Quick() {
    SimulatorOptions options;
    options.paced = false;
    options.latency_ms = 0;
    return options;
  }
  static std::string Started(Simulator& sim) {
    sim.Start();
    return sim.SlavePath();
  }
  Simulator sim{Quick()};
  PtyClient client{Started(sim)};
};

// Every command's reply in order, with garbage and broken frames between the
// frames, nothing echoed, and the frame log that other tests count.
TEST(SimulatorLine, AnswersEveryCommandInOrderAndSkipsWhatIsNoFrame) {
  SimLine line;
  const std::string version = MeterConfig{}.version, serial = MeterConfig{}.serial;
  // Frame, the reply (empty: only its size and end marker are checked), its size.
  const std::tuple<Bytes, Bytes, std::size_t> asks[] = {
      {MakeFrame("GETVER"), Wire(version), version.size()},
      {MakeFrame("GETSERIAL"), Wire(serial), serial.size()},
      {MakeFrame("KEY0"), {}, 0},  // keys answer nothing
      {MakeFrame("NOSUCH"), {}, 0},
      {MakeFrame("GETSS0"), {}, 0},
      // SPIR arguments that hold frame syntax: '<', 0x00 and '>'.
      {MakeSpirFrame(0x0E3C00, 0x3E), line.Slice(0x0E3C00, 0x3E), 0x3E},
      {MakeFrame("GETSSN4"), kEmptySlot, kSlotInfoBytes},
      {MakeFrame("GETSSN1"), {}, kSlotInfoBytes},
      {MakeFrame("GETSCREEN"), {}, kScreenFrameBytes},
      {MakeFrame("GETSS2"), {}, kScreenFrameBytes},
  };
  Bytes burst = Wire(">>x<GET<getver>><>>");  // garbage and broken frames
  std::vector<Bytes> wires, logged;
  for (const auto& ask : asks) wires.push_back(std::get<0>(ask));
  for (const Bytes& wire : wires) burst.insert(burst.end(), wire.begin(), wire.end());
  line.client.Write(burst);
  for (const auto& [wire, reply, size] : asks) {
    const Bytes got = line.client.Read(size);
    ASSERT_EQ(got.size(), size) << ToHex(wire);
    EXPECT_TRUE(reply.empty() ? size == 0 || got.back() == kEndMarker : got == reply)
        << ToHex(wire);
  }
  EXPECT_TRUE(line.client.ReadAll().empty()) << "more than the replies arrived";
  EXPECT_EQ(line.sim.State().view, View::kMagnetic) << "KEY0 did not act";
  for (const FrameRecord& frame : line.sim.Frames()) logged.push_back(frame.raw);
  EXPECT_EQ(logged, wires);
}

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
    const auto sent = Clock::now();
    line.client.Write(MakeFrame("GETSSN4"));
    EXPECT_EQ(line.client.Read(7, answered ? kSafetyTimeout : kQuiet),
              answered ? kEmptySlot : Bytes{});
    EXPECT_GE(Clock::now() - sent, notBefore);
    EXPECT_TRUE(line.client.ReadAll().empty()) << "more than expected arrived";
    line.sim.ClearMisbehaviour();
    line.client.Write(MakeFrame("GETSSN4"));
    EXPECT_EQ(line.client.Read(7), kEmptySlot);
  }
}

}  // namespace
}  // namespace meter_sim
