#include "history/history_csv.h"

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kHeader =
    "MXR-420 Data Logged History\n"
    ",EMF,EF,RF Power Density\n"
    "Date and Time,mG,V/m,mW/m2,mW/cm2,pW/cm2\n";

constexpr std::size_t kImageSize = 1048576;

struct Stamp {
  std::uint8_t year, month, day, hour, minute, second;
};

// A memory image, zero like the reader leaves it, with records placed at chosen offsets.
class Image {
 public:
  explicit Image(std::size_t size = kImageSize) : bytes_(size, 0) {}

  // Places a time stamp at `offset`; returns the offset after it.
  std::size_t PutStamp(std::size_t offset, Stamp s) {
    Put(offset, {0x55, 0xAA, s.year, s.month, s.day, s.hour, s.minute, s.second});
    return offset + 8;
  }

  // Places a sample at `offset`; returns the offset after it.
  std::size_t PutSample(std::size_t offset, std::uint16_t field, float electric, float rf) {
    Put(offset, {0xAA, 0x55, static_cast<std::uint8_t>(field >> 8),
                 static_cast<std::uint8_t>(field & 0xFF)});
    PutFloat(offset + 4, electric);
    PutFloat(offset + 8, rf);
    return offset + 12;
  }

  void Put(std::size_t offset, std::vector<std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes_.at(offset + i) = bytes[i];
  }

  // The records' floats are little-endian on the meter whatever this machine's order is.
  void PutFloat(std::size_t offset, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    Put(offset, {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                 static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)});
  }

  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// The CSV text for `image` read up to `readLength`, without the three header lines, which are
// checked to come first.
std::string Body(Image& image, std::size_t readLength) {
  std::string text;
  WriteHistoryCsv(image.bytes(), readLength, [&](std::string_view piece) { text += piece; }, {});
  EXPECT_EQ(text.substr(0, kHeader.size()), kHeader);
  return text.size() >= kHeader.size() ? text.substr(kHeader.size()) : text;
}

constexpr Stamp kMarch15{24, 3, 15, 14, 30, 5};
constexpr Stamp kJan2{25, 1, 2, 3, 4, 5};
constexpr Stamp kDec31{25, 12, 31, 23, 59, 59};

TEST(HistoryCsv, AnEmptyOrErasedMemoryGivesTheHeaderOnly) {
  Image zero;
  EXPECT_EQ(Body(zero, kImageSize), "");
  EXPECT_EQ(Body(zero, 0), "");
  Image erased;
  std::fill(erased.bytes().begin(), erased.bytes().end(), 0xFF);
  EXPECT_EQ(Body(erased, kImageSize), "");
}

TEST(HistoryCsv, AStampAndItsSampleShareALine) {
  Image image;
  image.PutSample(image.PutStamp(0, kMarch15), 0x07B3, 12.34f, 150000.0f);
  EXPECT_EQ(Body(image, 4096), "_2024/03/15 14:30:05,123.3,12.3,1.500,.000,150000.000\n");
}

TEST(HistoryCsv, StampFieldsAreTwoDigitsAndTheYearGetsItsCentury) {
  Image image;
  image.PutStamp(0, {5, 1, 2, 3, 4, 0});
  EXPECT_EQ(Body(image, 4096), "_2005/01/02 03:04:00");
  // Impossible dates from a damaged memory are still written as the numbers they are.
  Image odd;
  odd.PutStamp(0, {200, 100, 10, 99, 0, 255});
  EXPECT_EQ(Body(odd, 4096), "_20200/100/10 99:00:255");
}

TEST(HistoryCsv, TheFieldWordHoldsWholeAndTenths) {
  Image image;
  std::size_t at = image.PutSample(0, 0x07B3, 0, 0);
  at = image.PutSample(at, 0x0000, 0, 0);
  image.PutSample(at, 0xFFF9, 0, 0);
  EXPECT_EQ(Body(image, 4096),
            ",123.3,.0,.000,.000,.000\n"
            ",0.0,.0,.000,.000,.000\n"
            ",4095.9,.0,.000,.000,.000\n");
}

TEST(HistoryCsv, TenthsBeyondNineCarryIntoTheWholePart) {
  Image image;
  std::size_t at = image.PutSample(0, (123 << 4) | 12, 0, 0);
  at = image.PutSample(at, (123 << 4) | 10, 0, 0);
  at = image.PutSample(at, (9 << 4) | 15, 0, 0);
  image.PutSample(at, 0xFFFF, 0, 0);
  EXPECT_EQ(Body(image, 4096),
            ",124.2,.0,.000,.000,.000\n"
            ",124.0,.0,.000,.000,.000\n"
            ",10.5,.0,.000,.000,.000\n"
            ",4096.5,.0,.000,.000,.000\n");
}

TEST(HistoryCsv, RfQuotientsAreRoundedToSinglePrecision) {
  // 14328500224 pW/cm2 is 143285.00224 mW/m2 and 14.328500224 mW/cm2 in double precision,
  // but 143285 and 14.3284998 once kept as floats.
  Image image;
  image.PutSample(0, 0, 0, 14328500224.0f);
  EXPECT_EQ(Body(image, 4096), ",0.0,.0,143285.000,14.328,14328500224.000\n");
}

TEST(HistoryCsv, LargeAndNotFiniteReadingsAreWrittenInFull) {
  Image image;
  std::size_t at = image.PutSample(0, 0, std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity());
  at = image.PutSample(at, 0, -std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::max());
  image.PutSample(at, 0, -0.04f, 987654.3f);
  EXPECT_EQ(Body(image, 4096),
            ",0.0,nan,inf,inf,inf\n"
            ",0.0,-inf,3402823583246828306656939785322496.000,"
            "340282357297095883993259180032.000,340282346638528859811704183484516925440.000\n"
            ",0.0,.0,9.877,.001,987654.312\n");
}

