// The meter simulator as other tests lean on it: the logging memory, decoded
// here from the record layout alone; the LCD page; and the meter seen from the
// host side of a real pseudo-terminal, read with poll() under a generous
// safety timeout that is never a speed requirement.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <thread>

#include "meter_sim/display.h"
#include "meter_sim/logging_memory.h"
#include "meter_sim/simulator.h"

namespace meter_sim {
namespace {

constexpr std::size_t kPage = 4096;

bool EndsErased(const std::vector<uint8_t>& m, std::size_t end) {
  return m[end - 2] == 0xFF && m[end - 1] == 0xFF;
}

struct Layout {
  int pages;
  uint64_t seed;
  int interval_s;
};

class GeneratedMemory : public ::testing::TestWithParam<Layout> {};

// What the downloads rely on: records from the first byte on, no page before
// the last in use that ends as erased (a reader would stop there), and an
// erased tail.
TEST_P(GeneratedMemory, HoldsRecordsUpToWhereAReaderStops) {
  const Layout l = GetParam();
  const std::vector<uint8_t> m =
      BuildLoggingMemory({.seed = l.seed, .pages = l.pages, .interval_s = l.interval_s});
  ASSERT_EQ(m.size(), std::size_t{1} << 20);
  ASSERT_EQ(m[0], 0x55) << "the log opens with a time stamp";
  std::size_t i = 0, samples = 0;
  while (i + 1 < m.size() && !EndsErased(m, i + 2)) {
    if (m[i] == 0x55 && m[i + 1] == 0xAA) {
      i += 8;
    } else if (m[i] == 0xAA && m[i + 1] == 0x55) {
      ASSERT_LE(m[i + 3] & 0xF, 9) << "tenths digit at " << i;
      ++samples, i += 12;
    } else {
      ASSERT_TRUE(m[i] == 0 && m[i + 1] == 0) << "unknown pair at " << i;
      i += 2;
    }
  }
  const std::size_t pages = static_cast<std::size_t>(l.pages);
  EXPECT_GT(i, (pages - 1) * kPage) << "data ends before the last page in use";
  EXPECT_GT(samples, (pages - 1) * kPage / 12 * 9 / 10);
  EXPECT_TRUE(std::all_of(m.begin() + static_cast<std::ptrdiff_t>(i), m.end(), [](uint8_t b) {
    return b == 0xFF;
  })) << "data in the erased tail";
  for (std::size_t p = 1; p < pages; ++p)
    ASSERT_FALSE(EndsErased(m, p * kPage)) << "page " << p - 1 << " would end a download early";
  EXPECT_EQ(PagesInUse(m), l.pages);
}

INSTANTIATE_TEST_SUITE_P(Layouts, GeneratedMemory,
                         ::testing::Values(Layout{40, 1, 10}, Layout{3, 7, 2},
                                           Layout{kPageCount, 5, 60}));

TEST(MemoryWriter, ShiftsARecordThatWouldEndAPageInFFFF) {
  // E = 10.06 V/m is 0x4120FFFF: its low bytes are FF FF.
  const auto sample = EncodeSample(1.0, std::bit_cast<float>(0x4120FFFFu), 1.0f);
  for (std::size_t lead = kPage - 12; lead <= kPage - 4; lead += 2) {
    MemoryWriter w(2 * kPage);
    ASSERT_TRUE(w.Append(std::vector<uint8_t>(lead, 0x11)));
    ASSERT_TRUE(w.Append(sample));
    const auto& m = w.Image();
    EXPECT_FALSE(EndsErased(m, kPage)) << "lead " << lead;
    EXPECT_EQ(w.Offset() % 2, 0u) << "record at an odd offset";
    EXPECT_TRUE(std::equal(sample.begin(), sample.end(), m.begin() + w.Offset() - 12));
    EXPECT_TRUE(std::all_of(m.begin() + lead, m.begin() + w.Offset() - 12,
                            [](uint8_t b) { return b == 0; }));
  }
}

TEST(Display, PageLayoutHasRowZeroAtTheBottom) {
  ScreenImage img{}, expected{};
  SetPixel(img, 0, 0);
  SetPixel(img, 5, 10);  // page 1, bit 2
  SetPixel(img, 127, 63);
  SetPixel(img, 128, 0);  // off the glass: ignored
  expected[0] = 0x01;
  expected[128 + 5] = 0x04;
  expected[1023] = 0x80;
  EXPECT_EQ(img, expected);
  EXPECT_TRUE(GetPixel(img, 5, 10));
}

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kSafetyTimeout = 15s;
// Listening this long shows that nothing comes: the simulator never sends
// unasked, so a slow machine cannot make such a check fail.
constexpr std::chrono::milliseconds kQuiet = 300ms;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class PtyClient {
 public:
  // Raw already: the simulator set the line up.
  explicit PtyClient(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~PtyClient() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  // Frames are short: the terminal takes each at once.
  void Write(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until `count` bytes came, the line hung up or `timeout` passed.
  std::vector<uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout = kSafetyTimeout) {
    std::vector<uint8_t> out;
    const auto deadline = Clock::now() + timeout;
    uint8_t buf[4096];
    while (fd_ >= 0 && out.size() < count && Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - out.size()));
      if (n > 0) out.insert(out.end(), buf, buf + n);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;  // hung up
    }
    return out;
  }
  std::vector<uint8_t> ReadAll() { return Read(SIZE_MAX, kQuiet); }

