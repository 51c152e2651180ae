// Numeric helpers of the sky coordinates: sign and remainder, and the sexagesimal
// formatters.
#pragma once

#include <string>

namespace pelorin {

// +1 when x >= 0 (zero included), -1 otherwise.
inline double Sign(double x) {
    return x >= 0 ? 1.0 : -1.0;
}

// x - y * Int(x / y), Int cutting toward zero: the sign follows x.
double Remainder(double x, double y);

// Sexagesimal text of an angle in degrees: sign, degrees, arc minutes, arc seconds
// ("+29°59'59\""). Like every text of the core it is UTF-8 (the degree sign is U+00B0).
std::string Degrees(double x);
// Sexagesimal text of a right ascension in hours (" 10h00m00.1s").
std::string Hours(double x);

}  // namespace pelorin
