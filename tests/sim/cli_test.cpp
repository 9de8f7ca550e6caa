#include "meter_sim/cli.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pty_client.h"

extern char** environ;

namespace sim_test {
namespace {

using meter_sim::CliOptions;
using meter_sim::ParseCommandLine;

bool Parse(std::vector<std::string> args, CliOptions& out, std::string& error) {
  std::vector<const char*> argv = {"meter-sim"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, error);
}

TEST(CommandLine, DefaultsArePacedRealLineWithFortyPages) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(Parse({}, o, error)) << error;
  EXPECT_TRUE(o.paced);
  EXPECT_EQ(o.baud, 115200);
  EXPECT_EQ(o.latency_ms, 5);
  EXPECT_EQ(o.memory.pages, 40);
  EXPECT_EQ(o.slots, 3);
  EXPECT_FALSE(o.clock_set);
  EXPECT_FALSE(o.verbose);
  EXPECT_EQ(o.misbehaviour.extra_delay_ms, 0);
  EXPECT_FALSE(o.misbehaviour.silent);
}

TEST(CommandLine, EveryOptionReachesItsField) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--link",
                     "dev/meter",
                     "--unpaced",
                     "--latency=12",
                     "--baud",
                     "9600",
                     "--full",
                     "--interval",
                     "30",
                     "--seed=77",
                     "--slots",
                     "4",
                     "--clock",
                     "07:08:09",
                     "--verbose",
                     "--only",
                     "SPIR",
                     "--late",
                     "250",
                     "--split",
                     "64",
                     "--split-pause",
                     "30",
                     "--junk",
                     "5",
                     "--cut",
                     "3",
                     "--ignore",
                     "2",
                     "--close-after-pages",
                     "7",
                     "--silent",
                     "--dump-memory",
                     "out.bin",
                     "--memory",
                     "in.bin"},
                    o, error))
      << error;
  EXPECT_EQ(o.link, "dev/meter");
  EXPECT_FALSE(o.paced);
  EXPECT_EQ(o.latency_ms, 12);
  EXPECT_EQ(o.baud, 9600);
  EXPECT_EQ(o.memory.pages, meter_sim::kPageCount);
  EXPECT_EQ(o.memory.interval_s, 30);
  EXPECT_EQ(o.memory.seed, 77u);
  EXPECT_EQ(o.slots, 4);
  EXPECT_TRUE(o.clock_set);
  EXPECT_EQ(o.clock_start, 7 * 3600 + 8 * 60 + 9);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.misbehaviour.only_command, "SPIR");
  EXPECT_EQ(o.misbehaviour.extra_delay_ms, 250);
  EXPECT_EQ(o.misbehaviour.split_bytes, 64u);
  EXPECT_EQ(o.misbehaviour.split_pause_ms, 30);
  EXPECT_EQ(o.misbehaviour.junk_bytes, 5u);
  EXPECT_EQ(o.misbehaviour.cut_bytes, 3u);
  EXPECT_EQ(o.misbehaviour.ignore_requests, 2);
  EXPECT_EQ(o.misbehaviour.close_after_spir, 7);
  EXPECT_TRUE(o.misbehaviour.silent);
  EXPECT_EQ(o.dump_memory, "out.bin");
  EXPECT_EQ(o.memory_file, "in.bin");

  ASSERT_TRUE(Parse({"--pages", "12"}, o, error)) << error;
  EXPECT_EQ(o.memory.pages, 12);
}

