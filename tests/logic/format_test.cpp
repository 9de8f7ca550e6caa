#include "framework/format.h"

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(FormatTwoDigits, PadsBelowTenAndKeepsLongerNumbersWhole) {
  EXPECT_EQ(fw::Format(0, "00"), "00");
  EXPECT_EQ(fw::Format(5, "00"), "05");
  EXPECT_EQ(fw::Format(10, "00"), "10");
  EXPECT_EQ(fw::Format(59, "00"), "59");
  EXPECT_EQ(fw::Format(125, "00"), "125");
  EXPECT_EQ(fw::Format(2026, "00"), "2026");
  EXPECT_EQ(fw::Format(-5, "00"), "-05");
}

TEST(FormatOneDecimal, ShowsOnlySignificantIntegerDigits) {
  EXPECT_EQ(fw::Format(0.5, "#######.0"), ".5");
  EXPECT_EQ(fw::Format(0, "#######.0"), ".0");
  EXPECT_EQ(fw::Format(12.34, "#######.0"), "12.3");
  EXPECT_EQ(fw::Format(7, "#######.0"), "7.0");
  EXPECT_EQ(fw::Format(1234567.89, "#######.0"), "1234567.9");
  EXPECT_EQ(fw::Format(123456789.0, "#######.0"), "123456789.0");
}

TEST(FormatOneDecimal, RoundsTheBinaryValueCorrectly) {
  EXPECT_EQ(fw::Format(0.96, "#######.0"), "1.0");     // carry into the integer part
  EXPECT_EQ(fw::Format(99.95, "#######.0"), "100.0");  // 99.95 is stored just above .95
  EXPECT_EQ(fw::Format(0.25, "#######.0"), ".2");      // exact half: to even
  EXPECT_EQ(fw::Format(0.35, "#######.0"), ".3");      // stored as 0.34999...
  EXPECT_EQ(fw::Format(0.05, "#######.0"), ".1");      // stored as 0.05000...03
  EXPECT_EQ(fw::Format(1e20, "#######.0"), "100000000000000000000.0");
}

TEST(FormatOneDecimal, NegativesKeepTheirSignUnlessTheyRoundToZero) {
  EXPECT_EQ(fw::Format(-0.5, "#######.0"), "-.5");
  EXPECT_EQ(fw::Format(-12.34, "#######.0"), "-12.3");
  EXPECT_EQ(fw::Format(-0.04, "#######.0"), ".0");
  EXPECT_EQ(fw::Format(-0.0, "#######.0"), ".0");
  EXPECT_EQ(fw::Format(-0.06, "#######.0"), "-.1");
}

TEST(FormatThreeDecimals, PadsAndRoundsToThreePlaces) {
  EXPECT_EQ(fw::Format(0.0001, "#######.000"), ".000");
  EXPECT_EQ(fw::Format(1.5, "#######.000"), "1.500");
  EXPECT_EQ(fw::Format(0.0005, "#######.000"), ".001");  // stored just above the half
  EXPECT_EQ(fw::Format(0.9999, "#######.000"), "1.000");
  EXPECT_EQ(fw::Format(-0.0004, "#######.000"), ".000");
  EXPECT_EQ(fw::Format(-2.25, "#######.000"), "-2.250");
  EXPECT_EQ(fw::Format(1234567890.125, "#######.000"), "1234567890.125");
  // The largest float, widened to double, is written in full.
  EXPECT_EQ(fw::Format(static_cast<double>(std::numeric_limits<float>::max()), "#######.000"),
            "340282346638528859811704183484516925440.000");
}

TEST(FormatPattern, ReadsZerosHashesAndPointGenerally) {
  EXPECT_EQ(fw::Format(3.14159, "0.00"), "3.14");
  EXPECT_EQ(fw::Format(0.5, "0.0"), "0.5");
  EXPECT_EQ(fw::Format(7, "#0"), "7");
  EXPECT_EQ(fw::Format(0, "#0"), "0");
  EXPECT_EQ(fw::Format(7, "000"), "007");
  EXPECT_EQ(fw::Format(1.5, "0.0#"), "1.5");    // optional fractional digit dropped
  EXPECT_EQ(fw::Format(1.25, "0.0#"), "1.25");  // and shown when significant
  EXPECT_EQ(fw::Format(2.6, "0"), "3");         // no point: rounded to an integer
}

TEST(FormatNotFinite, WritesNanAndSignedInfinity) {
  EXPECT_EQ(fw::Format(kNaN, "#######.0"), "nan");
  EXPECT_EQ(fw::Format(-kNaN, "#######.000"), "nan");
  EXPECT_EQ(fw::Format(kInf, "#######.0"), "inf");
  EXPECT_EQ(fw::Format(-kInf, "00"), "-inf");
}

