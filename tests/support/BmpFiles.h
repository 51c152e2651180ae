// BMP files put together field by field, so that a test can build any variant by hand, and
// bitmaps of random content for the writer's round trips.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "ByteOrder.h"
#include "process/Bitmap.h"

namespace pelorin::test {

struct BmpFile {
    int headerSize = 40;  // 12: the short core header
    std::int32_t width = 1;
    std::int32_t height = 1;
    int planes = 1;
    int bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> masks;  // R, G, B
    std::vector<RgbColour> palette;
    Bytes pixels;
    std::int64_t offsetOverride = -1;  // the pixel offset field, when not the true one

    Bytes build() const;
};

std::vector<RgbColour> RandomPalette(std::mt19937& gen, std::size_t n);
// A bitmap with random pixels (row padding left at zero) and, up to 8 bits, a random palette.
Bitmap RandomBitmap(std::mt19937& gen, int width, int height, int depth);

}  // namespace pelorin::test