TEST(CommandLine, RejectsBadInput) {
  const std::vector<std::vector<std::string>> bad = {
      {"--nope"},
      {"--pages"},
      {"--pages", "257"},
      {"--pages", "-1"},
      {"--pages", "4x"},
      {"--latency", ""},
      {"--clock", "24:00:00"},
      {"--clock", "1:2"},
      {"--slots", "5"},
      {"--unpaced=yes"},
      {"stray"},
      {"--interval", "0"},
      {"--close-after-pages", "0"},
  };
  for (const auto& args : bad) {
    CliOptions o;
    std::string error;
    EXPECT_FALSE(Parse(args, o, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(CommandLine, BuildsSimulatorOptions) {
  CliOptions cli;
  std::string error;
  ASSERT_TRUE(Parse({"--pages", "5", "--seed", "3", "--slots", "1", "--clock", "12:00:00",
                     "--unpaced", "--latency", "0", "--junk", "2"},
                    cli, error));
  const meter_sim::SimulatorOptions o = meter_sim::MakeSimulatorOptions(cli);
  EXPECT_EQ(o.meter.memory, meter_sim::BuildLoggingMemory({.seed = 3, .pages = 5}));
  EXPECT_EQ(o.meter.state.log_pages, 5);
  EXPECT_TRUE(o.meter.slots[0].has_value());
  EXPECT_FALSE(o.meter.slots[1].has_value());
  EXPECT_EQ(o.meter.state.clock_start, 12 * 3600);
  EXPECT_FALSE(o.paced);
  EXPECT_EQ(o.latency_ms, 0);
  EXPECT_EQ(o.misbehaviour.junk_bytes, 2u);

  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("meter_sim_cli_mem_" + std::to_string(::getpid()));
  {
    std::ofstream out(file, std::ios::binary);
    out << "\x55\xAA";
  }
  ASSERT_TRUE(Parse({"--memory", file.string()}, cli, error));
  const meter_sim::SimulatorOptions loaded = meter_sim::MakeSimulatorOptions(cli);
  ASSERT_EQ(loaded.meter.memory.size(), meter_sim::kMemoryBytes);
  EXPECT_EQ(loaded.meter.memory[0], 0x55);
  EXPECT_EQ(loaded.meter.memory[2], 0xFF);
  EXPECT_EQ(loaded.meter.state.log_pages, 1);
  std::filesystem::remove(file);
  EXPECT_THROW(meter_sim::MakeSimulatorOptions(cli), std::runtime_error);
}

// --- The program itself ------------------------------------------------------

class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    if (pipe(out_) != 0 || pipe(err_) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_[1], 2);
    for (int fd : {out_[0], out_[1], err_[0], err_[1]}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<std::string> full = {METER_SIM_EXE};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, METER_SIM_EXE, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out_[1]);
    close(err_[1]);
    out_[1] = err_[1] = -1;
  }

  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_[0], err_[0]}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Started() const { return pid_ > 0; }

  // First line of standard output, without the newline.
  std::string ReadLine(std::chrono::milliseconds timeout = kSafetyTimeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_[0], POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c;
      if (read(out_[0], &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  static std::string Drain(int fd) {
    std::string all;
    char buf[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      all.append(buf, static_cast<std::size_t>(n));
    }
    return all;
  }
  std::string Stdout() { return Drain(out_[0]); }
  std::string Stderr() { return Drain(err_[0]); }

  void Signal(int sig) { kill(pid_, sig); }

  // The exit code, or -1 if it did not exit (normally) in time.
  int Wait(std::chrono::milliseconds timeout = kSafetyTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int out_[2] = {-1, -1};
  int err_[2] = {-1, -1};
};

std::filesystem::path TempPath(const std::string& stem) {
  return std::filesystem::temp_directory_path() / (stem + "_" + std::to_string(::getpid()));
}

TEST(Program, ServesTheSlaveItPrintsAndCleansUpOnSignals) {
  for (int sig : {SIGTERM, SIGINT}) {
    const std::filesystem::path link = TempPath("meter_sim_prog_link");
    std::filesystem::remove(link);
    Program prog({"--unpaced", "--link", link.string(), "--clock", "08:00:00", "--verbose"});
    ASSERT_TRUE(prog.Started());
    const std::string slave = prog.ReadLine();
    ASSERT_FALSE(slave.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), slave);

    PtyClient client(link.string());
    ASSERT_TRUE(client.IsOpen()) << client.Error();
    client.Write(meter_sim::MakeFrame("GETVER"));
    EXPECT_EQ(Text(client.ReadExactly(25)), "MXR-420 EMF Meter V1.12\r\n");
    client.Close();

    prog.Signal(sig);
    EXPECT_EQ(prog.Wait(), 0) << "signal " << sig;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    const std::string log = prog.Stderr();
    EXPECT_NE(log.find("GETVER"), std::string::npos) << log;
    EXPECT_NE(log.find("3C 47 45 54 56 45 52 3E 3E"), std::string::npos) << log;
  }
}

TEST(Program, ExitsByItselfAfterClosingTheLine) {
  Program prog({"--unpaced", "--close-after-pages", "1"});
  ASSERT_TRUE(prog.Started());
  const std::string slave = prog.ReadLine();
  ASSERT_FALSE(slave.empty());
  PtyClient client(slave);
  ASSERT_TRUE(client.IsOpen()) << client.Error();
  client.Write(meter_sim::MakeSpirFrame(0, 0x1000));
  EXPECT_EQ(client.ReadExactly(4096).size(), 4096u);
  EXPECT_TRUE(client.WaitForHangup());
  EXPECT_EQ(prog.Wait(), 0);
}

TEST(Program, DumpsTheMemoryItWouldServe) {
  const std::filesystem::path file = TempPath("meter_sim_dump");
  Program prog({"--pages", "3", "--seed", "9", "--interval", "5", "--dump-memory", file.string()});
  ASSERT_TRUE(prog.Started());
  ASSERT_EQ(prog.Wait(), 0);
  std::ifstream in(file, std::ios::binary);
  const std::vector<uint8_t> dumped((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
  EXPECT_EQ(dumped, meter_sim::BuildLoggingMemory({.seed = 9, .pages = 3, .interval_s = 5}));
  std::filesystem::remove(file);
}

TEST(Program, HelpAndUsageErrors) {
  Program help({"--help"});
  ASSERT_TRUE(help.Started());
  const std::string text = help.Stdout();
  EXPECT_EQ(help.Wait(), 0);
  for (const char* option : {"--link", "--unpaced", "--latency", "--pages", "--full", "--memory",
                             "--interval", "--seed", "--verbose", "--close-after-pages"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }

  Program bad({"--pages", "999"});
  ASSERT_TRUE(bad.Started());
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_NE(bad.Stderr().find("--pages"), std::string::npos);

  Program missing({"--memory", TempPath("meter_sim_no_such_file").string()});
  ASSERT_TRUE(missing.Started());
  EXPECT_EQ(missing.Wait(), 1);
}

}  // namespace
}  // namespace sim_test
