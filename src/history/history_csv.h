// Decodes a history image (see history_reader.h) into the CSV text of a history export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

// Writes the CSV for the first `readLength` bytes of `image` to `sink`, in pieces (at most one
// per record). `yield` (may be empty) is called once per two bytes scanned, to let cooperative
// threads run during long exports.
//
// The memory holds records at even offsets:
//   55 AA  yy mm dd hh mi ss              a time stamp; starts a line "_20yy/mm/dd hh:mi:ss"
//   AA 55  w w  ef ef ef ef  rf rf rf rf  a sample: magnetic field word (12.4 bits, tenths in
//                                         the low nibble, most significant byte first), then
//                                         electric field and RF power density as little-endian
//                                         IEEE floats
// Any other byte pair is skipped. A stamp and the sample after it share one line.
void WriteHistoryCsv(std::span<const std::uint8_t> image, std::size_t readLength,
                     const std::function<void(std::string_view)>& sink,
                     const std::function<void()>& yield);
