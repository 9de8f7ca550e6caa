// Number formatting, command frames and the history file name.

#include "framework/format.h"

#include <clocale>
#include <limits>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "history/history_file_name.h"
#include "link/command_frame.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Rounding is of the binary value: 99.95 and 0.0005 are stored just above the half, 0.25 is an
// exact half and goes to even. A value that rounds to zero loses its minus sign.
TEST(Format, RoundsToThePatternAndShowsOnlySignificantIntegerDigits) {
  const std::pair<double, const char*> one[] = {
      {0.5, ".5"},       {0, ".0"},     {0.96, "1.0"}, {99.95, "100.0"}, {0.25, ".2"},
      {-12.34, "-12.3"}, {-0.04, ".0"}, {-0.0, ".0"},  {kNaN, "nan"},    {-kInf, "-inf"}};
  for (const auto& [value, text] : one) EXPECT_EQ(fw::Format(value, "#######.0"), text);
  for (const auto& [value, text] : {std::pair(0.0005, ".001"), {-0.0004, ".000"}})
    EXPECT_EQ(fw::Format(value, "#######.000"), text);
  EXPECT_EQ(fw::Format(1e20, "#######.0"), "100000000000000000000.0");
  EXPECT_EQ(fw::Format(std::numeric_limits<float>::max(), "#######.000"),
            "340282346638528859811704183484516925440.000");
  EXPECT_EQ(fw::Format(5, "00"), "05");
  EXPECT_EQ(fw::Format(2026, "00"), "2026");
  EXPECT_EQ(fw::Format(1.5, "0.0#"), "1.5");  // '#' shows a digit only when significant
}

TEST(Str, WritesCounterIntegersExactlyAndOtherValuesShortest) {
  const std::pair<double, const char*> cases[] = {
      {1048576.0, "1048576"}, {-0.0, "0"}, {-0.001, "-0.001"}, {kNaN, "nan"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(fw::Str(value), text);
  EXPECT_EQ(fw::Str(1e15), "1000000000000000");
  EXPECT_EQ(fw::Val(fw::Str(1.0 / 3.0)), 1.0 / 3.0);
}

TEST(Val, ReadsTheLeadingNumberOrGivesZero) {
  // No exponents; the fraction is correctly rounded, not summed digit by digit.
  const std::pair<std::string, double> cases[] = {{"-7.5", -7.5}, {"+8", 8},     {"\t 12.5", 12.5},
                                                  {".5", 0.5},    {"25 mG", 25}, {"1e3", 1},
                                                  {"0.1", 0.1},   {"-", 0},      {"x12", 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(fw::Val(text), value) << text;
  EXPECT_EQ(fw::Val(std::string(400, '9')), kInf);
  EXPECT_EQ(fw::Val("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(fw::EncodeHex(std::string("\x00\x0f\xaa\xff", 4), true), "00 0F AA FF");
  EXPECT_EQ(fw::EncodeHex("\x0f\xaa", false), "0FAA");
}

// Qt applies the desktop's locale to the C library; a German one would make printf write "0,5".
TEST(GermanLocale, NumbersStillUseAPoint) {
  struct Restore {
    std::string name;
    ~Restore() { std::setlocale(LC_ALL, name.c_str()); }
  } restore{std::setlocale(LC_ALL, nullptr)};
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 missing";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(fw::Format(1.5, "#######.000"), "1.500");
  EXPECT_EQ(fw::Str(0.25), "0.25");
  EXPECT_EQ(fw::Val("2.5"), 2.5);
  EXPECT_EQ(fw::Val("2,5"), 2.0);
}

TEST(CommandFrame, WrapsNameAndArgumentBytesAndNamesScreenshotSlotsOneToFour) {
  EXPECT_EQ(CommandFrame("X", std::string("\x00\xff", 2)), std::string("<X\x00\xff>>", 6));
  EXPECT_EQ(fw::EncodeHex(SpirFrame(0x123456), true), "3C 53 50 49 52 12 34 56 10 00 3E 3E");
  EXPECT_EQ(SpirFrame(0).substr(5, 3), std::string(3, '\0'));
  EXPECT_EQ(ScreenshotInfoFrame(1), "<GETSSN1>>");
  EXPECT_EQ(ScreenshotImageFrame(4), "<GETSS4>>");
  for (int slot : {0, 5}) {
    EXPECT_THROW(ScreenshotInfoFrame(slot), std::out_of_range) << slot;
    EXPECT_THROW(ScreenshotImageFrame(slot), std::out_of_range) << slot;
  }
}

TEST(HistoryFileName, IsMonthDayYearThenTime) {
  EXPECT_EQ(HistoryFileName(2027, 1, 9, 8, 5, 3), "emfhistory_01092027_080503.csv");
}

}  // namespace
