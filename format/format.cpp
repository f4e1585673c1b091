#include "format/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace format {
namespace {

// The exact decimal value of a finite double's magnitude: `digits` (most
// significant first) with the last `decimals` of them after the point.
// Every double is a whole number times a power of two, so this always ends.
// (The standard library's to_chars for doubles would do, but it brings some
// 180 KiB of tables into the Windows program.)
struct Exact {
  std::string digits;
  int decimals = 0;
};

// Multiplies the decimal number in `digits` (least significant first) by `factor`.
void Multiply(std::string& digits, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (char& digit : digits) {
    carry += static_cast<std::uint64_t>(digit) * factor;
    digit = static_cast<char>(carry % 10);
    carry /= 10;
  }
  for (; carry != 0; carry /= 10) digits += static_cast<char>(carry % 10);
}

Exact ExactDecimal(double magnitude) {
  int exponent = 0;
  const double fraction = std::frexp(magnitude, &exponent);
  // magnitude = mantissa * 2^exponent with a whole 53-bit mantissa.
  auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  exponent -= 53;
  std::string digits;  // least significant first, as numbers 0..9
  for (; mantissa != 0; mantissa /= 10) digits += static_cast<char>(mantissa % 10);
  if (digits.empty()) digits += '\0';
  Exact exact;
  if (exponent >= 0) {
    for (int left = exponent; left > 0; left -= 28) Multiply(digits, 1u << std::min(left, 28));
  } else {
    // m * 2^-k = m * 5^k / 10^k
    exact.decimals = -exponent;
    for (int left = -exponent; left > 0; left -= 12) {
      std::uint32_t power = 1;
      for (int i = 0; i < std::min(left, 12); ++i) power *= 5;
      Multiply(digits, power);
    }
  }
  // At least one digit before the point.
  while (static_cast<int>(digits.size()) <= exact.decimals) digits += '\0';
  for (auto it = digits.rbegin(); it != digits.rend(); ++it)
    exact.digits += static_cast<char>('0' + *it);
  return exact;
}

// Rounds `digits` to its first `keep` digits, ties to even; a carry out of the
// first digit makes the result one digit longer.
std::string RoundDigits(const std::string& digits, std::size_t keep) {
  if (keep >= digits.size()) return digits + std::string(keep - digits.size(), '0');
  std::string kept = digits.substr(0, keep);
  const char next = digits[keep];
  bool up = next > '5';
  if (next == '5') {
    const bool beyond = digits.find_first_not_of('0', keep + 1) != std::string::npos;
    up = beyond || (!kept.empty() && (kept.back() - '0') % 2 == 1);
  }
  if (up) {
    std::size_t i = kept.size();
    while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
    if (i == 0) {
      kept.insert(kept.begin(), '1');
    } else {
      ++kept[i - 1];
    }
  }
  return kept;
}

}  // namespace

namespace {

// True when the digits `d.ddd` times 10^exponent read back as `magnitude`.
bool ReadsBack(const std::string& digits, int exponent, double magnitude) {
  std::string text = digits;
  text.insert(1, 1, '.');
  text += 'e';
  text += std::to_string(exponent);
  double back = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), back);
  return error == std::errc{} && back == magnitude;
}

// `digits` one up (+1) or down (-1) in its last place; empty where that
// changes the number of digits.
std::string Neighbour(std::string digits, int step) {
  const char wrap = step > 0 ? '9' : '0';
  std::size_t i = digits.size();
  while (i > 0 && digits[i - 1] == wrap) digits[--i] = step > 0 ? '0' : '9';
  if (i == 0) return "";
  digits[i - 1] = static_cast<char>(digits[i - 1] + step);
  return digits[0] == '0' ? "" : digits;
}

