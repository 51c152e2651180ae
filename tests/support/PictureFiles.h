// Small picture files for the decoder tests, written byte by byte so that what the decoder
// must find in them is known independently of any picture library.
#pragma once

#include <cstdint>
#include <vector>

namespace pelorin::test {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // top row first
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    Rgb& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Every pixel a different colour; up to 10 x 7 no channel equals another and none is black.
RgbImage Pattern(int width, int height);
// Two flat halves, left and right.
RgbImage Halves(int width, int height, Rgb left, Rgb right);
RgbImage Flat(int width, int height, Rgb colour);

// Binary PPM (P6), what `gm` is given to convert.
std::vector<std::uint8_t> Ppm(const RgbImage& image);

// 24-bit uncompressed BMP, rows bottom first.
std::vector<std::uint8_t> Bmp24(const RgbImage& image);
// Only the headers of a 24-bit BMP claiming this size, then `dataBytes` zero bytes.
std::vector<std::uint8_t> Bmp24Header(std::int32_t width, std::int32_t height,
                                      std::size_t dataBytes);
// 8-bit BMP compressed with run lengths (BI_RLE8): palette and the encoded stream as given.
std::vector<std::uint8_t> BmpRle8(int width, int height, const std::vector<Rgb>& palette,
                                  const std::vector<std::uint8_t>& stream);

// TARGA: true colour uncompressed (type 2), rows bottom first unless topDown.
std::vector<std::uint8_t> Tga24(const RgbImage& image, bool topDown);
// True colour with run-length packets (type 10): a run packet for every repeated pixel pair.
std::vector<std::uint8_t> TgaRle24(const RgbImage& image);
// Grey levels (type 3), top row first.
std::vector<std::uint8_t> TgaGrey(int width, int height, const std::vector<std::uint8_t>& levels);
// 32 bits with 8 alpha bits, top row first; `bgra` four bytes a pixel.
std::vector<std::uint8_t> Tga32(int width, int height, const std::vector<std::uint8_t>& bgra);
// Only the header of a true colour TARGA claiming this size, then `dataBytes` zero bytes.
std::vector<std::uint8_t> Tga24Header(std::uint16_t width, std::uint16_t height,
                                      std::size_t dataBytes);

// 8-bit PCX with its 256-colour palette, run-length encoded.
std::vector<std::uint8_t> Pcx8(int width, int height, const std::vector<std::uint8_t>& indices,
                               const std::vector<Rgb>& palette);
// Only the header of an 8-bit PCX claiming this size, then `dataBytes` zero bytes.
std::vector<std::uint8_t> Pcx8Header(int width, int height, std::size_t dataBytes);

}  // namespace pelorin::test
