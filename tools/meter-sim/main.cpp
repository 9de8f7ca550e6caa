// meter-sim: a simulated MXR-420 on a pseudo-terminal.
//
// Prints the slave device path on the first line of standard output, then
// serves the meter protocol until SIGINT, SIGTERM or SIGHUP (or until it
// closes the line on purpose). Does not read standard input, so it can run
// in the background.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "meter_sim/cli.h"
#include "meter_sim/simulator.h"

namespace {

volatile std::sig_atomic_t g_signal = 0;

void OnSignal(int sig) { g_signal = sig; }

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

int LocalTimeOfDay() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

void PrintFrame(const meter_sim::FrameRecord& f) {
  std::string label = f.name;
  if (f.arg.size() == 1) label += static_cast<char>(f.arg[0]);
  std::fprintf(stderr, "[%10.3f] %-12s %s  (%s)\n", f.time_s, label.c_str(), f.hex.c_str(),
               f.outcome.c_str());
}

void PrintReply(const meter_sim::ReplyRecord& r) {
  std::fprintf(stderr, "[%10.3f] -> %zu bytes in %zu piece(s) for %s%s%s%s\n", r.end_s, r.bytes,
               r.pieces, r.command.c_str(), r.junk ? ", junk first" : "",
               r.cut ? ", cut short" : "", r.complete ? "" : ", interrupted");
}

}  // namespace

int main(int argc, char** argv) {
  meter_sim::CliOptions cli;
  std::string error;
  if (!meter_sim::ParseCommandLine(argc, argv, cli, error)) {
    std::fprintf(stderr, "meter-sim: %s\nTry 'meter-sim --help'.\n", error.c_str());
    return 2;
  }
  if (cli.help) {
    std::fputs(meter_sim::UsageText().c_str(), stdout);
    return 0;
  }

  try {
    meter_sim::SimulatorOptions options = meter_sim::MakeSimulatorOptions(cli);
    if (!cli.clock_set) options.meter.state.clock_start = LocalTimeOfDay();

    if (!cli.dump_memory.empty()) {
      std::ofstream out(cli.dump_memory, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(options.meter.memory.data()),
                static_cast<std::streamsize>(options.meter.memory.size()));
      if (!out) {
        std::fprintf(stderr, "meter-sim: cannot write %s\n", cli.dump_memory.c_str());
        return 1;
      }
      return 0;
    }

    if (cli.verbose) {
      options.on_frame = PrintFrame;
      options.on_reply = PrintReply;
    }
    options.on_line_closed = [] {
      std::fprintf(stderr, "meter-sim: line closed on purpose after the requested SPIR replies\n");
    };

    InstallSignalHandlers();
    meter_sim::Simulator sim(std::move(options));
    sim.Start();
    std::printf("%s\n", sim.SlavePath().c_str());
    std::fflush(stdout);
    if (cli.verbose) {
      std::fprintf(stderr, "meter-sim: serving on %s%s%s (%s)\n", sim.SlavePath().c_str(),
                   cli.link.empty() ? "" : " via ", cli.link.c_str(),
                   cli.paced ? "paced at line speed" : "unpaced");
    }
    while (g_signal == 0 && sim.Running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    sim.Stop();
    if (cli.verbose && g_signal != 0) std::fprintf(stderr, "meter-sim: stopped by signal\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "meter-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
