// Raw values as the program shows them and typed texts as raw values.
#include <gtest/gtest.h>

#include <clocale>

#include "profiles/ValueText.h"

namespace {

ModbusProperty Fixed(double divisor, std::string viewformat = "") {
  ModbusProperty p;
  p.kind = PropertyKind::RangedFix;
  p.divisor = divisor;
  if (!viewformat.empty()) p.keywords["viewformat"] = viewformat;
  return p;
}

TEST(ValueTextTest, FixedPointWithoutFormat) {
  struct Case { double divisor; int32_t raw; const char* text; };
  const Case cases[] = {
      {0.01, 1234, "12.34"}, {0.01, 1200, "12"}, {0.01, 5, ".05"},   {0.01, 0, "0"},
      {0.01, -50, "-0.5"},   {0.0025, 1, ".00"}, {0.1, 7, ".7"},     {0.1, 100, "10"},
      {0.05, 3, ".1"},       {1.0, 42, "42"},    {10.0, 5, "50"},    {0.001, -1234567, "-1234.567"},
  };
  for (const Case& c : cases) {
    ModbusProperty p = Fixed(c.divisor);
    EXPECT_EQ(PropertyValueToString(p, c.raw), c.text) << c.divisor << " " << c.raw;
  }
  ModbusProperty zero = Fixed(0.0);
  EXPECT_EQ(PropertyValueToString(zero, 5), "0");  // 5 × 0 is 0
  EXPECT_EQ(zero.divisor, 0.0);
  EXPECT_EQ(PropertyValueToString(zero, 0), "0");
}

TEST(ValueTextTest, ViewFormatAndOtherKinds) {
  ModbusProperty integer;
  integer.kind = PropertyKind::RangedInt;
  EXPECT_EQ(PropertyValueToString(integer, 7), "7");
  EXPECT_EQ(PropertyValueToString(integer, -2147483647 - 1), "-2147483648");
  integer.keywords["viewformat"] = "%.1f";
  EXPECT_EQ(PropertyValueToString(integer, 7), "7.0");
  ModbusProperty volts = Fixed(0.1, "%6.1lf В");
  EXPECT_EQ(PropertyValueToString(volts, 5301), " 530.1 В");
}

TEST(ValueTextTest, FormatsFromProfilesCannotReadMissingArguments) {
  EXPECT_EQ(FormatDouble("%.2f%%", 12.345), "12.35%");
  EXPECT_EQ(FormatDouble("%s and %n and %d", 1.0), "%s and %n and %d");
  EXPECT_EQ(FormatDouble("%.2f / %.0f", 2.5), "2.50 / 2");  // every conversion gets the value
  EXPECT_EQ(FormatDouble("%999999f", 1.0), "%999999f");
  EXPECT_EQ(FormatDouble("%.99f", 1.0), "%.99f");
  EXPECT_EQ(FormatDouble("100%", 1.0), "100%");
  EXPECT_EQ(FormatDouble("%-8.3e|", 1234.5), "1.234e+03|");
  EXPECT_EQ(FormatDouble("", 1.0), "");
}

// A NUL byte is text like any other: taken for a flag it cut the conversion that printf got to
// a bare "%" (found by fuzz_viewformat).
TEST(ValueTextTest, NulByteInFormatIsText) {
  using namespace std::string_literals;
  struct Case { std::string format, text; };
  const Case cases[] = {
      {"%\0f"s, "%\0f"s},
      {"%-\0A."s, "%-\0A."s},
      {"\0\0%\0A.\0\0\xa5"s, "\0\0%\0A.\0\0\xa5"s},
      {"\0%.1f"s, "\0" "2.5"s},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDouble(c.format, 2.5), c.text);
}

TEST(ValueTextTest, DecimalPointWhateverTheLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  // Any installed locale with a decimal comma; the test holds trivially where none exists.
  for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) == nullptr) continue;
    ModbusProperty p = Fixed(0.01);
    EXPECT_EQ(PropertyValueToString(p, 1234), "12.34") << name;
    EXPECT_EQ(FormatDouble("%.1f", 2.5), "2.5") << name;
    EXPECT_EQ(StringToPropertyValue(p, "12.34"), 1234) << name;
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ValueTextTest, TypedTextToRaw) {
  ModbusProperty p = Fixed(0.01);
  EXPECT_EQ(StringToPropertyValue(p, "12.34"), 1234);
  EXPECT_EQ(StringToPropertyValue(p, "0.019"), 1);  // truncated toward zero
  EXPECT_EQ(StringToPropertyValue(p, "12.5"), 1250);
  EXPECT_EQ(StringToPropertyValue(p, "-0.5"), -50);
  EXPECT_EQ(StringToPropertyValue(p, "abc"), 0);
  EXPECT_EQ(StringToPropertyValue(p, "1e12"), 2147483647);  // saturates instead of wrapping
  ModbusProperty zero = Fixed(0.0);
  EXPECT_EQ(StringToPropertyValue(zero, "3.9"), 3);
  EXPECT_EQ(zero.divisor, 1.0);
  ModbusProperty integer;
  integer.kind = PropertyKind::RangedInt;
  EXPECT_EQ(StringToPropertyValue(integer, "  42xyz"), 42);
  EXPECT_EQ(StringToPropertyValue(integer, "12.9"), 12);
  EXPECT_EQ(StringToPropertyValue(integer, "-7"), -7);
  EXPECT_EQ(StringToPropertyValue(integer, "99999999999"), 2147483647);
}

}  // namespace
