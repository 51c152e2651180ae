#include "PictureFiles.h"

#include <string>

#include "BmpFiles.h"

namespace pelorin::test {

namespace {

void PutBgr(std::vector<std::uint8_t>& out, Rgb c) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
}

std::vector<std::uint8_t> TgaHeader(int type, int width, int height, int depth,
                                    std::uint8_t descriptor) {
    std::vector<std::uint8_t> out{0, 0, static_cast<std::uint8_t>(type)};
    PutLE16(out, 0);  // colour map: first entry, length, entry size
    PutLE16(out, 0);
    out.push_back(0);
    PutLE16(out, 0);  // origin
    PutLE16(out, 0);
    PutLE16(out, static_cast<unsigned>(width));
    PutLE16(out, static_cast<unsigned>(height));
    out.push_back(static_cast<std::uint8_t>(depth));
    out.push_back(descriptor);
    return out;
}

constexpr std::uint8_t kTgaTopDown = 0x20;

std::vector<std::uint8_t> PcxHeader(int width, int height, int bytesPerLine) {
    std::vector<std::uint8_t> out{10, 5, 1, 8};
    PutLE16(out, 0);
    PutLE16(out, 0);
    PutLE16(out, static_cast<unsigned>(width - 1));
    PutLE16(out, static_cast<unsigned>(height - 1));
    PutLE16(out, 72);
    PutLE16(out, 72);
    out.resize(out.size() + 48, 0);  // 16-colour palette, unused
    out.push_back(0);                // reserved
    out.push_back(1);                // planes
    PutLE16(out, static_cast<unsigned>(bytesPerLine));
    PutLE16(out, 1);  // colour palette
    PutLE16(out, 0);
    PutLE16(out, 0);
    out.resize(128, 0);
    return out;
}

}  // namespace

RgbImage Pattern(int width, int height) {
    RgbImage image{width, height, {}};
    image.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.at(x, y) =
                Rgb{static_cast<std::uint8_t>(40 + 23 * x), static_cast<std::uint8_t>(15 + 37 * y),
                    static_cast<std::uint8_t>(200 - 11 * x - 5 * y)};
        }
    }
    return image;
}

RgbImage Halves(int width, int height, Rgb left, Rgb right) {
    RgbImage image{width, height, {}};
    image.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.at(x, y) = x < width / 2 ? left : right;
    }
    return image;
}

RgbImage Flat(int width, int height, Rgb colour) {
    return RgbImage{width, height,
                    std::vector<Rgb>(static_cast<std::size_t>(width) * height, colour)};
}

std::vector<std::uint8_t> Ppm(const RgbImage& image) {
    const std::string head =
        "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    std::vector<std::uint8_t> out(head.begin(), head.end());
    for (const Rgb& p : image.pixels) {
        out.push_back(p.r);
        out.push_back(p.g);
        out.push_back(p.b);
    }
    return out;
}

std::vector<std::uint8_t> Bmp24(const RgbImage& image) {
    const std::size_t stride = (3 * static_cast<std::size_t>(image.width) + 3) & ~std::size_t{3};
    BmpFile f;
    f.width = image.width;
    f.height = image.height;
    f.imageSize = static_cast<std::uint32_t>(stride * image.height);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x)
            PutBgr(f.pixels, image.at(x, y));
        f.pixels.resize(f.pixels.size() + stride - 3 * static_cast<std::size_t>(image.width), 0);
    }
    return f.build();
}

std::vector<std::uint8_t> Bmp24Header(std::int32_t width, std::int32_t height,
                                      std::size_t dataBytes) {
    BmpFile f;
    f.width = width;
    f.height = height;
    f.imageSize = static_cast<std::uint32_t>(dataBytes);
    f.pixels.resize(dataBytes, 0);
    return f.build();
}

