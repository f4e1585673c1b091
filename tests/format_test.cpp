#include "format/format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <limits>
#include <random>
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

// Randomised comparisons with the C and C++ libraries' own conversions.
// Each case is drawn from a fixed seed, so a failure repeats; the seed is
// printed with it (TAMBERLODE_FORMAT_SEED=n runs another sequence).
// A case of Format and Str costs some 75 us in the debug build (a million
// take 78 s), so that comparison draws 35,000 cases, about 2.5 s; text to
// number runs a million in about 2 s.
constexpr int kFormatCases = 35'000;
constexpr int kValCases = 1'000'000;

std::uint64_t RandomSeed() {
  const char* seed = std::getenv("TAMBERLODE_FORMAT_SEED");
  return seed != nullptr ? std::strtoull(seed, nullptr, 10) : 20240527;
}

// A double of one of the kinds the conversions must get right, either sign.
double RandomValue(std::mt19937_64& random) {
  const auto bits = [&](int most) { return random() >> (63 - random() % most); };
  const double sign = random() % 2 != 0 ? -1.0 : 1.0;
  switch (random() % 7) {
    case 0: {  // any finite double: every exponent, subnormals too
      double value = 0;
      do value = std::bit_cast<double>(random());
      while (!std::isfinite(value));
      return value;
    }
    case 1:  // the magnitudes people read: 1e-8 to 1e20
      return sign * std::uniform_real_distribution<double>(1, 10)(random) *
             std::pow(10.0, static_cast<double>(random() % 29) - 8);
    case 2:  // whole numbers of up to 64 bits
      return sign * static_cast<double>(bits(64));
    case 3:  // exact halves: ties for "0"
      return sign * (static_cast<double>(bits(52)) + 0.5);
    case 4:  // exact ties for "0.00": k + j/8 for odd j (0.125, 0.375, ...)
      return sign * (static_cast<double>(bits(49)) + static_cast<double>(random() % 4 * 2 + 1) / 8);
    case 5: {  // k/100 + 0.005, which binary can only come near, and its neighbours
      const double near = (static_cast<double>(bits(40)) * 2 + 1) / 200;
      const double step[] = {-1, 0, 1};
      return sign * std::nextafter(near, near + step[random() % 3]);
    }
    default:  // two-decimal results such as 1.39
      return sign * static_cast<double>(bits(40)) / 100;
  }
}

// The C library's %.Nf, with a zero's sign dropped as Format documents.
std::string Printf(double value, int decimals) {
  std::string text(400, '\0');
  text.resize(static_cast<std::size_t>(
      std::snprintf(text.data(), text.size() + 1, "%.*f", decimals, value)));
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

// std::to_chars's shortest form ("1.815991461543722e+15"), written out in
// plain digits ("1815991461543722").
std::string ShortestPlain(double value) {
  if (value == 0) return "0";
  char buffer[64];
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
  const std::string scientific(buffer, end);
  const std::size_t e = scientific.find('e');
  const bool negative = scientific.front() == '-';
  std::string digits = scientific.substr(negative ? 1 : 0, e - (negative ? 1 : 0));
  if (digits.size() > 1) digits.erase(1, 1);                  // the point after the first digit
  const int point = std::stoi(scientific.substr(e + 1)) + 1;  // digits before the point
  std::string plain;
  if (point <= 0) {
    plain = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    plain = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
  } else {
    plain = digits.substr(0, static_cast<std::size_t>(point)) + "." +
            digits.substr(static_cast<std::size_t>(point));
  }
  return negative ? "-" + plain : plain;
}

TEST(FormatRandom, AgreesWithPrintfAndToChars) {
  // The reference must itself round exact ties to the even neighbour.
  if (Printf(2.5, 0) != "2" || Printf(0.125, 2) != "0.12" || Printf(0.375, 2) != "0.38")
    GTEST_SKIP() << "this C library's printf does not round exact halves to even (2.5 by %.0f: "
                 << Printf(2.5, 0) << "), so it cannot be the reference";
  const std::uint64_t seed = RandomSeed();
  std::mt19937_64 random(seed);
  int failures = 0;
  for (int i = 0; i < kFormatCases && failures < 10; ++i) {
    const double value = RandomValue(random);
    const std::string two = format::Format(value, "0.00").value_or("<none>");
    const std::string whole = format::Format(value, "0").value_or("<none>");
    const std::string text = format::Str(value);
    const bool agree =
        two == Printf(value, 2) && whole == Printf(value, 0) && text == ShortestPlain(value);
    if (!agree) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << ", case " << i << ": " << std::setprecision(17) << value
                    << " (bits " << std::bit_cast<std::uint64_t>(value) << ") gives \"" << two
                    << "\" / \"" << whole << "\" / \"" << text << "\", expected \""
                    << Printf(value, 2) << "\" / \"" << Printf(value, 0) << "\" / \""
                    << ShortestPlain(value) << '"';
    }
  }
}

// A well-formed number as a user or a caption might hold it: blanks, sign,
// digits, point, fraction, exponent, and something after it.
std::string RandomNumberText(std::mt19937_64& random) {
  const auto digits = [&](std::size_t most) {
    std::string text(random() % (most + 1), '0');
    for (char& digit : text) digit = static_cast<char>('0' + random() % 10);
    return text;
  };
  std::string text(random() % 3, random() % 2 != 0 ? ' ' : '\t');
  text += "+- "[random() % 3];
  if (text.back() == ' ') text.pop_back();
  std::string mantissa = digits(random() % 2 != 0 ? 25 : 3);
  if (random() % 2 != 0) {
    mantissa += '.';
    mantissa += digits(random() % 2 != 0 ? 25 : 3);
  }
  if (mantissa.empty() || mantissa == ".") text += '7';
  text += mantissa;
  if (random() % 2 != 0) {
    text += "eE"[random() % 2];
    text += "+- "[random() % 3];
    if (text.back() == ' ') text.pop_back();
    text += digits(random() % 2 != 0 ? 3 : 5);
    if (!std::isdigit(static_cast<unsigned char>(text.back()))) text += '0';
  }
  const char* tails[] = {"", "MB", " 12", ".", "e", "x"};
  return text + tails[random() % 6];
}

TEST(ValRandom, AgreesWithStrtod) {
  std::setlocale(LC_ALL, "C");
  const std::uint64_t seed = RandomSeed();
  std::mt19937_64 random(seed);
  int failures = 0;
  for (int i = 0; i < kValCases && failures < 10; ++i) {
    const std::string text = RandomNumberText(random);
    const double value = format::Val(text);
    const double expected = std::strtod(text.c_str(), nullptr);
    if (std::bit_cast<std::uint64_t>(value) != std::bit_cast<std::uint64_t>(expected)) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << ", case " << i << ": \"" << text << "\" gives " << value
                    << ", strtod " << expected;
    }
  }
}

}  // namespace