 private:
  int fd_;
};

// A started simulator, unpaced and without latency, with a client on its line.
struct SimLine {
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& frame, std::size_t reply_bytes) {
    client.Write(frame);
    return client.Read(reply_bytes);
  }
  std::vector<uint8_t> Slice(uint32_t address, std::size_t length) const {
    const auto at = sim.Memory().begin() + address;
    return {at, at + static_cast<std::ptrdiff_t>(length)};
  }

  Simulator sim{[] {
    SimulatorOptions o;
    o.paced = false;
    o.latency_ms = 0;
    return o;
  }()};
  PtyClient client{(sim.Start(), sim.SlavePath())};  // started before the client opens
};

// Every command's reply in order, with garbage and broken frames between the
// frames, nothing echoed, and the frame log that other tests count.
TEST(SimulatorLine, AnswersEveryCommandInOrderAndSkipsWhatIsNoFrame) {
  SimLine line;
  struct Ask {
    std::vector<uint8_t> wire;
    std::vector<uint8_t> reply;  // empty: only the size and end marker are checked
    std::size_t size;
  };
  const std::string version = MeterConfig{}.version, serial = MeterConfig{}.serial;
  const Ask asks[] = {
      {MakeFrame("GETVER"), Bytes(version), version.size()},
      {MakeFrame("GETSERIAL"), Bytes(serial), serial.size()},
      {MakeFrame("KEY0"), {}, 0},  // keys answer nothing
      {MakeFrame("NOSUCH"), {}, 0},
      {MakeFrame("GETSS0"), {}, 0},
      // SPIR arguments that hold frame syntax: '<', 0x00 and '>'.
      {MakeSpirFrame(0x0E3C00, 0x3E), line.Slice(0x0E3C00, 0x3E), 0x3E},
      {MakeFrame("GETSSN4"), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kEndMarker}, kSlotInfoBytes},
      {MakeFrame("GETSSN1"), {}, kSlotInfoBytes},
      {MakeFrame("GETSCREEN"), {}, kScreenFrameBytes},
      {MakeFrame("GETSS2"), {}, kScreenFrameBytes},
  };
  std::vector<uint8_t> burst = Bytes(">>x<GET<getver>><>>");  // garbage and broken frames
  for (const Ask& ask : asks) burst.insert(burst.end(), ask.wire.begin(), ask.wire.end());
  line.client.Write(burst);
  for (const Ask& ask : asks) {
    if (ask.size == 0) continue;
    const std::vector<uint8_t> got = line.client.Read(ask.size);
    ASSERT_EQ(got.size(), ask.size) << ToHex(ask.wire);
    if (!ask.reply.empty()) {
      EXPECT_EQ(got, ask.reply) << ToHex(ask.wire);
    }
    if (ask.size == kSlotInfoBytes || ask.size == kScreenFrameBytes) {
      EXPECT_EQ(got.back(), kEndMarker) << ToHex(ask.wire);
    }
  }
  EXPECT_TRUE(line.client.ReadAll().empty()) << "more than the replies arrived";
  EXPECT_EQ(line.sim.State().view, View::kMagnetic) << "KEY0 did not act";
  const std::vector<FrameRecord> frames = line.sim.Frames();
  ASSERT_EQ(frames.size(), std::size(asks));
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].raw, asks[i].wire) << i;

  // A frame trickled byte by byte.
  for (uint8_t b : MakeSpirFrame(0x3E000, 0x1000)) {
    line.client.Write({b});
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(line.client.Read(0x1000), line.Slice(0x3E000, 0x1000));

  // A port closed for a while and opened again still reaches the meter.
  line.client.Close();
  std::this_thread::sleep_for(100ms);
  PtyClient again(line.sim.SlavePath());
  again.Write(MakeFrame("GETVER"));
  EXPECT_EQ(again.Read(version.size()), Bytes(version));
}

// The faults that other tests set, each until cleared, asked for the slot
// information that a screenshot download asks first.
struct Fault {
  const char* name;
  Misbehaviour set;
  bool answered;
  std::chrono::milliseconds not_before{0};
};
void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, ChangeWhatArrivesUntilCleared) {
  const Fault& f = GetParam();
  SimLine line;
  line.sim.SetMisbehaviour(f.set);
  const std::vector<uint8_t> info{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kEndMarker}, none;
  const auto sent = Clock::now();
  line.client.Write(MakeFrame("GETSSN4"));
  EXPECT_TRUE(f.not_before == 0ms || line.client.Read(1, f.not_before / 2).empty()) << "early";
  EXPECT_EQ(line.client.Read(7, f.answered ? kSafetyTimeout : kQuiet), f.answered ? info : none);
  EXPECT_GE(Clock::now() - sent, f.not_before);
  EXPECT_TRUE(line.client.ReadAll().empty()) << "more than expected arrived";
  line.sim.ClearMisbehaviour();
  EXPECT_EQ(line.Ask(MakeFrame("GETSSN4"), 7), info);
}

INSTANTIATE_TEST_SUITE_P(
    Misbehaviour, Faults,
    ::testing::Values(Fault{"late", {.only_command = {}, .extra_delay_ms = 600}, true, 600ms},
                      Fault{"silent", {.only_command = {}, .silent = true}, false},
                      Fault{"other_command_only", {.only_command = "GETSS", .silent = true}, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace meter_sim
