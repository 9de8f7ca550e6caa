// Command line of the meter-sim program, kept in the library so it can be
// tested without starting a process.
#pragma once

#include <string>

#include "meter_sim/logging_memory.h"
#include "meter_sim/simulator.h"

namespace meter_sim {

struct CliOptions {
  bool help = false;
  std::string link;
  bool paced = true;
  int baud = 115200;
  int latency_ms = 5;
  MemoryOptions memory;
  std::string memory_file;  // load the logging memory instead of generating it
  int slots = 3;            // stored screenshots in slots 1..slots
  bool clock_set = false;   // false: the program uses the local time of day
  int clock_start = 0;      // seconds since midnight
  std::string dump_memory;  // write the memory image here and exit
  bool verbose = false;
  Misbehaviour misbehaviour;
};

// Parses argv[1..argc-1]. Accepts "--name value" and "--name=value". On
// failure returns false with a message in `error`.
bool ParseCommandLine(int argc, const char* const* argv, CliOptions& out, std::string& error);

std::string UsageText();

// Builds the simulator options (generating or loading the logging memory).
// Throws std::runtime_error if the memory file cannot be used.
SimulatorOptions MakeSimulatorOptions(const CliOptions& cli);

}  // namespace meter_sim
