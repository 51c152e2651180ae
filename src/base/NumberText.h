// Numbers to text and back, with '.' as the decimal separator whatever the locale.
// Nothing here uses the C locale functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

// Nearest integer, halves to even (2.5 -> 2, 3.5 -> 4).
long double RoundHalfEven(long double x);
// numerator / denominator to the nearest integer, halves to even, computed exactly in
// integers (a quotient such as 138 * 100 / 240 = 57.5 must not arrive as 57.4999...).
// denominator must be positive.
long long RoundDivHalfEven(long long numerator, long long denominator);

// Decimal integer with optional sign; surrounding blanks allowed. False when the text is
// not such a number or does not fit 32 bits.
bool TryParseInteger(std::string_view text, std::int32_t& value);
// As TryParseInteger, throwing "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);
// The integer value of a text, 0 when it is not one (the plane edit's rule).
std::int32_t IntValueOrZero(std::string_view text);

// Decimal real: optional sign, digits with an optional '.', optional exponent introduced by
// E or e; surrounding blanks allowed. No infinities, NaN or hexadecimal forms.
bool TryParseReal(std::string_view text, long double& value);
// As TryParseReal, throwing "'%s' is not a valid floating point value".
long double StrToFloat(std::string_view text);

// Fixed-point text with the given number of decimals, the exact binary value rounded with
// halves away from zero, a leading '-' when negative, no padding.
std::string FormatFixed(long double x, int decimals);
// The same, padded on the left with blanks to at least width characters.
std::string FormatFixedWidth(long double x, int width, int decimals);

// General format with the given number of significant digits: no trailing zeros, no
// decimal point for whole numbers, fixed notation for 0 and for magnitudes from 0.0001 up to
// those whose integer part has at most `digits` digits, otherwise scientific: mantissa, 'E',
// '-' only for a negative exponent, the exponent without leading zeros ("1.5E20", "1E-5").
std::string FormatGeneral(long double x, int digits);

}  // namespace pelorin
