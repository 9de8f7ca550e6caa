#include "meter_sim/frame_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace meter_sim {
namespace {

std::vector<uint8_t> B(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<std::string> Names(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : frames) out.push_back(f.name);
  return out;
}

TEST(FrameParser, ParsesPlainCommands) {
  for (const std::string name : {"GETVER", "GETSERIAL", "DSID", "FACTORYRESET", "REBOOT",
                                 "GETSCREEN", "KEY0", "KEY3", "KEYHOLD1", "KEYHOLD3"}) {
    FrameParser parser;
    const std::vector<uint8_t> bytes = B("<" + name + ">>");
    const std::vector<Frame> frames = parser.Feed(bytes);
    ASSERT_EQ(frames.size(), 1u) << name;
    EXPECT_EQ(frames[0].name, name);
    EXPECT_TRUE(frames[0].arg.empty()) << name;
    EXPECT_EQ(frames[0].raw, bytes);
    EXPECT_EQ(parser.DiscardedBytes(), 0u);
  }
}

TEST(FrameParser, SlotCommandsCarryOneDigit) {
  FrameParser parser;
  const auto frames = parser.Feed(B("<GETSS1>><GETSSN4>><GETSS0>><GETSSN9>>"));
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].name, "GETSS");
  EXPECT_EQ(frames[0].arg, B("1"));
  EXPECT_EQ(frames[1].name, "GETSSN");
  EXPECT_EQ(frames[1].arg, B("4"));
  // Out-of-range digits still parse; refusing them is the meter's business.
  EXPECT_EQ(frames[2].arg, B("0"));
  EXPECT_EQ(frames[3].name, "GETSSN");
  EXPECT_EQ(frames[3].arg, B("9"));

  // Only a single trailing digit is an argument, and only for these two.
  const auto odd = parser.Feed(B("<GETSSN12>><GETSS>><KEY2>><GETVER1>>"));
  EXPECT_EQ(Names(odd), (std::vector<std::string>{"GETSSN12", "GETSS", "KEY2", "GETVER1"}));
  for (const Frame& f : odd) EXPECT_TRUE(f.arg.empty()) << f.name;
}

TEST(FrameParser, SpirArgumentsMayHoldFrameSyntaxBytes) {
  const std::vector<std::vector<uint8_t>> args = {
      {0x3C, 0x3E, 0x00, 0x10, 0x00},  // '<' '>' NUL
      {0x3E, 0x3E, 0x3E, 0x3E, 0x3E},  // looks like closing marks
      {0x3C, 0x3C, 0x3C, 0x3C, 0x3C},  // looks like frame starts
      {0x00, 0x00, 0x00, 0x00, 0x00}, {0xFF, 0x3E, 0x3C, 0x3E, 0x3C},
  };
  for (const auto& arg : args) {
    const std::vector<uint8_t> frame = Concat({B("<SPIR"), arg, B(">>")});
    FrameParser parser;
    // Followed directly by another frame, so any over- or under-read shows.
    const auto frames = parser.Feed(Concat({frame, B("<GETVER>>")}));
    ASSERT_EQ(frames.size(), 2u) << ToHex(arg);
    EXPECT_EQ(frames[0].name, "SPIR");
    EXPECT_EQ(frames[0].arg, arg);
    EXPECT_EQ(frames[0].raw, frame);
    EXPECT_EQ(frames[1].name, "GETVER");
  }
}

TEST(FrameParser, SkipsGarbageBetweenFrames) {
  FrameParser parser;
  const std::vector<uint8_t> noise1 = {'x', 0x00, 0xFF, '>', '>', '\r', '\n'};
  const std::vector<uint8_t> noise2 = B("junk>>>");
  const auto frames = parser.Feed(Concat({noise1, B("<GETVER>>"), noise2, B("<DSID>>"), noise1}));
  EXPECT_EQ(Names(frames), (std::vector<std::string>{"GETVER", "DSID"}));
  EXPECT_EQ(parser.DiscardedBytes(), 2 * noise1.size() + noise2.size());
}

TEST(FrameParser, DropsMalformedFramesAndResynchronises) {
  struct Case {
    std::vector<uint8_t> input;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {B("<GETVER>x<GETSERIAL>>"), {"GETSERIAL"}},  // single '>'
      {B("<GETVER><DSID>>"), {"DSID"}},             // '<' right after one '>'
      {B("<GET<DSID>>"), {"DSID"}},                 // interrupted name
      {B("<getver>><GETVER>>"), {"GETVER"}},        // lower case is not a name
      {B("<>><GETVER>>"), {"GETVER"}},              // empty name
      {B("<GET VER>><KEY1>>"), {"KEY1"}},           // space inside the name
      {B("<" + std::string(kMaxNameLength + 1, 'A') + ">><KEY0>>"), {"KEY0"}},
      {Concat({B("<SPIR"), {1, 2, 3, 4, 5}, B("X>><GETVER>>")}), {"GETVER"}},
      {Concat({B("<SPIR"), {1, 2, 3, 4, 5}, B("><REBOOT>>")}), {"REBOOT"}},
  };
  for (const Case& c : cases) {
    FrameParser parser;
    EXPECT_EQ(Names(parser.Feed(c.input)), c.expected) << ToHex(c.input);
    EXPECT_GT(parser.DiscardedBytes(), 0u) << ToHex(c.input);
  }
}

TEST(FrameParser, FramesSplitAcrossReadsAtEveryPoint) {
  const std::vector<uint8_t> stream =
      Concat({B("~~<GETVER>>"), MakeSpirFrame(0x3C3E00, 0x3E3C), B("<GETSSN2>>zz"),
              MakeSpirFrame(0x0000FF, 0x1000), B("<KEYHOLD2>>")});
  FrameParser whole_parser;
  const std::vector<Frame> whole = whole_parser.Feed(stream);
  ASSERT_EQ(Names(whole),
            (std::vector<std::string>{"GETVER", "SPIR", "GETSSN", "SPIR", "KEYHOLD2"}));

  for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
    FrameParser parser;
    std::vector<Frame> got;
    for (std::size_t i = 0; i < stream.size(); i += chunk) {
      const std::size_t n = std::min(chunk, stream.size() - i);
      parser.Feed(std::span<const uint8_t>(stream).subspan(i, n), got);
    }
    EXPECT_EQ(got, whole) << "chunk size " << chunk;
  }
}

TEST(FrameParser, ResetForgetsAPartialFrame) {
  FrameParser parser;
  EXPECT_TRUE(parser.Feed(B("<GETV")).empty());
  parser.Reset();
  EXPECT_TRUE(parser.Feed(B("ER>>")).empty());
  EXPECT_EQ(parser.Feed(B("<DSID>>")).size(), 1u);
}

TEST(FrameBuilders, ProduceWireBytes) {
  EXPECT_EQ(MakeFrame("GETSS3"), B("<GETSS3>>"));
  EXPECT_EQ(
      MakeSpirFrame(0x0A0B0C, 0x1000),
      (std::vector<uint8_t>{'<', 'S', 'P', 'I', 'R', 0x0A, 0x0B, 0x0C, 0x10, 0x00, '>', '>'}));
  // Only the low 24 address bits exist on the wire.
  EXPECT_EQ(MakeSpirFrame(0xFF123456, 1)[5], 0x12);
  EXPECT_EQ(ToHex(B("<A")), "3C 41");
  EXPECT_EQ(ToHex(std::vector<uint8_t>{0x00, 0xFF}), "00 FF");
  EXPECT_EQ(ToHex(std::vector<uint8_t>{}), "");
}

}  // namespace
}  // namespace meter_sim