// True when `number` (digits, fraction, exponent: a number from_chars found
// out of range) is below one: its first significant digit stands after the
// point. Out of range, that can only be too small for a double.
bool IsTiny(std::string_view number) {
  const std::size_t mark = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, mark);
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return true;
  // The power of ten of the first significant digit, before the exponent.
  long long power = first < point ? static_cast<long long>(point - first) - 1
                                  : -static_cast<long long>(first - point);
  if (mark != std::string_view::npos) {
    std::string_view exponent = number.substr(mark + 1);
    const bool down = !exponent.empty() && exponent.front() == '-';
    if (!exponent.empty() && (exponent.front() == '-' || exponent.front() == '+'))
      exponent.remove_prefix(1);
    long long shift = 0;
    for (const char digit : exponent) shift = std::min(shift * 10 + (digit - '0'), 1'000'000LL);
    power += down ? -shift : shift;
  }
  return power < 0;
}

}  // namespace

std::optional<std::string> Format(double value, std::string_view pattern) {
  std::size_t decimals = 0;
  if (pattern == "0.00") {
    decimals = 2;
  } else if (pattern != "0") {
    return std::nullopt;
  }
  if (!std::isfinite(value)) return std::nullopt;
  const Exact exact = ExactDecimal(std::fabs(value));
  const std::size_t whole = exact.digits.size() - static_cast<std::size_t>(exact.decimals);
  const std::string rounded = RoundDigits(exact.digits, whole + decimals);
  std::string digits = rounded.substr(0, rounded.size() - decimals);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  std::string text = std::signbit(value) ? "-" : "";
  text += digits;
  if (decimals != 0) {
    text += '.';
    text.append(rounded, rounded.size() - decimals);
  }
  // Anything that rounds to zero prints without a sign: the n/a marking
  // compares against "0.00MB" and must not see "-0.00MB".
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}
double Val(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  text.remove_prefix(i);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  double value = 0.0;
  // from_chars takes no sign of its own but '-', and no leading '+'.
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too small for a double reads as zero, too large as infinity, as strtod has them.
    const double limit =
        IsTiny(text.substr(0, static_cast<std::size_t>(ptr - text.data()))) ? 0.0 : HUGE_VAL;
    return negative ? -limit : limit;
  }
  if (ec != std::errc{} || ptr == text.data()) return 0.0;
  // from_chars also reads "inf" and "nan"; only digits make a number here.
  if (!(text.front() >= '0' && text.front() <= '9') && text.front() != '.') return 0.0;
  return negative ? -value : value;
}

std::string Str(double value) {
  if (value == 0.0) return "0";
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  const double magnitude = std::fabs(value);
  const Exact exact = ExactDecimal(magnitude);
  const std::size_t lead = exact.digits.find_first_not_of('0');
  const std::string significant = exact.digits.substr(lead);
  // The power of ten of the first significant digit.
  const int first = static_cast<int>(exact.digits.size() - lead) - exact.decimals - 1;
  // The fewest digits that read back; of those, the nearest.
  std::string digits;
  int exponent = first;
  for (std::size_t count = 1; count <= 17 && digits.empty(); ++count) {
    std::string rounded = RoundDigits(significant, count);
    int power = first;
    if (rounded.size() > count) {
      rounded.pop_back();
      ++power;
    }
    for (const std::string& candidate : {rounded, Neighbour(rounded, -1), Neighbour(rounded, 1)}) {
      if (!candidate.empty() && ReadsBack(candidate, power, magnitude)) {
        digits = candidate;
        exponent = power;
        break;
      }
    }
  }
  digits.erase(std::max<std::size_t>(digits.find_last_not_of('0') + 1, 1));
  // Plain decimals at every magnitude ("1000000000000000000", "0.000001"):
  // the text is read back by Val and shown to people, never an exponent.
  std::string text = value < 0 ? "-" : "";
  const auto count = static_cast<int>(digits.size());
  if (exponent < 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    return text += digits;
  }
  text += digits;
  if (count <= exponent + 1) {
    text.append(static_cast<std::size_t>(exponent + 1 - count), '0');
  } else {
    text.insert(text.size() - static_cast<std::size_t>(count - exponent - 1), 1, '.');
  }
  return text;
}

}  // namespace format
