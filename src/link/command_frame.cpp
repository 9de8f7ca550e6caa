#include "link/command_frame.h"

#include <stdexcept>

std::string CommandFrame(std::string_view name, std::string_view argument) {
  std::string frame;
  frame.reserve(name.size() + argument.size() + 3);
  frame += '<';
  frame += name;
  frame += argument;
  frame += ">>";
  return frame;
}

std::string SpirFrame(std::uint32_t pageAddress) {
  const char argument[] = {
      static_cast<char>((pageAddress >> 16) & 0xFF),
      static_cast<char>((pageAddress >> 8) & 0xFF),
      static_cast<char>(pageAddress & 0xFF),
      static_cast<char>(0x10),  // page length 4096, most significant byte first
      static_cast<char>(0x00),
  };
  return CommandFrame("SPIR", std::string_view(argument, sizeof argument));
}

namespace {

std::string SlotDigit(int slot) {
  // A slot outside the meter's four would send a command the meter does not know and leave the
  // transfer waiting for a reply that never comes: refuse it where the mistake is made.
  if (slot < 1 || slot > 4) throw std::out_of_range("screenshot slot must be 1..4");
  return std::string(1, static_cast<char>('0' + slot));
}

}  // namespace

std::string ScreenshotInfoFrame(int slot) { return CommandFrame("GETSSN", SlotDigit(slot)); }

std::string ScreenshotImageFrame(int slot) { return CommandFrame("GETSS", SlotDigit(slot)); }
