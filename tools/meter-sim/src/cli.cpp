#include "meter_sim/cli.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>

namespace meter_sim {
namespace {

template <typename T>
bool ParseNumber(const std::string& text, T min, T max, T& out) {
  T v{};
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end || v < min || v > max) return false;
  out = v;
  return true;
}

bool ParseClock(const std::string& text, int& out) {
  int h = 0, m = 0, s = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d%c", &h, &m, &s, &tail) != 3) return false;
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return false;
  out = h * 3600 + m * 60 + s;
  return true;
}

}  // namespace

std::string UsageText() {
  return R"(Usage: meter-sim [options]

Simulates an MXR-420 field meter on a pseudo-terminal. The first line of
standard output is the serial device to open (e.g. /dev/pts/7). Runs until
SIGINT, SIGTERM or SIGHUP; does not read standard input.

Line:
  --link PATH         also create PATH as a symbolic link to the device
                      (removed again on exit)
  --unpaced           write replies at once instead of at line speed
  --baud N            line speed used for pacing, 8N1 (default 115200)
  --latency MS        delay before the meter starts a reply (default 5)
  --verbose           log every frame received and every reply to stderr

Meter:
  --pages N           pages (4096 bytes) of logging memory in use, 0..256
                      (default 40)
  --full              all 256 pages in use
  --memory FILE       load the logging memory from a raw image (up to 1 MiB,
                      padded with 0xFF)
  --interval S        logger sample interval in seconds (default 10)
  --seed N            seed of the generated data and of the live readings
                      (default 1)
  --slots N           stored screenshots in slots 1..N, 0..4 (default 3)
  --clock HH:MM:SS    meter clock at start (default: local time of day)
  --dump-memory FILE  write the 1 MiB logging memory to FILE and exit

Misbehaviour (all off by default):
  --only CMD          apply the options below only to CMD frames
                      (e.g. SPIR, GETSCREEN)
  --late MS           answer MS milliseconds late
  --split BYTES       send replies in pieces of BYTES bytes ...
  --split-pause MS    ... with MS milliseconds between pieces (default 100)
  --junk N            send N junk bytes before each reply
  --cut N             drop the last N bytes of each reply
  --ignore N          ignore the first N frames completely
  --close-after-pages N
                      close the line (as if unplugged) after N SPIR replies
                      and exit
  --silent            act on commands but never answer

  --help              show this text
)";
}

bool ParseCommandLine(int argc, const char* const* argv, CliOptions& out, std::string& error) {
  CliOptions o;
  o.misbehaviour.split_pause_ms = 100;

  using Handler = std::function<bool(const std::string&)>;
  const std::map<std::string, Handler> with_value = {
      {"link", [&](const std::string& v) { return !(o.link = v).empty(); }},
      {"baud", [&](const std::string& v) { return ParseNumber(v, 50, 4000000, o.baud); }},
      {"latency", [&](const std::string& v) { return ParseNumber(v, 0, 600000, o.latency_ms); }},
      {"pages",
       [&](const std::string& v) { return ParseNumber(v, 0, kPageCount, o.memory.pages); }},
      {"memory", [&](const std::string& v) { return !(o.memory_file = v).empty(); }},
      {"interval",
       [&](const std::string& v) { return ParseNumber(v, 1, 86400, o.memory.interval_s); }},
      {"seed",
       [&](const std::string& v) {
         return ParseNumber<uint64_t>(v, 0, UINT64_MAX, o.memory.seed);
       }},
      {"slots", [&](const std::string& v) { return ParseNumber(v, 0, kSlotCount, o.slots); }},
      {"clock", [&](const std::string& v) { return o.clock_set = ParseClock(v, o.clock_start); }},
      {"dump-memory", [&](const std::string& v) { return !(o.dump_memory = v).empty(); }},
      {"only", [&](const std::string& v) { return !(o.misbehaviour.only_command = v).empty(); }},
      {"late",
       [&](const std::string& v) {
         return ParseNumber(v, 0, 600000, o.misbehaviour.extra_delay_ms);
       }},
      {"split",
       [&](const std::string& v) {
         return ParseNumber<std::size_t>(v, 1, 1u << 20, o.misbehaviour.split_bytes);
       }},
      {"split-pause",
       [&](const std::string& v) {
         return ParseNumber(v, 0, 600000, o.misbehaviour.split_pause_ms);
       }},
      {"junk",
       [&](const std::string& v) {
         return ParseNumber<std::size_t>(v, 0, 1u << 20, o.misbehaviour.junk_bytes);
       }},
      {"cut",
       [&](const std::string& v) {
         return ParseNumber<std::size_t>(v, 0, 1u << 20, o.misbehaviour.cut_bytes);
       }},
      {"ignore",
       [&](const std::string& v) {
         return ParseNumber(v, 0, INT_MAX, o.misbehaviour.ignore_requests);
       }},
      {"close-after-pages",
       [&](const std::string& v) {
         return ParseNumber(v, 1, INT_MAX, o.misbehaviour.close_after_spir);
       }},
  };
  const std::map<std::string, std::function<void()>> flags = {
      {"help", [&] { o.help = true; }},
      {"unpaced", [&] { o.paced = false; }},
      {"verbose", [&] { o.verbose = true; }},
      {"full", [&] { o.memory.pages = kPageCount; }},
      {"silent", [&] { o.misbehaviour.silent = true; }},
  };

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool has_value = false;
    if (const auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      has_value = true;
    }
    if (const auto f = flags.find(name); f != flags.end()) {
      if (has_value) {
        error = "--" + name + " takes no value";
        return false;
      }
      f->second();
      continue;
    }
    const auto h = with_value.find(name);
    if (h == with_value.end()) {
      error = "unknown option --" + name;
      return false;
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        error = "--" + name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (!h->second(value)) {
      error = "bad value '" + value + "' for --" + name;
      return false;
    }
  }
  out = std::move(o);
  return true;
}

SimulatorOptions MakeSimulatorOptions(const CliOptions& cli) {
  SimulatorOptions options;
  MeterConfig& meter = options.meter;
  if (cli.memory_file.empty()) {
    meter = DefaultMeterConfig(cli.memory);
  } else {
    meter = DefaultMeterConfig(MemoryOptions{.seed = cli.memory.seed, .pages = 0});
    meter.memory = LoadLoggingMemory(cli.memory_file);
    meter.state.log_pages = PagesInUse(meter.memory);
    meter.state.log_interval_s = cli.memory.interval_s;
  }
  meter.slots = DefaultStoredScreens(cli.slots, cli.memory.seed);
  if (cli.clock_set) meter.state.clock_start = cli.clock_start;
  options.paced = cli.paced;
  options.baud = cli.baud;
  options.latency_ms = cli.latency_ms;
  options.link_path = cli.link;
  options.misbehaviour = cli.misbehaviour;
  return options;
}

}  // namespace meter_sim
