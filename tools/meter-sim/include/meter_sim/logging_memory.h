// The meter's 1 MiB logging memory (a serial flash chip) and a generator for
// believable contents.
//
// Record formats, laid back to back from address 0, each at an even offset:
//   time stamp, 8 bytes:  55 AA  yy mm dd hh mi ss   (yy = year within the century)
//   sample, 12 bytes:     AA 55  B(2)  E(4)  S(4)
//     B: magnetic field, unsigned 16 bits, most significant byte first:
//        bits 15..4 whole milligauss (0..4095), bits 3..0 tenths (0..9)
//     E: electric field in V/m, IEEE-754 single, least significant byte first
//     S: RF power density in pW/cm2, IEEE-754 single, least significant byte first
//   filler, 2 bytes:      00 00  (readers skip unknown pairs two bytes at a time)
// Erased flash reads 0xFF.
//
// A reader fetches the memory page by page (4096 bytes) and stops after the
// first page whose last two bytes are FF FF. The generator therefore keeps
// the data of every page in use away from that pattern:
//   - when a record would put FF FF into the last two bytes of a page (the
//     low mantissa bytes of a float can), a 00 00 filler is written in front
//     of it, shifting it by two bytes, as often as needed;
//   - the data ends before the last two bytes of the last page in use, so
//     that page ends in FF FF and the reader stops there;
//   - with all 256 pages in use, the space left after the last whole record
//     is padded with fillers, so no page ends in FF FF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace meter_sim {

inline constexpr std::size_t kMemoryBytes = 1u << 20;
inline constexpr std::size_t kPageBytes = 4096;
inline constexpr int kPageCount = 256;
inline constexpr std::size_t kStampBytes = 8;
inline constexpr std::size_t kSampleBytes = 12;
inline constexpr uint8_t kErased = 0xFF;

struct DateTime {
  int year = 2026;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const DateTime&) const = default;
};

struct MemoryOptions {
  uint64_t seed = 1;
  // Pages holding data (0..256). 256 means the memory is full.
  int pages = 40;
  // Seconds between samples, as set on the meter's logger.
  int interval_s = 10;
  // Within a logging session the meter writes a fresh time stamp every this
  // many samples; a new session always starts with one.
  int stamp_every = 60;
  // Length of a logging session, in samples, drawn between these bounds.
  int min_session_samples = 200;
  int max_session_samples = 3000;
  // When the first session started.
  DateTime start = {2026, 1, 12, 8, 30, 0};
};

// The full 1 MiB memory image. Deterministic: the same options give the same
// bytes on every platform.
std::vector<uint8_t> BuildLoggingMemory(const MemoryOptions& options);

// Reads a raw memory image; shorter files are padded with 0xFF (erased).
// Throws std::runtime_error if the file cannot be read or exceeds 1 MiB.
std::vector<uint8_t> LoadLoggingMemory(const std::string& path);

// Pages a reader would fetch that hold data: up to and including the first
// page ending in FF FF, unless that page is entirely erased; 256 when no page
// ends in FF FF.
int PagesInUse(std::span<const uint8_t> memory);

std::array<uint8_t, kStampBytes> EncodeTimeStamp(const DateTime& when);
// The magnetic word: whole milligauss in bits 15..4, tenths in bits 3..0,
// rounded to the nearest tenth and clamped to 0 .. 4095.9.
uint16_t EncodeMagnetic(double milligauss);
std::array<uint8_t, kSampleBytes> EncodeSample(double milligauss, float volts_per_metre,
                                               float picowatts_per_cm2);

// Lays records into a memory image, keeping the page-end rule above.
class MemoryWriter {
 public:
  // Records may occupy bytes [0, limit); limit must be even and <= 1 MiB.
  explicit MemoryWriter(std::size_t limit);

  // Appends a record (even length) after any fillers it needs. Returns false,
  // writing nothing, if it does not fit below the limit.
  bool Append(std::span<const uint8_t> record);
  // Fills the space up to the limit with fillers.
  void PadToLimit();

  std::size_t Offset() const { return offset_; }
  std::size_t Fillers() const { return fillers_; }
  const std::vector<uint8_t>& Image() const { return image_; }
  std::vector<uint8_t> TakeImage() { return std::move(image_); }

 private:
  bool HitsErasedPageEnd(std::size_t at, std::span<const uint8_t> record) const;

  std::vector<uint8_t> image_;
  std::size_t limit_;
  std::size_t offset_ = 0;
  std::size_t fillers_ = 0;
};

}  // namespace meter_sim
