// Numeric helpers shared by the readers and the sky coordinates: sign and remainder,
// big-endian conversions of FITS data, and the sexagesimal formatters.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace pelorin {

// +1 when x >= 0 (zero included), -1 otherwise.
inline double Sign(double x) {
    return x >= 0 ? 1.0 : -1.0;
}

// x - y * Int(x / y), Int cutting toward zero: the sign follows x.
double Remainder(double x, double y);

// Big-endian two's-complement integers, bytes in file order.
inline std::int16_t BigEndian16(const std::uint8_t* b) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((b[0] << 8) | b[1]));
}
inline std::int32_t BigEndian32(const std::uint8_t* b) {
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
        (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]));
}

// Big-endian IEEE reals. A first byte of 0x7F or 0xFF (NaN, infinities and the largest
// magnitudes) gives 0.
inline float RealBigEndian32(const std::uint8_t* b) {
    if (b[0] == 0x7F || b[0] == 0xFF) return 0.0f;
    const std::uint32_t u = static_cast<std::uint32_t>(BigEndian32(b));
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}
inline double RealBigEndian64(const std::uint8_t* b) {
    if (b[0] == 0x7F || b[0] == 0xFF) return 0.0;
    std::uint64_t u = 0;
    for (int i = 0; i < 8; ++i)
        u = (u << 8) | b[i];
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

// Sexagesimal text of an angle in degrees: sign, degrees, arc minutes, arc seconds
// ("+29°59'59\""). Like every text of the core it is UTF-8 (the degree sign is U+00B0).
std::string Degrees(double x);
// Sexagesimal text of a right ascension in hours (" 10h00m00.1s").
std::string Hours(double x);

}  // namespace pelorin