std::vector<std::uint8_t> BmpRle8(int width, int height, const std::vector<Rgb>& palette,
                                  const std::vector<std::uint8_t>& stream) {
    BmpFile f;
    f.width = width;
    f.height = height;
    f.bits = 8;
    f.compression = 1;
    f.imageSize = static_cast<std::uint32_t>(stream.size());
    f.colorsUsed = static_cast<std::uint32_t>(palette.size());
    for (const Rgb& c : palette)
        f.palette.push_back(RgbColour{c.r, c.g, c.b});
    f.pixels = stream;
    return f.build();
}

std::vector<std::uint8_t> Tga24(const RgbImage& image, bool topDown) {
    auto out = TgaHeader(2, image.width, image.height, 24, topDown ? kTgaTopDown : 0);
    for (int i = 0; i < image.height; ++i) {
        const int y = topDown ? i : image.height - 1 - i;
        for (int x = 0; x < image.width; ++x)
            PutBgr(out, image.at(x, y));
    }
    return out;
}

std::vector<std::uint8_t> TgaRle24(const RgbImage& image) {
    auto out = TgaHeader(10, image.width, image.height, 24, kTgaTopDown);
    // Packets never cross a row: some decoders insist on it.
    for (int y = 0; y < image.height; ++y) {
        int x = 0;
        while (x < image.width) {
            int run = 1;
            while (x + run < image.width && run < 128 && image.at(x + run, y) == image.at(x, y)) {
                ++run;
            }
            if (run >= 2) {
                out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
                PutBgr(out, image.at(x, y));
                x += run;
            } else {
                out.push_back(0);  // raw packet of one pixel
                PutBgr(out, image.at(x, y));
                ++x;
            }
        }
    }
    return out;
}

std::vector<std::uint8_t> TgaGrey(int width, int height, const std::vector<std::uint8_t>& levels) {
    auto out = TgaHeader(3, width, height, 8, kTgaTopDown);
    out.insert(out.end(), levels.begin(), levels.end());
    return out;
}

std::vector<std::uint8_t> Tga32(int width, int height, const std::vector<std::uint8_t>& bgra) {
    auto out = TgaHeader(2, width, height, 32, kTgaTopDown | 8);
    out.insert(out.end(), bgra.begin(), bgra.end());
    return out;
}

std::vector<std::uint8_t> Tga24Header(std::uint16_t width, std::uint16_t height,
                                      std::size_t dataBytes) {
    auto out = TgaHeader(2, width, height, 24, 0);
    out.resize(out.size() + dataBytes, 0);
    return out;
}

std::vector<std::uint8_t> Pcx8(int width, int height, const std::vector<std::uint8_t>& indices,
                               const std::vector<Rgb>& palette) {
    const int bytesPerLine = (width + 1) & ~1;
    auto out = PcxHeader(width, height, bytesPerLine);
    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> line(
            indices.begin() + static_cast<std::ptrdiff_t>(y) * width,
            indices.begin() + static_cast<std::ptrdiff_t>(y + 1) * width);
        line.resize(static_cast<std::size_t>(bytesPerLine), 0);
        std::size_t i = 0;
        while (i < line.size()) {
            std::size_t run = 1;
            while (i + run < line.size() && run < 63 && line[i + run] == line[i])
                ++run;
            // Values with the two top bits set must go in a run, even of one.
            if (run > 1 || line[i] >= 0xC0) out.push_back(static_cast<std::uint8_t>(0xC0 | run));
            out.push_back(line[i]);
            i += run;
        }
    }
    out.push_back(0x0C);
    for (int i = 0; i < 256; ++i) {
        const Rgb c = i < static_cast<int>(palette.size()) ? palette[i] : Rgb{};
        out.push_back(c.r);
        out.push_back(c.g);
        out.push_back(c.b);
    }
    return out;
}

std::vector<std::uint8_t> Pcx8Header(int width, int height, std::size_t dataBytes) {
    auto out = PcxHeader(width, height, (width + 1) & ~1);
    out.resize(out.size() + dataBytes, 0);
    return out;
}

}  // namespace pelorin::test
