// The simulated meter seen from the host side of a real pseudo-terminal, read
// with poll() under a generous safety timeout that is never a speed
// requirement; and the meter-sim program as run.sh starts it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "meter_sim/simulator.h"

namespace meter_sim {
namespace {

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
  void Write(const std::vector<uint8_t>& bytes) {
    for (std::size_t off = 0; fd_ >= 0 && off < bytes.size();) {
      const ssize_t n = write(fd_, bytes.data() + off, bytes.size() - off);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      off += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    }
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

// The faults that other tests set, each until cleared, asked for one page.
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
  const std::vector<uint8_t> page = line.Slice(0x3C00, 64), none;
  const auto sent = Clock::now();
  line.client.Write(MakeSpirFrame(0x3C00, 64));
  EXPECT_TRUE(f.not_before == 0ms || line.client.Read(1, f.not_before / 2).empty()) << "early";
  EXPECT_EQ(line.client.Read(64, f.answered ? kSafetyTimeout : kQuiet), f.answered ? page : none);
  EXPECT_GE(Clock::now() - sent, f.not_before);
  EXPECT_TRUE(line.client.ReadAll().empty()) << "more than expected arrived";
  line.sim.ClearMisbehaviour();
  EXPECT_EQ(line.Ask(MakeSpirFrame(0x3C00, 64), 64), page);
}

INSTANTIATE_TEST_SUITE_P(
    Misbehaviour, Faults,
    ::testing::Values(Fault{"late", {.only_command = {}, .extra_delay_ms = 600}, true, 600ms},
                      Fault{"silent", {.only_command = {}, .silent = true}, false},
                      Fault{"other_command_only", {.only_command = "GETSS", .silent = true}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Program, ServesItsLinkAndRemovesItOnSigterm) {
  const std::string link = testing::TempDir() + "meter_sim_link_" + std::to_string(getpid());
  std::filesystem::remove(link);
  const pid_t pid = fork();
  if (pid == 0) {
    execl(METER_SIM_EXE, "meter-sim", "--unpaced", "--link", link.c_str(), nullptr);
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  auto exited = [pid, status = 0]() mutable {
    for (auto deadline = Clock::now() + kSafetyTimeout; Clock::now() < deadline;) {
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && !WEXITSTATUS(status);
      std::this_thread::sleep_for(10ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
  };
  for (auto deadline = Clock::now() + kSafetyTimeout;
       !std::filesystem::is_symlink(link) && Clock::now() < deadline;)
    std::this_thread::sleep_for(10ms);
  {
    PtyClient client(link);
    client.Write(MakeFrame("GETVER"));
    EXPECT_EQ(client.Read(MeterConfig{}.version.size()), Bytes(MeterConfig{}.version));
  }
  kill(pid, SIGTERM);
  EXPECT_TRUE(exited()) << "meter-sim did not exit cleanly on SIGTERM";
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

}  // namespace
}  // namespace meter_sim
