// The simulated meter over a real pseudo-terminal: every command's reply, in
// order, with garbage and broken frames between the frames and nothing echoed.
// The program's own tests walk the common commands through it as well.
#include <gtest/gtest.h>

#include <thread>

#include "pty_client.h"

namespace sim_test {
namespace {

using namespace meter_sim;

TEST(SimulatorLine, AnswersEveryCommandInOrderAndSkipsWhatIsNoFrame) {
  SimLine line;
  ASSERT_TRUE(line.client.IsOpen());
  // SPIR addresses and lengths that hold frame syntax ('<', '>', 0x00); bits
  // above 1 MiB do not exist; a read wraps past the end of the memory.
  struct Ask {
    std::vector<uint8_t> wire;
    std::vector<uint8_t> reply;  // empty: only the size and end marker are checked
    std::size_t size;
  };
  const std::string version = MeterConfig{}.version;
  const Ask asks[] = {
      {Bytes(">>x<GET<getver>><>>"), {}, 0},  // garbage and broken frames
      {MakeFrame("GETVER"), Bytes(version), version.size()},
      {MakeFrame("GETSERIAL"), Bytes(MeterConfig{}.serial), MeterConfig{}.serial.size()},
      {MakeFrame("KEY0"), {}, 0},  // keys answer nothing
      {MakeFrame("NOSUCH"), {}, 0},
      {MakeFrame("GETSS0"), {}, 0},
      {MakeSpirFrame(0x3C3E00, 0x3E), line.Slice(0x0C3E00, 0x3E), 0x3E},
      {MakeFrame("GETSSN4"), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kEndMarker}, kSlotInfoBytes},
      {MakeFrame("GETSSN1"), {}, kSlotInfoBytes},
      {MakeFrame("GETSCREEN"), {}, kScreenFrameBytes},
      {MakeFrame("GETSS2"), {}, kScreenFrameBytes},
  };
  std::vector<uint8_t> burst;
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

  // A frame trickled byte by byte; the memory wraps from its end to its start.
  for (uint8_t b : MakeSpirFrame(0x0FF800, 0x1000)) {
    line.client.Write({b});
    std::this_thread::sleep_for(1ms);
  }
  std::vector<uint8_t> wrapped = line.Slice(0x0FF800, 0x800);
  const std::vector<uint8_t> start = line.Slice(0, 0x800);
  wrapped.insert(wrapped.end(), start.begin(), start.end());
  EXPECT_EQ(line.client.Read(0x1000), wrapped);

  // A port closed for a while and opened again still reaches the meter.
  line.client.Close();
  std::this_thread::sleep_for(100ms);
  PtyClient again(line.sim.SlavePath());
  again.Write(MakeFrame("GETVER"));
  EXPECT_EQ(again.Read(version.size()), Bytes(version));
}

}  // namespace
}  // namespace sim_test
