#include "format/format.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace format {

std::optional<std::string> Format(double value, std::string_view pattern) {
  int decimals = 0;
  if (pattern == "0.00") {
    decimals = 2;
  } else if (pattern != "0") {
    return std::nullopt;
  }
  if (!std::isfinite(value)) return std::nullopt;
  char buf[400];  // fixed notation of the largest double needs 309 digits
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (ec != std::errc{}) return std::nullopt;
  std::string text(buf, end);
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
    return negative ? -HUGE_VAL : HUGE_VAL;
  }
  if (ec != std::errc{} || ptr == text.data()) return 0.0;
  // from_chars also reads "inf" and "nan"; only digits make a number here.
  if (!(text.front() >= '0' && text.front() <= '9') && text.front() != '.') return 0.0;
  return negative ? -value : value;
}

std::string Str(double value) {
  if (value == 0.0) return "0";
  // Plain decimals for the numbers people read ("1000000", not "1e+06");
  // exponents only for the very large and the very small.
  const double magnitude = std::fabs(value);
  const auto format =
      magnitude >= 1e-5 && magnitude < 1e15 ? std::chars_format::fixed : std::chars_format::general;
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, format);
  (void)ec;  // 64 characters hold either form of any double in these ranges
  return std::string(buf, end);
}

}  // namespace format
