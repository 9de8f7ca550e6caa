// The command frames sent to the meter.
//
// Every command is ASCII "<" + name + optional argument + ">>": no line terminator and no
// escaping, so an argument may hold any byte (SPIR carries a binary address and length).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string CommandFrame(std::string_view name, std::string_view argument);

// Read one 4096-byte page of the logging memory: "<SPIR", the address as three bytes (most
// significant first; only bits 23-0 are sent), the length as two bytes 0x10 0x00, ">>".
// Always 12 bytes.
std::string SpirFrame(std::uint32_t pageAddress);

// Ask for the header of saved screenshot `slot` ("<GETSSN3>>") and for its image ("<GETSS3>>").
// The meter keeps four screenshots: slot must be 1..4, otherwise std::out_of_range is thrown.
std::string ScreenshotInfoFrame(int slot);
std::string ScreenshotImageFrame(int slot);

inline constexpr std::string_view kGetVersionFrame = "<GETVER>>";
inline constexpr std::string_view kGetScreenFrame = "<GETSCREEN>>";
inline constexpr std::string_view kKey0Frame = "<KEY0>>";
inline constexpr std::string_view kKey1Frame = "<KEY1>>";
inline constexpr std::string_view kKey2Frame = "<KEY2>>";
inline constexpr std::string_view kKey3Frame = "<KEY3>>";
inline constexpr std::string_view kKeyHold1Frame = "<KEYHOLD1>>";
inline constexpr std::string_view kKeyHold2Frame = "<KEYHOLD2>>";
inline constexpr std::string_view kKeyHold3Frame = "<KEYHOLD3>>";
