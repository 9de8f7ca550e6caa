#pragma once
// The pieces of the port listing, kept apart from the system paths they
// normally read so that each can be checked on a tree of its own.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "framework/serial.h"

namespace fw::detail {

// Names in the order a person expects: runs of digits compare as numbers, so
// ttyUSB2 comes before ttyUSB10. Names of equal value that differ only in
// leading zeros ("ttyS01", "ttyS1") keep plain character order between them.
bool NaturalLess(std::string_view a, std::string_view b);

// Linux: the entries of classDir (normally /sys/class/tty) backed by a device,
// without the placeholder ttyS ports that have no UART behind them, as the
// matching nodes in devDir that exist. Sorted naturally.
std::vector<SerialPort> ScanTtyClass(const std::filesystem::path& classDir,
                                     const std::filesystem::path& devDir);

// macOS: the call-out devices (cu.*) in devDir, sorted naturally.
std::vector<SerialPort> ScanCallOutDevices(const std::filesystem::path& devDir);

// The colon-separated paths of MAGLYX_EXTRA_PORTS; empty items are skipped.
// Null reads as empty.
std::vector<SerialPort> ExtraPorts(const char* value);

}  // namespace fw::detail
