// Number formatting, command frames and the history file name.

#include "framework/format.h"

#include <clocale>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

#include "history/history_file_name.h"
#include "link/command_frame.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Rounding is of the binary value: 99.95 and 0.0005 are stored just above the half, 0.25 is an
// exact half and goes to even. A value that rounds to zero loses its minus sign. Only
// significant integer digits show; '#' after the point shows a digit only when significant.
TEST(Format, RoundsToThePatternAndShowsOnlySignificantIntegerDigits) {
  const std::string p1 = "#######.0", p3 = "#######.000";
  const std::tuple<double, std::string, std::string> cases[] = {
      {0.5, p1, ".5"},       {0, p1, ".0"},
      {99.95, p1, "100.0"},  {0.25, p1, ".2"},
      {-12.34, p1, "-12.3"}, {-0.04, p1, ".0"},
      {kNaN, p1, "nan"},     {-kInf, p1, "-inf"},
      {0.0005, p3, ".001"},  {-0.0004, p3, ".000"},
      {5, "00", "05"},       {2026, "00", "2026"},
      {1.5, "0.0#", "1.5"},  {1e20, p1, "1" + std::string(20, '0') + ".0"}};
  for (const auto& [value, pattern, text] : cases) EXPECT_EQ(fw::Format(value, pattern), text);
  EXPECT_EQ(fw::Format(std::numeric_limits<float>::max(), p3),
            "340282346638528859811704183484516925440.000");
}

TEST(Val, ReadsTheLeadingNumberOrGivesZero) {
  // No exponents; the fraction is correctly rounded, not summed digit by digit.
  const std::string nines(400, '9'), tiny = "0." + std::string(400, '0') + "1";
  const std::pair<std::string, double> cases[] = {
      {"-7.5", -7.5}, {"+8", 8}, {"\t 12.5", 12.5}, {".5", 0.5},   {"25 mG", 25}, {"1e3", 1},
      {"0.1", 0.1},   {"-", 0},  {"x12", 0},        {nines, kInf}, {tiny, 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(fw::Val(text), value) << text;
}

// Qt applies the desktop's locale to the C library; a German one would make printf write "0,5".
TEST(GermanLocale, NumbersStillUseAPoint) {
  struct Restore {
    std::string name;
    ~Restore() { std::setlocale(LC_ALL, name.c_str()); }
  } restore{std::setlocale(LC_ALL, nullptr)};
  // Not skipped when missing: scripts/deps.sh makes it for the tests.
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the locale de_DE.UTF-8 is missing";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(std::tuple(fw::Format(1.5, "#######.000"), fw::Val("2.5"), fw::Val("2,5")),
            std::tuple("1.500", 2.5, 2.0));
}

TEST(CommandFrame, WrapsNameAndArgumentBytesAndNamesScreenshotSlotsOneToFour) {
  const std::pair<std::string, std::string> cases[] = {
      {CommandFrame("X", std::string("\x00\xff", 2)), std::string("<X\x00\xff>>", 6)},
      {fw::EncodeHex(SpirFrame(0x123456), true), "3C 53 50 49 52 12 34 56 10 00 3E 3E"},
      {fw::EncodeHex(SpirFrame(0), false), "3C5350495200000010003E3E"},
      {fw::EncodeHex("\x0f\xaa", false), "0FAA"},
      {ScreenshotInfoFrame(1), "<GETSSN1>>"},
      {ScreenshotImageFrame(4), "<GETSS4>>"},
      {HistoryFileName(2027, 1, 9, 8, 5, 3), "emfhistory_01092027_080503.csv"}};
  for (const auto& [made, wanted] : cases) EXPECT_EQ(made, wanted);
  for (int slot : {0, 5}) {
    EXPECT_THROW(ScreenshotInfoFrame(slot), std::out_of_range) << slot;
    EXPECT_THROW(ScreenshotImageFrame(slot), std::out_of_range) << slot;
  }
}

}  // namespace
