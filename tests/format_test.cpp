#include "format/format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

namespace {

struct FormatCase {
  double value;
  const char* pattern;
  const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.value << " by " << c.pattern; }

class FormatTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, FormatsByPattern) {
  const auto& c = GetParam();
  EXPECT_EQ(format::Format(c.value, c.pattern).value_or("<none>"), c.expected)
      << c.value << " by " << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FormatTest,
    testing::Values(FormatCase{0.0, "0.00", "0.00"}, FormatCase{0.0, "0", "0"},
                    FormatCase{-0.0, "0.00", "0.00"}, FormatCase{-0.0, "0", "0"},
                    FormatCase{-0.001, "0.00", "0.00"}, FormatCase{-0.4, "0", "0"},
                    FormatCase{-1.5, "0", "-2"}, FormatCase{1.390137, "0.00", "1.39"},
                    FormatCase{5120.0 / 1048576, "0.00", "0.00"},
                    FormatCase{5632.0 / 1048576, "0.00", "0.01"}, FormatCase{3906.25, "0", "3906"},
                    FormatCase{625.0, "0", "625"}, FormatCase{1234567.891, "0.00", "1234567.89"},
                    FormatCase{1234567.5, "0", "1234568"},
                    // Halfway: ties go to the even neighbour of the exact binary value.
                    FormatCase{0.125, "0.00", "0.12"}, FormatCase{0.375, "0.00", "0.38"},
                    FormatCase{2.5, "0", "2"}, FormatCase{3.5, "0", "4"}, FormatCase{0.5, "0", "0"},
                    // 0.005 is a little above 0.005 in binary, so it is no tie.
                    FormatCase{0.005, "0.00", "0.01"}, FormatCase{0.995, "0.00", "0.99"},
                    FormatCase{9.999, "0.00", "10.00"}, FormatCase{1e15, "0", "1000000000000000"}));

TEST(Format, RejectsUnknownPatternsAndNonFiniteValues) {
  EXPECT_FALSE(format::Format(1.0, "#,##0"));
  EXPECT_FALSE(format::Format(1.0, ""));
  EXPECT_FALSE(format::Format(std::numeric_limits<double>::infinity(), "0"));
  EXPECT_FALSE(format::Format(std::nan(""), "0.00"));
  EXPECT_EQ(format::Format(std::numeric_limits<double>::max(), "0")->size(), 309u);
}

// A German locale of our own, compiled into a temporary folder, so the test
// needs no locale installed system-wide. Once loaded, its files go again.
bool UseGermanLocale() {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;
  const std::string dir = testing::TempDir() + "tamberlode-locales";
  const std::string command =
      "mkdir -p " + dir + " && localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
  static std::string locpath;  // putenv keeps the very string
  locpath = "LOCPATH=" + dir;
  const bool made = std::system(command.c_str()) == 0 && putenv(locpath.data()) == 0 &&
                    std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return made;
}

TEST(Format, IgnoresTheCLocale) {
  // Qt installs the user's locale into the C library at start-up.
  if (!UseGermanLocale()) GTEST_SKIP() << "no locale with a decimal comma could be made";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_EQ(*format::Format(1234.5678, "0.00"), "1234.57");
  EXPECT_EQ(format::Str(2.5), "2.5");
  EXPECT_EQ(format::Val("2.5"), 2.5);
  std::setlocale(LC_ALL, "C");
}

struct ValCase {
  const char* text;
  double expected;
};

TEST(Val, ReadsTheLeadingNumber) {
  const ValCase cases[] = {
      {"5", 5},      {"4", 4},  {"0", 0},         {"-1", -1},    {"-10", -10},
      {"  7", 7},    {"+3", 3}, {"2.5MB", 2.5},   {"1e3", 1000}, {".5", 0.5},
      {"-.5", -0.5}, {"", 0},   {"n/a", 0},       {"MB", 0},     {"inf", 0},
      {"nan", 0},    {"-", 0},  {"1.39MB", 1.39}, {"12 34", 12},
  };
  for (const auto& c : cases) EXPECT_EQ(format::Val(c.text), c.expected) << '"' << c.text << '"';
  // Out of range: too large is infinity, too small is zero, with the sign.
  const ValCase limits[] = {
      {"1e999", HUGE_VAL}, {"-1e999", -HUGE_VAL},    {"123456e400MB", HUGE_VAL},
      {"1e-400", 0},       {"-1e-400", 0},           {"0.0000001e-330", 0},
      {"12345e-330", 0},   {"1e-99999999999999", 0},
  };
  for (const auto& c : limits) {
    EXPECT_EQ(format::Val(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(std::signbit(format::Val(c.text)), c.text[0] == '-') << '"' << c.text << '"';
  }
  // The smallest subnormal still reads as itself.
  EXPECT_EQ(format::Val("4.9406564584124654e-324"), 5e-324);
}

TEST(Str, GivesTheShortestPlainForm) {
  const std::pair<double, const char*> cases[] = {
      {5, "5"},
      {0, "0"},
      {-0.0, "0"},
      {-1, "-1"},
      {-10, "-10"},
      {0.5, "0.5"},
      {0.1, "0.1"},
      {1e6, "1000000"},
      {123456789, "123456789"},
      {-2.25, "-2.25"},
      // Plain digits at every magnitude, never an exponent.
      {1e-5, "0.00001"},
      {1e-6, "0.000001"},
      {1e15, "1000000000000000"},
      {1815991461543722.0, "1815991461543722"},
      {-1.5e-6, "-0.0000015"},
      {1e21, "1000000000000000000000"},
      {1.25e-10, "0.000000000125"},
      {0.30000000000000004, "0.30000000000000004"},
      {999999999999999.9, "999999999999999.9"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(format::Str(value), expected) << value;
  // The extremes: 309 digits, and 5 after 323 zeros.
  EXPECT_EQ(format::Str(1.7976931348623157e308), "17976931348623157" + std::string(292, '0'));
  EXPECT_EQ(format::Str(-5e-324), "-0." + std::string(323, '0') + "5");
}

TEST(Str, RoundTripsThroughVal) {
  // The countdown lives in a caption: each tick reads it with Val and writes
  // it back with Str, so the pair must never drift.
  double count = 5;
  for (int tick = 0; tick < 1000; ++tick) count = format::Val(format::Str(count)) - 1;
  EXPECT_EQ(count, -995);
  for (double v : {0.1, 1.0 / 3, 1e-7, 6.02214076e23, -123.456}) {
    EXPECT_EQ(format::Val(format::Str(v)), v);
  }
}

}  // namespace
