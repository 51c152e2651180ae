// Small pieces every fuzz target uses.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pelorin::fuzz {

// Stops the run, as a finding, when a property of the code under test does not hold.
inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// The input written to a scratch file of this process whose name ends in `suffix` (the
// readers choose by extension); empty when it could not be written.
inline std::string WriteScratchFile(const std::string& suffix, const std::uint8_t* data,
                                    std::size_t size) {
    static const std::string stem = "/tmp/pelorin_fuzz_" + std::to_string(getpid()) + "_";
    const std::string path = stem + suffix;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written ? path : std::string();
}

}  // namespace pelorin::fuzz
