// Command frames in, replies out: the parser, the meter in-process, and both
// together over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "meter_sim/meter.h"
#include "pty_client.h"

namespace sim_test {
namespace {

using namespace meter_sim;

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<std::string> Names(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : frames) out.push_back(f.name);
  return out;
}

TEST(FrameParser, SkipsGarbageAndBrokenFramesBetweenFrames) {
  const std::pair<std::vector<uint8_t>, std::vector<std::string>> cases[] = {
      {Bytes("x\r\n>>KEY0>><GETVER>>junk>>><DSID>>"), {"GETVER", "DSID"}},
      {Cat({{0x00, 0xFF}, Bytes("<GETSS1>>"), {0xFF}}), {"GETSS"}},
      {Bytes("<GETVER>x<GETSERIAL>>"), {"GETSERIAL"}},
      {Bytes("<GET<DSID>>"), {"DSID"}},
      {Bytes("<getver>><>><KEY1>>"), {"KEY1"}},
      {Cat({Bytes("<SPIR"), {1, 2, 3, 4, 5}, Bytes("><REBOOT>>")}), {"REBOOT"}},
  };
  for (const auto& [input, expected] : cases) {
    FrameParser parser;
    EXPECT_EQ(Names(parser.Feed(input)), expected) << ToHex(input);
    EXPECT_GT(parser.DiscardedBytes(), 0u) << ToHex(input);
  }
}

TEST(FrameParser, SpirArgumentsHoldFrameSyntaxAndFramesSplitAnywhere) {
  // SPIR address and length bytes '<' '>' 0x00, each frame right behind the
  // previous one so that any over- or under-read shows.
  const std::vector<uint8_t> stream = Cat({Bytes("~<GETVER>>"), MakeSpirFrame(0x3C3E00, 0x3E3E),
                                           Bytes("<GETSSN2>>z"), MakeSpirFrame(0x3C, 0x3C00)});
  const std::vector<Frame> whole = FrameParser().Feed(stream);
  ASSERT_EQ(Names(whole), (std::vector<std::string>{"GETVER", "SPIR", "GETSSN", "SPIR"}));
  EXPECT_EQ(whole[1].arg, (std::vector<uint8_t>{'<', '>', 0x00, '>', '>'}));
  EXPECT_EQ(whole[1].raw, MakeSpirFrame(0x3C3E00, 0x3E3E));
  EXPECT_EQ(whole[2].arg, Bytes("2"));
  EXPECT_EQ(whole[3].arg, (std::vector<uint8_t>{0x00, 0x00, '<', '<', 0x00}));
  for (std::size_t chunk = 1; chunk < stream.size(); ++chunk) {
    FrameParser parser;
    std::vector<Frame> got;
    for (std::size_t i = 0; i < stream.size(); i += chunk) {
      parser.Feed(std::span(stream).subspan(i, std::min(chunk, stream.size() - i)), got);
    }
    EXPECT_EQ(got, whole) << "chunk size " << chunk;
  }
}

TEST(Meter, EveryCommandsReplyLengthEndMarkerAndContent) {
  Meter meter(DefaultMeterConfig());
  const std::vector<uint8_t>& mem = meter.Memory();
  const auto send = [&](const std::vector<uint8_t>& wire) {
    const auto frames = FrameParser().Feed(wire);
    return frames.size() == 1 ? meter.Handle(frames[0], 10.0) : std::vector<uint8_t>{0xEE};
  };
  const std::vector<uint8_t> version = send(MakeFrame("GETVER"));
  EXPECT_NE(std::string(version.begin(), version.end()).find("EMF"), std::string::npos);
  for (const char* text : {"GETVER", "GETSERIAL", "DSID", "FACTORYRESET", "REBOOT"}) {
    const std::vector<uint8_t> r = send(MakeFrame(text));
    EXPECT_TRUE(r.size() > 2 && r[r.size() - 2] == '\r' && r.back() == '\n') << text;
  }
  struct Case {
    std::vector<uint8_t> wire;
    std::size_t size;
    int first = -1, last = -1;  // -1: any
  };
  const Case cases[] = {
      {MakeFrame("GETSCREEN"), kScreenFrameBytes, -1, kEndMarker},
      {MakeFrame("GETSS1"), kScreenFrameBytes, -1, kEndMarker},
      {MakeFrame("GETSSN1"), kSlotInfoBytes, -1, kEndMarker},
      {MakeFrame("GETSSN4"), kSlotInfoBytes, 0xFF, kEndMarker},  // empty slot
      {MakeSpirFrame(0x3C3E00, 0x003E), 0x3E},
      {MakeSpirFrame(0, 0x1000), 0x1000, 0x55},  // the log opens with a time stamp
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> r = send(c.wire);
    ASSERT_EQ(r.size(), c.size) << ToHex(c.wire);
    EXPECT_TRUE(c.first < 0 || r.front() == c.first) << ToHex(c.wire);
    EXPECT_TRUE(c.last < 0 || r.back() == c.last) << ToHex(c.wire);
  }
  for (const char* silent : {"KEY0", "HELLO", "GETVER1", "KEY4", "GETSSN5", "GETSS0"}) {
    EXPECT_TRUE(send(MakeFrame(silent)).empty()) << silent;
  }
  EXPECT_EQ(send(MakeFrame("GETSCREEN")), ScreenFrame(RenderDisplay(meter.State(), 10.0)));
  EXPECT_EQ(meter.State().view, View::kMagnetic) << "KEY0 above did not act";
  EXPECT_EQ(send(MakeFrame("GETSS2")), ScreenFrame(meter.Slots()[1]->image));
  EXPECT_EQ(send(MakeFrame("GETSS4")), ScreenFrame(ScreenImage{}));  // empty slot: blank
  const std::vector<uint8_t> info = send(MakeFrame("GETSSN2"));
  EXPECT_TRUE(info[1] >= 1 && info[1] <= 12 && info[2] >= 1 && info[2] <= 31 && info[3] < 24 &&
              info[4] < 60 && info[5] < 60)
      << ToHex(info);

  // Address bytes '<' '>' 0x00; bits above 1 MiB do not exist; reads wrap past the end.
  const std::vector<uint8_t> page = send(MakeSpirFrame(0x3C3E00, 0x1000));
  EXPECT_TRUE(std::equal(page.begin(), page.end(), mem.begin() + 0x0C3E00));
  const std::vector<uint8_t> wrap = send(MakeSpirFrame(0x0FF800, 0x1000));
  ASSERT_EQ(wrap.size(), 0x1000u);
  EXPECT_TRUE(std::equal(wrap.begin(), wrap.begin() + 0x800, mem.end() - 0x800));
  EXPECT_TRUE(std::equal(wrap.begin() + 0x800, wrap.end(), mem.begin()));
}

TEST(SimulatorLine, AnswersOverAPseudoTerminalInOrderWithoutEcho) {
  SimLine line;
  ASSERT_TRUE(line.client.IsOpen());
  // Garbage, then a burst: replies come in order and nothing is echoed.
  line.client.Write(Cat({Bytes(">>x"), MakeFrame("GETSSN4"), MakeSpirFrame(0x3C3E00, 16),
                         MakeFrame("KEY0"), MakeFrame("NOSUCH"), MakeFrame("GETSCREEN")}));
  const std::vector<uint8_t> r = line.client.Read(7 + 16 + kScreenFrameBytes);
  ASSERT_EQ(r.size(), 7 + 16 + kScreenFrameBytes);
  EXPECT_EQ(r[0], 0xFF);
  EXPECT_EQ(r[6], kEndMarker);
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 7, r.begin() + 23), line.Slice(0x0C3E00, 16));
  EXPECT_EQ(r.back(), kEndMarker);
  EXPECT_EQ(line.sim.State().view, View::kMagnetic);

  // A frame trickled byte by byte arrives in separate reads.
  for (uint8_t b : MakeSpirFrame(0x3E3C3E, 0x10)) {
    line.client.Write({b});
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(line.client.Read(16), line.Slice(0x0E3C3E, 16));

  // A port closed for a while and opened again still reaches the meter.
  line.client.Close();
  std::this_thread::sleep_for(100ms);
  PtyClient again(line.sim.SlavePath());
  const std::string version = MeterConfig{}.version;
  again.Write(MakeFrame("GETVER"));
  EXPECT_EQ(again.Read(version.size()), Bytes(version));
  EXPECT_TRUE(again.ReadAll().empty());
  EXPECT_EQ(line.sim.Frames().size(), 7u);
}

}  // namespace
}  // namespace sim_test
