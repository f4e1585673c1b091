// Numbers to and from text: Format with the patterns "0.00" and "0", text
// to number, and number to text. The survey formats its results with them,
// the toolkit hands Val and Str on to the windows. They never consult the C
// library's locale (Qt installs the user's at start-up), so "." is always
// the decimal point and digits are never grouped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace format {

// Formats `value` by "0.00" (two decimals) or "0" (whole number). Values
// halfway between two results round to the even neighbour of the exact
// binary value (0.125 -> "0.12", 2.5 -> "2", 3.5 -> "4"). Zero of either
// sign gives "0.00" / "0". Returns nullopt for any other pattern or for a
// value that is not finite.
std::optional<std::string> Format(double value, std::string_view pattern);

// The leading decimal number of `text` as a double (optional leading blanks,
// sign, digits, fraction, exponent); 0 where the text starts with no number.
// A number too large for a double gives infinity, one too small zero, each
// with the text's sign.
double Val(std::string_view text);

// Shortest decimal text that reads back as `value`: "4", "-1", "0.5",
// no leading blank, plain digits at every magnitude ("1000000000000000",
// "0.000001"), never an exponent.
std::string Str(double value);

}  // namespace format
