// Numbers written into and read from the bytes of a file under construction. FITS data is
// big-endian; the PIC, BMP, TARGA and PCX fields are little-endian. The writers keep the low
// bytes of their argument, so a negative value gives its two's complement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pelorin::test {

using Bytes = std::vector<std::uint8_t>;

// ---- Big-endian, appended ----
inline void PutBE16(Bytes& out, std::int64_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
inline void PutBE32(Bytes& out, std::int64_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> s));
}
inline void PutBEFloat(Bytes& out, float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    PutBE32(out, u);
}
inline void PutBEDouble(Bytes& out, double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int s = 56; s >= 0; s -= 8)
        out.push_back(static_cast<std::uint8_t>(u >> s));
}

// ---- Little-endian, appended or written in place at byte `at` ----
inline void PutLE16At(Bytes& b, std::size_t at, std::int64_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32At(Bytes& b, std::size_t at, std::int64_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLE16(Bytes& out, std::int64_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutLE32(Bytes& out, std::int64_t v) {
    for (int s = 0; s < 32; s += 8)
        out.push_back(static_cast<std::uint8_t>(v >> s));
}
inline void PutLEFloat(Bytes& out, float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    PutLE32(out, u);
}
inline std::uint32_t GetLE16(const Bytes& b, std::size_t at) {
    return b.at(at) | (b.at(at + 1) << 8);
}
inline std::uint32_t GetLE32(const Bytes& b, std::size_t at) {
    return GetLE16(b, at) | (GetLE16(b, at + 2) << 16);
}

}  // namespace pelorin::test