TEST(HistoryCsv, LinesFollowTheOrderOfStampsAndSamples) {
  // stamp, sample, sample, stamp, stamp, sample: the stamp followed by a stamp stands alone.
  Image image;
  std::size_t at = image.PutStamp(0, kMarch15);
  at = image.PutSample(at, 0x0010, 1.0f, 0);
  at = image.PutSample(at, 0x0020, 2.0f, 0);
  at = image.PutStamp(at, kJan2);
  at = image.PutStamp(at, kDec31);
  image.PutSample(at, 0x0030, 3.0f, 0);
  EXPECT_EQ(Body(image, 4096),
            "_2024/03/15 14:30:05,1.0,1.0,.000,.000,.000\n"
            ",2.0,2.0,.000,.000,.000\n"
            "_2025/01/02 03:04:05\n"
            "_2025/12/31 23:59:59,3.0,3.0,.000,.000,.000\n");
}

TEST(HistoryCsv, AFinalStampEndsTheFileWithoutALineEnd) {
  Image image;
  image.PutStamp(image.PutSample(0, 0x0010, 1.0f, 0), kJan2);
  EXPECT_EQ(Body(image, 4096), ",1.0,1.0,.000,.000,.000\n_2025/01/02 03:04:05");
}

TEST(HistoryCsv, MarkersAtOddOffsetsAreNeverSeen) {
  Image image;
  image.PutStamp(1, kMarch15);
  image.PutSample(101, 0x07B3, 1.0f, 0);
  EXPECT_EQ(Body(image, 4096), "");
}

TEST(HistoryCsv, OtherBytePairsAreSkippedTwoBytesAtATime) {
  Image image;
  std::size_t at = 0;
  for (std::vector<std::uint8_t> pair :
       {std::vector<std::uint8_t>{0x55, 0x55}, {0xAA, 0xAA}, {0xAA, 0x00}, {0x00, 0x55}}) {
    image.Put(at, pair);
    at = image.PutStamp(at + 2, kJan2);
  }
  EXPECT_EQ(Body(image, 4096),
            "_2025/01/02 03:04:05\n_2025/01/02 03:04:05\n_2025/01/02 03:04:05\n"
            "_2025/01/02 03:04:05");
}

TEST(HistoryCsv, OnlyMarkersBelowTheReadLengthCount) {
  Image image;
  image.PutStamp(4088, kJan2);
  image.PutStamp(4096, kDec31);
  EXPECT_EQ(Body(image, 4096), "_2025/01/02 03:04:05");
}

TEST(HistoryCsv, ARecordCutByTheReadLengthIsCompletedFromTheImage) {
  // Beyond the read length the image is zero: the record is finished with zero bytes.
  Image image;
  image.Put(4094, {0xAA, 0x55});
  EXPECT_EQ(Body(image, 4096), ",0.0,.0,.000,.000,.000\n");
  Image stamp;
  stamp.Put(4094, {0x55, 0xAA});
  EXPECT_EQ(Body(stamp, 4096), "_2000/00/00 00:00:00");
}

TEST(HistoryCsv, RecordsThatFitExactlyAtTheImageEndAreWritten) {
  Image image;
  image.PutStamp(kImageSize - 20, kJan2);
  image.PutSample(kImageSize - 12, 0x0010, 1.0f, 0);
  EXPECT_EQ(Body(image, kImageSize), "_2025/01/02 03:04:05,1.0,1.0,.000,.000,.000\n");
}

TEST(HistoryCsv, RecordsRunningPastTheImageEndAreDropped) {
  for (std::size_t fromEnd : {10u, 8u, 6u, 4u, 2u}) {
    SCOPED_TRACE(fromEnd);
    Image sample;
    sample.PutStamp(0, kJan2);
    sample.Put(kImageSize - fromEnd, {0xAA, 0x55});
    if (fromEnd > 2) sample.Put(kImageSize - fromEnd + 2, {0x01, 0x00});
    EXPECT_EQ(Body(sample, kImageSize), "_2025/01/02 03:04:05");
  }
  for (std::size_t fromEnd : {6u, 4u, 2u}) {
    SCOPED_TRACE(fromEnd);
    Image stamp;
    stamp.Put(kImageSize - fromEnd, {0x55, 0xAA});
    EXPECT_EQ(Body(stamp, kImageSize), "");
  }
}

TEST(HistoryCsv, BytesOfADroppedRecordAreNotReadAsRecords) {
  // A cut sample's bytes are its own payload, even where they look like a stamp.
  Image image;
  image.Put(kImageSize - 10, {0xAA, 0x55});
  image.PutStamp(kImageSize - 8, kJan2);
  EXPECT_EQ(Body(image, kImageSize), "");
}

TEST(HistoryCsv, WorksOnImagesOfAnySize) {
  Image small(20);
  small.PutSample(small.PutStamp(0, kMarch15), 0x07B3, 12.34f, 150000.0f);
  EXPECT_EQ(Body(small, 4096), "_2024/03/15 14:30:05,123.3,12.3,1.500,.000,150000.000\n");
  Image odd(5);
  odd.Put(0, {0x00, 0x00, 0x00, 0x00, 0x55});
  EXPECT_EQ(Body(odd, 5), "");
}

TEST(HistoryCsv, YieldsOncePerStepThroughTheImage) {
  Image image(40);
  image.PutSample(image.PutStamp(0, kMarch15), 0x07B3, 12.34f, 150000.0f);
  int yields = 0;
  WriteHistoryCsv(
      image.bytes(), 40, [](std::string_view) {}, [&] { ++yields; });
  // One stamp, one sample and ten empty pairs.
  EXPECT_EQ(yields, 12);
}

}  // namespace