// Qt applies the desktop's locale to the C library; a German one would make printf write "0,5".
class GermanLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
      GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  }
  void TearDown() override { std::setlocale(LC_ALL, previous_.c_str()); }

 private:
  std::string previous_;
};

TEST_F(GermanLocale, NumbersStillUseAPoint) {
  EXPECT_EQ(fw::Format(12.34, "#######.0"), "12.3");
  EXPECT_EQ(fw::Format(1.5, "#######.000"), "1.500");
  EXPECT_EQ(fw::Str(0.25), "0.25");
  EXPECT_EQ(fw::Val("2.5"), 2.5);
  EXPECT_EQ(fw::Val("2,5"), 2.0);
}

TEST(Str, WritesIntegersPlainly) {
  EXPECT_EQ(fw::Str(std::int64_t{0}), "0");
  EXPECT_EQ(fw::Str(std::int64_t{19}), "19");
  EXPECT_EQ(fw::Str(std::int64_t{-42}), "-42");
  EXPECT_EQ(fw::Str(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

TEST(Str, WritesIntegralDoublesAsIntegers) {
  EXPECT_EQ(fw::Str(19.0), "19");
  EXPECT_EQ(fw::Str(1048576.0), "1048576");
  EXPECT_EQ(fw::Str(-3.0), "-3");
  EXPECT_EQ(fw::Str(-0.0), "0");
  EXPECT_EQ(fw::Str(1e15), "1000000000000000");
}

TEST(Str, WritesOtherDoublesShortestRoundTrip) {
  EXPECT_EQ(fw::Str(0.1), "0.1");
  EXPECT_EQ(fw::Str(2.5), "2.5");
  EXPECT_EQ(fw::Str(-0.001), "-0.001");
  EXPECT_EQ(fw::Val(fw::Str(1.0 / 3.0)), 1.0 / 3.0);
  EXPECT_EQ(fw::Str(kNaN), "nan");
  EXPECT_EQ(fw::Str(kInf), "inf");
  EXPECT_EQ(fw::Str(-kInf), "-inf");
}

TEST(Val, ReadsALeadingNumber) {
  EXPECT_EQ(fw::Val("42"), 42.0);
  EXPECT_EQ(fw::Val("3.25"), 3.25);
  EXPECT_EQ(fw::Val("-7.5"), -7.5);
  EXPECT_EQ(fw::Val("+8"), 8.0);
  EXPECT_EQ(fw::Val(".5"), 0.5);
  EXPECT_EQ(fw::Val("6."), 6.0);
  EXPECT_EQ(fw::Val("   12.5"), 12.5);
  EXPECT_EQ(fw::Val("\t 1"), 1.0);
  EXPECT_EQ(fw::Val("1.5.3"), 1.5);
  EXPECT_EQ(fw::Val("25 mG"), 25.0);
  EXPECT_EQ(fw::Val("1e3"), 1.0);  // no exponents: only digits and a fraction
  EXPECT_EQ(fw::Val("0.1"), 0.1);  // correctly rounded, not summed digit by digit
}

TEST(Val, GivesZeroWhenThereIsNoNumber) {
  EXPECT_EQ(fw::Val(""), 0.0);
  EXPECT_EQ(fw::Val("   "), 0.0);
  EXPECT_EQ(fw::Val("abc"), 0.0);
  EXPECT_EQ(fw::Val("-"), 0.0);
  EXPECT_EQ(fw::Val("."), 0.0);
  EXPECT_EQ(fw::Val("x12"), 0.0);
}

TEST(Val, SurvivesAbsurdlyLongNumbers) {
  EXPECT_EQ(fw::Val(std::string(400, '9')), kInf);
  EXPECT_EQ(fw::Val("-" + std::string(400, '9')), -kInf);
  EXPECT_EQ(fw::Val("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(EncodeHex, WritesTwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(fw::EncodeHex("ABC", false), "414243");
  EXPECT_EQ(fw::EncodeHex("ABC", true), "41 42 43");
  EXPECT_EQ(fw::EncodeHex(std::string("\x00\x0f\xaa\xff", 4), true), "00 0F AA FF");
  EXPECT_EQ(fw::EncodeHex(std::string("\x00\x0f\xaa\xff", 4), false), "000FAAFF");
  EXPECT_EQ(fw::EncodeHex("Z", true), "5A");
  EXPECT_EQ(fw::EncodeHex("", true), "");
}

}  // namespace
