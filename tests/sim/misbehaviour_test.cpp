// Deliberate faults, seen from the host side of a real pseudo-terminal.
#include <gtest/gtest.h>

#include "pty_client.h"

namespace sim_test {
namespace {

using meter_sim::MakeFrame;
using meter_sim::MakeSpirFrame;

constexpr uint32_t kAddress = 0x3C00;
constexpr std::size_t kLength = 64;

struct Fault {
  const char* name;
  meter_sim::Misbehaviour set;
  // What arrives instead of the proper reply: junk, then its first `kept` bytes.
  std::size_t junk = 0, kept = kLength, pieces = 1;
  std::chrono::milliseconds not_before{0};
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class Faults : public ::testing::TestWithParam<Fault> {};

TEST_P(Faults, ChangeWhatArrivesUntilCleared) {
  const Fault& f = GetParam();
  SimLine line;
  line.sim.SetMisbehaviour(f.set);
  const std::vector<uint8_t> proper = line.Slice(kAddress, kLength);
  std::vector<uint8_t> expected = meter_sim::JunkBytes(f.junk);
  expected.insert(expected.end(), proper.begin(), proper.begin() + f.kept);
  const auto sent = std::chrono::steady_clock::now();
  line.client.Write(MakeSpirFrame(kAddress, kLength));
  EXPECT_TRUE(f.not_before == 0ms || line.client.Read(1, f.not_before / 2).empty()) << "early";
  EXPECT_EQ(line.client.Read(expected.size()), expected);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, f.not_before);
  EXPECT_TRUE(line.client.ReadAll().empty()) << "more than expected arrived";
  if (!expected.empty()) {
    ASSERT_TRUE(line.sim.WaitForReplies(1, kSafetyTimeout));
    EXPECT_EQ(line.sim.Replies().back().pieces, f.pieces);
  }
  line.sim.ClearMisbehaviour();
  EXPECT_EQ(line.Ask(MakeSpirFrame(kAddress, kLength), kLength), proper);
}

INSTANTIATE_TEST_SUITE_P(
    Misbehaviour, Faults,
    ::testing::Values(
        Fault{"late", {.only_command = {}, .extra_delay_ms = 600}, 0, kLength, 1, 600ms},
        Fault{
            "split", {.only_command = {}, .split_bytes = 10, .split_pause_ms = 20}, 0, kLength, 7},
        Fault{"junk", {.only_command = {}, .junk_bytes = 9}, 9},
        Fault{"cut_short", {.only_command = {}, .cut_bytes = 20}, 0, kLength - 20},
        Fault{"ignore", {.only_command = {}, .ignore_requests = 1}, 0, 0},
        Fault{"silent", {.only_command = {}, .silent = true}, 0, 0},
        Fault{"other_command_only",
              {.only_command = "GETSCREEN", .junk_bytes = 5, .silent = true}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MisbehaviourCounts, IgnoresNFramesAndClosesTheLineAfterNSpirPages) {
  SimLine line;
  line.sim.IgnoreNext(2);
  line.client.Write(MakeFrame("KEY0"));
  line.client.Write(MakeFrame("GETVER"));
  EXPECT_TRUE(line.client.ReadAll().empty());
  EXPECT_EQ(line.Ask(MakeFrame("GETSSN4"), 7).size(), 7u) << "the third frame was not answered";
  EXPECT_EQ(line.sim.State().view, meter_sim::View::kAll) << "an ignored key acted";
  line.sim.SetSilent(true);
  line.client.Write(MakeFrame("KEY0"));
  ASSERT_TRUE(line.sim.WaitForFrames(4, kSafetyTimeout));
  EXPECT_EQ(line.sim.State().view, meter_sim::View::kMagnetic) << "a silent meter still acts";

  line.sim.ClearMisbehaviour();
  line.sim.CloseAfterSpirReplies(2);
  EXPECT_EQ(line.Ask(MakeSpirFrame(0, 0x1000), 0x1000), line.Slice(0, 0x1000));
  EXPECT_EQ(line.Ask(MakeFrame("GETSSN4"), 7).size(), 7u);  // only SPIR replies count
  EXPECT_TRUE(line.sim.Running());
  EXPECT_EQ(line.Ask(MakeSpirFrame(0x1000, 0x1000), 0x1000), line.Slice(0x1000, 0x1000));
  line.client.ReadAll(kSafetyTimeout);
  EXPECT_TRUE(line.client.HungUp()) << "line still up after the last page";
  EXPECT_TRUE(line.sim.WaitUntilStopped(kSafetyTimeout));
}

}  // namespace
}  // namespace sim_test
