#include "BmpFiles.h"

namespace pelorin::test {

Bytes BmpFile::build() const {
    Bytes h;
    if (headerSize == 12) {
        PutLE32(h, 12);
        PutLE16(h, width);
        PutLE16(h, height);
        PutLE16(h, planes);
        PutLE16(h, bits);
    } else {
        PutLE32(h, headerSize);
        PutLE32(h, width);
        PutLE32(h, height);
        PutLE16(h, planes);
        PutLE16(h, bits);
        PutLE32(h, compression);
        PutLE32(h, imageSize);
        PutLE32(h, 2835);
        PutLE32(h, 2835);
        PutLE32(h, colorsUsed);
        PutLE32(h, 0);
        if (headerSize > 40)
            for (std::uint32_t m : masks)
                PutLE32(h, m);
        h.resize(headerSize, 0);
        if (headerSize == 40)
            for (std::uint32_t m : masks)
                PutLE32(h, m);
    }
    for (const RgbColour& c : palette) {
        h.push_back(c.blue);
        h.push_back(c.green);
        h.push_back(c.red);
        if (headerSize != 12) h.push_back(0);
    }
    Bytes f = {'B', 'M'};
    const std::size_t offset = 14 + h.size();
    PutLE32(f, static_cast<std::int64_t>(offset + pixels.size()));
    PutLE32(f, 0);
    PutLE32(f, offsetOverride >= 0 ? offsetOverride : static_cast<std::int64_t>(offset));
    f.insert(f.end(), h.begin(), h.end());
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

std::vector<RgbColour> RandomPalette(std::mt19937& gen, std::size_t n) {
    std::vector<RgbColour> p(n);
    for (auto& c : p)
        c = RgbColour{static_cast<std::uint8_t>(gen()), static_cast<std::uint8_t>(gen()),
                      static_cast<std::uint8_t>(gen())};
    return p;
}

Bitmap RandomBitmap(std::mt19937& gen, int width, int height, int depth) {
    Bitmap b;
    b.create(width, height, depth);
    if (depth <= 8) b.setPalette(RandomPalette(gen, std::size_t{1} << depth));
    const int bits = depth == 15 ? 16 : depth;
    const std::size_t used = (static_cast<std::size_t>(width) * bits + 7) / 8;
    for (int y = 0; y < height; ++y)
        for (std::size_t i = 0; i < used; ++i)
            b.row(y)[i] = static_cast<std::uint8_t>(gen());
    return b;
}

}  // namespace pelorin::test
