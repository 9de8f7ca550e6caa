#include "history/history_csv.h"

#include <bit>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kImageSize = 1048576;

// The floats are little-endian on the meter whatever this machine's order is.
Bytes Sample(std::uint16_t field, float electric, float rf) {
  Bytes r{0xAA, 0x55, static_cast<std::uint8_t>(field >> 8), static_cast<std::uint8_t>(field)};
  for (float f : {electric, rf}) {
    const auto bits = std::bit_cast<std::uint32_t>(f);
    for (int s = 0; s < 32; s += 8) r.push_back(static_cast<std::uint8_t>(bits >> s));
  }
  return r;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// An image of `size` bytes, zero like the reader leaves it, starting with `records`.
Bytes Image(Bytes records, std::size_t size = kImageSize) {
  records.resize(size);
  return records;
}

// The CSV text after the header, which must come first.
std::string Body(const Bytes& image, std::size_t readLength) {
  const std::string header =
      "MXR-420 Data Logged History\n,EMF,EF,RF Power Density\n"
      "Date and Time,mG,V/m,mW/m2,mW/cm2,pW/cm2\n";
  std::string text;
  WriteHistoryCsv(image, readLength, [&](std::string_view piece) { text += piece; }, {});
  EXPECT_EQ(text.substr(0, header.size()), header);
  return text.substr(std::min(text.size(), header.size()));
}

// Stamps: marker, then year, month, day, hour, minute, second.
const Bytes kMarch15{0x55, 0xAA, 24, 3, 15, 14, 30, 5};
const Bytes kJan2{0x55, 0xAA, 9, 1, 2, 3, 4, 5};
const std::string kJan2Text = "_2009/01/02 03:04:05";

TEST(HistoryCsv, SamplesAreWrittenFieldByField) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const struct {
    std::uint16_t field;
    float electric, rf;
    const char* line;
  } cases[] = {
      {0x07B3, 12.34f, 150000.0f, ",123.3,12.3,1.500,.000,150000.000\n"},
      // Tenths of 10..15 from a damaged memory carry into the whole part.
      {(123 << 4) | 12, 0, 0, ",124.2,.0,.000,.000,.000\n"},
      {0xFFFF, 0, 0, ",4096.5,.0,.000,.000,.000\n"},
      // 143285.00224 mW/m2 and 14.328500224 mW/cm2 in double, 143285 and 14.3284998 as floats.
      {0, 0, 14328500224.0f, ",0.0,.0,143285.000,14.328,14328500224.000\n"},
      {0, std::numeric_limits<float>::quiet_NaN(), kInf, ",0.0,nan,inf,inf,inf\n"},
  };
  // The sample fills the image exactly.
  for (const auto& c : cases)
    EXPECT_EQ(Body(Image(Sample(c.field, c.electric, c.rf), 12), kImageSize), c.line);
}

// Records are read only below the read length, those starting there are completed with zeros
// and those running past the image end are dropped.
TEST(HistoryCsv, StampsStartLinesSamplesCloseThemAndOnlyWholeRecordsCount) {
  const struct {
    Bytes image;
    std::size_t readLength;
    std::string body;
  } cases[] = {
      {Bytes(kImageSize, 0xFF), kImageSize, ""},
      // stamp, sample, sample, stamp, stamp, sample: the stamp followed by a stamp stands alone.
      {Image(kMarch15 + Sample(0x0010, 1, 0) + Sample(0x0020, 2, 0) +
             Bytes{0x55, 0xAA, 5, 9, 9, 9, 9, 9} + Bytes{0x55, 0xAA, 25, 12, 31, 23, 59, 59} +
             Sample(0x0030, 3, 0)),
       4096,
       "_2024/03/15 14:30:05,1.0,1.0,.000,.000,.000\n,2.0,2.0,.000,.000,.000\n"
       "_2005/09/09 09:09:09\n_2025/12/31 23:59:59,3.0,3.0,.000,.000,.000\n"},
      // Only markers at even offsets count; a final stamp ends the text without a line end.
      {Image(Bytes{0} + kMarch15 + Sample(0x07B3, 1, 0) + Bytes{0, 0x55, 0x55} + kJan2 +
             Bytes{0xAA, 0xAA} + kJan2 + Bytes{0xAA, 0x00} + kJan2 + Bytes{0x00, 0x55} + kJan2),
       4096, kJan2Text + "\n" + kJan2Text + "\n" + kJan2Text + "\n" + kJan2Text},
      {Image(Bytes(4088) + kJan2 + kMarch15), 4096, kJan2Text},
      {Image(Bytes(4094) + Bytes{0xAA, 0x55}), 4096, ",0.0,.0,.000,.000,.000\n"},
      {Image(Bytes(4094) + Bytes{0x55, 0xAA}), 4096, "_2000/00/00 00:00:00"},
      {Image(kJan2, 8), kImageSize, kJan2Text},
      {Image({0x55, 0xAA}, 6), kImageSize, ""},
      // A cut sample's bytes are its own payload, even where they look like a stamp.
      {Image(Bytes{0xAA, 0x55} + kJan2, 10), kImageSize, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Body(c.image, c.readLength), c.body) << c.body;
}

TEST(HistoryCsv, YieldsOncePerStepThroughTheImage) {
  int yields = 0;
  WriteHistoryCsv(
      Image(kMarch15 + Sample(0x07B3, 1, 0), 40), 40, [](std::string_view) {}, [&] { ++yields; });
  EXPECT_EQ(yields, 12);  // one stamp, one sample and ten empty pairs
}

}  // namespace
