// Bitmaps: pixel formats and colours, the BMP file written, and the BMP reader on files of
// every kind, well formed and not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BmpFiles.h"
#include "TestUtil.h"
#include "base/Errors.h"
#include "process/AtomicFile.h"
#include "process/Bitmap.h"
#include "process/PictureLimits.h"
#include "process/Png.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

void ExpectInvalid(const Bytes& bytes, const std::string& what) {
    try {
        Bitmap::FromBmpBytes(bytes);
        ADD_FAILURE() << what << ": accepted";
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "Bitmap image is not valid") << what;
    }
}

const int kDepths[] = {1, 4, 8, 15, 16, 24, 32};

}  // namespace

// ---- The bitmap in memory ----

TEST(Bitmap, StrideIsRoundedUpToFourBytes) {
    EXPECT_EQ(Bitmap::StrideFor(1, 1), 4u);
    EXPECT_EQ(Bitmap::StrideFor(32, 1), 4u);
    EXPECT_EQ(Bitmap::StrideFor(33, 1), 8u);
    EXPECT_EQ(Bitmap::StrideFor(9, 4), 8u);
    EXPECT_EQ(Bitmap::StrideFor(3, 8), 4u);
    EXPECT_EQ(Bitmap::StrideFor(5, 8), 8u);
    EXPECT_EQ(Bitmap::StrideFor(3, 15), 8u);  // two bytes a pixel, like 16
    EXPECT_EQ(Bitmap::StrideFor(2, 16), 4u);
    EXPECT_EQ(Bitmap::StrideFor(3, 24), 12u);
    EXPECT_EQ(Bitmap::StrideFor(5, 24), 16u);
    EXPECT_EQ(Bitmap::StrideFor(3, 32), 12u);
    EXPECT_EQ(Bitmap::StrideFor(0, 8), 0u);
}

TEST(Bitmap, CreateClearAndInvalidArguments) {
    Bitmap b;
    EXPECT_TRUE(b.empty());
    b.create(5, 3, 4);
    EXPECT_FALSE(b.empty());
    EXPECT_EQ(b.stride(), 4u);
    EXPECT_EQ(b.bits().size(), 12u);
    EXPECT_EQ(b.palette().size(), 16u);
    for (std::uint8_t v : b.bits())
        EXPECT_EQ(v, 0);
    EXPECT_EQ(b.pixelColour(4, 2), RgbColour{});
    b.create(2, 2, 24);
    EXPECT_TRUE(b.palette().empty());
    b.clear();
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.bitsPerPixel(), 0);
    EXPECT_TRUE(b.bits().empty());
    EXPECT_THROW(b.create(2, 2, 12), std::invalid_argument);
    EXPECT_THROW(b.create(-1, 2, 8), std::invalid_argument);
}

TEST(Bitmap, PixelColourOfEveryFormat) {
    Bitmap b;
    b.create(10, 1, 1);
    b.setPalette({{0, 0, 0}, {200, 100, 50}});
    b.row(0)[0] = 0b10100000;  // first pixel in the most significant bit
    b.row(0)[1] = 0b01000000;  // pixel 9
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{200, 100, 50}));
    EXPECT_EQ(b.pixelColour(1, 0), RgbColour{});
    EXPECT_EQ(b.pixelColour(2, 0), (RgbColour{200, 100, 50}));
    EXPECT_EQ(b.pixelColour(8, 0), RgbColour{});
    EXPECT_EQ(b.pixelColour(9, 0), (RgbColour{200, 100, 50}));

    b.create(3, 1, 4);
    std::vector<RgbColour> pal(16);
    pal[0xA] = {10, 20, 30};
    pal[0x3] = {1, 2, 3};
    b.setPalette(pal);
    b.row(0)[0] = 0xA3;
    b.row(0)[1] = 0x30;
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{10, 20, 30}));  // high half first
    EXPECT_EQ(b.pixelColour(1, 0), (RgbColour{1, 2, 3}));
    EXPECT_EQ(b.pixelColour(2, 0), (RgbColour{1, 2, 3}));

    b.create(1, 1, 8);
    b.setPalette({{9, 8, 7}});  // a short table: indices past it are black
    b.row(0)[0] = 0;
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{9, 8, 7}));
    b.row(0)[0] = 5;
    EXPECT_EQ(b.pixelColour(0, 0), RgbColour{});

    // 5-5-5: red 31, green 1, blue 4 -> 255, 8, 33 (bits repeated).
    b.create(1, 1, 15);
    const unsigned v555 = (31u << 10) | (1u << 5) | 4u;
    b.row(0)[0] = static_cast<std::uint8_t>(v555);
    b.row(0)[1] = static_cast<std::uint8_t>(v555 >> 8);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{255, 8, 33}));

    // 5-6-5: red 16, green 63, blue 1 -> 132, 255, 8.
    b.create(1, 1, 16);
    const unsigned v565 = (16u << 11) | (63u << 5) | 1u;
    b.row(0)[0] = static_cast<std::uint8_t>(v565);
    b.row(0)[1] = static_cast<std::uint8_t>(v565 >> 8);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{132, 255, 8}));

    b.create(2, 1, 24);
    b.row(0)[3] = 1;  // blue, green, red
    b.row(0)[4] = 2;
    b.row(0)[5] = 3;
    EXPECT_EQ(b.pixelColour(1, 0), (RgbColour{3, 2, 1}));

    b.create(2, 1, 32);
    b.row(0)[4] = 1;
    b.row(0)[5] = 2;
    b.row(0)[6] = 3;
    b.row(0)[7] = 255;  // the fourth byte is not a colour
    EXPECT_EQ(b.pixelColour(1, 0), (RgbColour{3, 2, 1}));
}

TEST(Bitmap, ConvertTo24KeepsEveryColour) {
    std::mt19937 gen(11);
    for (int depth : kDepths) {
        const Bitmap before = RandomBitmap(gen, 7, 5, depth);
        Bitmap after = before;
        after.convertTo24();
        EXPECT_EQ(after.bitsPerPixel(), 24);
        EXPECT_EQ(after.width(), 7);
        EXPECT_EQ(after.height(), 5);
        EXPECT_EQ(after.stride(), 24u);
        EXPECT_TRUE(after.palette().empty());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                ASSERT_EQ(after.pixelColour(x, y), before.pixelColour(x, y))
                    << "depth " << depth << " at " << x << "," << y;
    }
    // Palette entries in particular: index i shows palette entry i.
    Bitmap b;
    b.create(4, 1, 8);
    b.setPalette(RandomPalette(gen, 256));
    for (int x = 0; x < 4; ++x)
        b.row(0)[x] = static_cast<std::uint8_t>(x * 60);
    const std::vector<RgbColour> pal = b.palette();
    b.convertTo24();
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(b.row(0)[3 * x + 2], pal[x * 60].red);
        EXPECT_EQ(b.row(0)[3 * x + 1], pal[x * 60].green);
        EXPECT_EQ(b.row(0)[3 * x], pal[x * 60].blue);
    }
}

// ---- The BMP written ----

TEST(BmpWrite, TinyEightBitFileByteForByte) {
    Bitmap b;
    b.create(3, 2, 8);
    std::vector<RgbColour> pal(256);
    for (int i = 0; i < 256; ++i)
        pal[i] = RgbColour{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                           static_cast<std::uint8_t>(i / 2)};
    b.setPalette(pal);
    const std::uint8_t top[3] = {1, 2, 3}, bottom[3] = {4, 5, 250};
    std::copy(top, top + 3, b.row(0));
    std::copy(bottom, bottom + 3, b.row(1));

    Bytes expected = {'B', 'M'};
    PutLE32(expected, 14 + 40 + 1024 + 8);  // file size
    PutLE32(expected, 0);
    PutLE32(expected, 14 + 40 + 1024);  // pixel offset
    PutLE32(expected, 40);
    PutLE32(expected, 3);
    PutLE32(expected, 2);  // positive: bottom row first
    PutLE16(expected, 1);
    PutLE16(expected, 8);
    PutLE32(expected, 0);
    PutLE32(expected, 8);  // stride 4 x 2 rows
    PutLE32(expected, 2835);
    PutLE32(expected, 2835);
    PutLE32(expected, 256);
    PutLE32(expected, 0);
    for (int i = 0; i < 256; ++i) {
        expected.push_back(static_cast<std::uint8_t>(i / 2));  // blue, green, red, 0
        expected.push_back(static_cast<std::uint8_t>(255 - i));
        expected.push_back(static_cast<std::uint8_t>(i));
        expected.push_back(0);
    }
    expected.insert(expected.end(), {4, 5, 250, 0, 1, 2, 3, 0});
    EXPECT_EQ(b.toBmpBytes(), expected);
}

TEST(BmpWrite, HeaderOfEveryDepth) {
    std::mt19937 gen(5);
    struct Want {
        int depth, fileBits, compression, entries, offset;
    };
    const Want wants[] = {{1, 1, 0, 2, 62},   {4, 4, 0, 16, 118}, {8, 8, 0, 256, 1078},
                          {15, 16, 0, 0, 54}, {16, 16, 3, 0, 66}, {24, 24, 0, 0, 54},
                          {32, 32, 0, 0, 54}};
    for (const Want& w : wants) {
        const Bitmap b = RandomBitmap(gen, 5, 3, w.depth);
        const Bytes f = b.toBmpBytes();
        const std::size_t stride = Bitmap::StrideFor(5, w.depth);
        EXPECT_EQ(GetLE32(f, 2), f.size()) << w.depth;
        EXPECT_EQ(f.size(), w.offset + stride * 3) << w.depth;
        EXPECT_EQ(GetLE32(f, 10), static_cast<std::uint32_t>(w.offset)) << w.depth;
        EXPECT_EQ(GetLE16(f, 28), static_cast<std::uint32_t>(w.fileBits)) << w.depth;
        EXPECT_EQ(GetLE32(f, 30), static_cast<std::uint32_t>(w.compression)) << w.depth;
        EXPECT_EQ(GetLE32(f, 34), stride * 3) << w.depth;
        EXPECT_EQ(GetLE32(f, 46), static_cast<std::uint32_t>(w.entries)) << w.depth;
        if (w.depth == 16) {
            EXPECT_EQ(GetLE32(f, 54), 0xF800u);
            EXPECT_EQ(GetLE32(f, 58), 0x07E0u);
            EXPECT_EQ(GetLE32(f, 62), 0x001Fu);
        }
        // The last row in the file is the top row.
        const std::size_t used = (5 * w.fileBits + 7) / 8;
        for (std::size_t i = 0; i < used; ++i)
            EXPECT_EQ(f[f.size() - stride + i], b.row(0)[i]) << w.depth;
    }
}

TEST(BmpWrite, EmptyBitmapIsNotWritten) {
    Bitmap b;
    EXPECT_THROW(b.toBmpBytes(), OperationError);
}

// ---- The PNG written ----

namespace {

// The colours of a PNG file as ToPngBytes writes it (8-bit samples, palette or RGB, filter
// None on every row), its compressed rows inflated by zlib.
std::vector<RgbColour> PngColours(const std::vector<std::uint8_t>& png, int width, int height) {
    auto u32 = [&](std::size_t at) {
        return std::size_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    };
    std::vector<std::uint8_t> compressed, palette;
    bool indexed = false;
    for (std::size_t at = 8; at + 12 <= png.size(); at += u32(at) + 12) {
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        const auto data = png.begin() + at + 8;
        if (type == "IHDR") indexed = data[9] == 3;
        if (type == "PLTE") palette.assign(data, data + u32(at));
        if (type == "IDAT") compressed.insert(compressed.end(), data, data + u32(at));
    }
    const std::size_t line = static_cast<std::size_t>(width) * (indexed ? 1 : 3) + 1;
    std::vector<std::uint8_t> rows(line * height + 1);
    uLongf size = rows.size();
    EXPECT_EQ(uncompress(rows.data(), &size, compressed.data(), compressed.size()), Z_OK);
    EXPECT_EQ(size, line * height);
    std::vector<RgbColour> colours;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rows.data() + line * y;
        EXPECT_EQ(row[0], 0) << "filter of row " << y;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* c = indexed ? &palette.at(3 * row[1 + x]) : row + 1 + 3 * x;
            colours.push_back({c[0], c[1], c[2]});
        }
    }
    return colours;
}

}  // namespace

TEST(PngWrite, RowsInflateToTheColoursOfTheBitmap) {
    std::mt19937 gen(11);
    std::vector<Bitmap> bitmaps;
    for (int depth : kDepths)
        bitmaps.push_back(RandomBitmap(gen, 531, 517, depth));  // noise
    Bitmap runs = RandomBitmap(gen, 1000, 300, 8);  // runs of every length the codes split
    const int lengths[] = {1, 2, 3, 4, 10, 257, 258, 259, 517, 2000};
    for (std::size_t at = 0, k = 0; at < runs.bits().size(); ++k) {
        const std::size_t n = std::min<std::size_t>(lengths[k % 10], runs.bits().size() - at);
        std::fill_n(runs.row(0) + at, n, static_cast<std::uint8_t>(k % 7 == 0 ? 0 : gen()));
        at += n;
    }
    bitmaps.push_back(runs);
    bitmaps.emplace_back().create(700, 900, 8);  // index 0 only, as the filter bytes
    bitmaps.back().setPalette(RandomPalette(gen, 256));
    bitmaps.push_back(RandomBitmap(gen, 1, 300000, 8));  // many rows a block
    std::fill_n(bitmaps.back().row(0), 4 * 1000, 0);
    // Palette bitmaps asked in RGB (a 24-bit output) as well: the same colours.
    for (const Bitmap& b : bitmaps)
        for (bool trueColour : {false, true}) {
            if (trueColour && b.height() > 1000) continue;  // the long one adds nothing here
            const std::vector<std::uint8_t> png = ToPngBytes(b, "x.png", trueColour);
            EXPECT_EQ(png[25], trueColour || b.bitsPerPixel() > 8 ? 2 : 3);  // colour type
            const std::vector<RgbColour> colours = PngColours(png, b.width(), b.height());
            ASSERT_EQ(colours.size(), static_cast<std::size_t>(b.width()) * b.height());
            int wrong = 0;
            for (int y = 0; y < b.height(); ++y)
                for (int x = 0; x < b.width(); ++x)
                    wrong +=
                        colours[static_cast<std::size_t>(y) * b.width() + x] != b.pixelColour(x, y);
            EXPECT_EQ(wrong, 0) << b.width() << " x " << b.height() << ", " << b.bitsPerPixel()
                                << " bits" << (trueColour ? ", in RGB" : "");
        }
}

// ---- Reading back ----

TEST(BmpRead, RoundTripOfEveryDepthAndWidth) {
    std::mt19937 gen(2);
    for (int depth : kDepths)
        for (int width : {1, 2, 3, 5, 8, 13, 33})
            for (int height : {1, 4}) {
                const Bitmap b = RandomBitmap(gen, width, height, depth);
                const Bitmap back = Bitmap::FromBmpBytes(b.toBmpBytes());
                ASSERT_EQ(back, b) << "depth " << depth << " " << width << "x" << height;
            }
}

TEST(BmpRead, TopDownRowsReadLikeBottomUp) {
    std::mt19937 gen(3);
    for (int depth : kDepths) {
        const Bitmap b = RandomBitmap(gen, 6, 5, depth);
        Bytes f = b.toBmpBytes();
        const std::size_t offset = GetLE32(f, 10);
        const std::size_t stride = b.stride();
        Bytes flipped(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(offset));
        for (int r = 4; r >= 0; --r) {
            auto at = f.begin() + static_cast<std::ptrdiff_t>(offset + r * stride);
            flipped.insert(flipped.end(), at, at + static_cast<std::ptrdiff_t>(stride));
        }
        const std::uint32_t negative = static_cast<std::uint32_t>(-5);
        for (int i = 0; i < 4; ++i)
            flipped[22 + i] = static_cast<std::uint8_t>(negative >> (8 * i));
        EXPECT_EQ(Bitmap::FromBmpBytes(flipped), b) << depth;
    }
}

TEST(BmpRead, CoreHeaderWithThreeBytePalette) {
    BmpFile f;
    f.headerSize = 12;
    f.width = 3;
    f.height = 2;
    f.bits = 8;
    f.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};  // short: offset says 3 entries
    f.pixels = {2, 1, 0, 0, 0, 0, 2, 0};                     // bottom row first
    const Bitmap b = Bitmap::FromBmpBytes(f.build());
    EXPECT_EQ(b.bitsPerPixel(), 8);
    ASSERT_EQ(b.palette().size(), 256u);
    EXPECT_EQ(b.palette()[1], (RgbColour{40, 50, 60}));
    EXPECT_EQ(b.palette()[3], RgbColour{});
    EXPECT_EQ(b.pixelColour(0, 1), (RgbColour{70, 80, 90}));
    EXPECT_EQ(b.pixelColour(1, 1), (RgbColour{40, 50, 60}));
    EXPECT_EQ(b.pixelColour(2, 0), (RgbColour{70, 80, 90}));

    BmpFile t;
    t.headerSize = 12;
    t.width = 1;
    t.height = 1;
    t.pixels = {1, 2, 3, 0};
    EXPECT_EQ(Bitmap::FromBmpBytes(t.build()).pixelColour(0, 0), (RgbColour{3, 2, 1}));

    BmpFile sixteen = t;  // the core header knows no 16 or 32-bit pictures
    sixteen.bits = 16;
    ExpectInvalid(sixteen.build(), "core 16-bit");
}

TEST(BmpRead, LongerInfoHeaders) {
    for (int size : {52, 56, 108, 124}) {
        BmpFile f;
        f.headerSize = size;
        f.width = 2;
        f.height = 1;
        f.bits = 16;
        f.compression = 3;
        f.masks = {0xF800, 0x07E0, 0x001F};
        f.pixels = {0xFF, 0xFF, 0x00, 0xF8};
        Bitmap b = Bitmap::FromBmpBytes(f.build());
        EXPECT_EQ(b.bitsPerPixel(), 16) << size;
        EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{255, 255, 255})) << size;
        EXPECT_EQ(b.pixelColour(1, 0), (RgbColour{255, 0, 0})) << size;

        f.masks = {0x7C00, 0x03E0, 0x001F};
        EXPECT_EQ(Bitmap::FromBmpBytes(f.build()).bitsPerPixel(), 15) << size;

        f.bits = 32;
        f.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
        f.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
        b = Bitmap::FromBmpBytes(f.build());
        EXPECT_EQ(b.bitsPerPixel(), 32) << size;
        EXPECT_EQ(b.pixelColour(1, 0), (RgbColour{7, 6, 5})) << size;
    }
    // 40-byte header, 16 bits without bit fields: 5-5-5.
    BmpFile f;
    f.width = 1;
    f.bits = 16;
    f.pixels = {0x00, 0x7C, 0, 0};
    const Bitmap b = Bitmap::FromBmpBytes(f.build());
    EXPECT_EQ(b.bitsPerPixel(), 15);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{255, 0, 0}));
}

TEST(BmpRead, OtherBitFieldsBecomeTwentyFourBits) {
    BmpFile f;
    f.width = 2;
    f.height = 1;
    f.bits = 16;
    f.compression = 3;
    f.masks = {0x0F00, 0x00F0, 0x000F};  // 4-4-4
    f.pixels = {0x84, 0x0F, 0x10, 0x00};
    Bitmap b = Bitmap::FromBmpBytes(f.build());
    EXPECT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{0xFF, 0x88, 0x44}));
    EXPECT_EQ(b.pixelColour(1, 0), (RgbColour{0x00, 0x11, 0x00}));

    f.bits = 32;
    f.masks = {0xFF000000, 0x00FF0000, 0x0000FF00};  // red in the last byte
    f.pixels = {9, 30, 20, 10, 9, 3, 2, 1};
    b = Bitmap::FromBmpBytes(f.build());
    EXPECT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{10, 20, 30}));
    EXPECT_EQ(b.pixelColour(1, 0), (RgbColour{1, 2, 3}));

    // 10 bits a channel keep their top 8; a missing channel reads 0; a 1-bit one is 0 or 255.
    f.masks = {0x3FF00000, 0x00000001, 0};
    const std::uint32_t v = (0x2A5u << 20) | 1u;
    f.pixels = {static_cast<std::uint8_t>(v),
                static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16),
                static_cast<std::uint8_t>(v >> 24),
                0,
                0,
                0,
                0};
    b = Bitmap::FromBmpBytes(f.build());
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{0xA9, 0xFF, 0}));

    f.masks = {0x00F0F000, 0x0000000F, 0x000000F0};  // not one run of bits
    ExpectInvalid(f.build(), "split mask");
    f.bits = 16;
    f.masks = {0x000F0000, 0x000000F0, 0x0000000F};  // outside 16 bits
    f.pixels = {0, 0, 0, 0};
    ExpectInvalid(f.build(), "mask past the pixel");
}

TEST(BmpRead, ColourTableSizes) {
    BmpFile f;
    f.width = 1;
    f.bits = 8;
    f.colorsUsed = 2;
    f.palette = {{1, 2, 3}, {4, 5, 6}};
    f.pixels = {1, 0, 0, 0};
    Bitmap b = Bitmap::FromBmpBytes(f.build());
    ASSERT_EQ(b.palette().size(), 256u);  // padded with black
    EXPECT_EQ(b.palette()[1], (RgbColour{4, 5, 6}));
    EXPECT_EQ(b.palette()[2], RgbColour{});
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{4, 5, 6}));

    // A count beyond 2^bits takes 2^bits entries.
    f.bits = 1;
    f.colorsUsed = 300;
    f.palette = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
    f.pixels = {0x80, 0, 0, 0};
    b = Bitmap::FromBmpBytes(f.build());
    ASSERT_EQ(b.palette().size(), 2u);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{2, 2, 2}));

    // A table that runs into the pixel data stops where the pixels begin.
    f.bits = 8;
    f.colorsUsed = 0;
    f.palette = {{7, 7, 7}, {8, 8, 8}};
    f.pixels = {1, 0, 0, 0};
    b = Bitmap::FromBmpBytes(f.build());
    EXPECT_EQ(b.palette()[1], (RgbColour{8, 8, 8}));
    EXPECT_EQ(b.palette()[2], RgbColour{});
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{8, 8, 8}));
}

TEST(BmpRead, RunLengthEightBits) {
    BmpFile f;
    f.width = 6;
    f.height = 4;
    f.bits = 8;
    f.compression = 1;
    f.palette.assign(256, RgbColour{});
    f.pixels = {
        3, 5,              // bottom row: three 5s
        0, 3, 7, 8, 9, 0,  // then 7 8 9 given one by one (padded to a word)
        0, 0,              // end of line
        0, 2, 2, 1,        // move 2 right, 1 up: third row from the bottom, column 2
        2, 4,              // two 4s
        0, 0,              // end of line: top row
        0, 4, 1, 2, 3, 4,  // 1 2 3 4, no padding needed
        2, 6,              // two 6s
        0, 1,              // end of bitmap
    };
    const Bitmap b = Bitmap::FromBmpBytes(f.build());
    ASSERT_EQ(b.bitsPerPixel(), 8);
    const std::uint8_t want[4][6] = {
        {1, 2, 3, 4, 6, 6}, {0, 0, 4, 4, 0, 0}, {0, 0, 0, 0, 0, 0}, {5, 5, 5, 7, 8, 9}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(b.row(y)[x], want[y][x]) << x << "," << y;
}

TEST(BmpRead, RunLengthFourBits) {
    BmpFile f;
    f.width = 7;
    f.height = 2;
    f.bits = 4;
    f.compression = 2;
    f.palette.assign(16, RgbColour{});
    f.palette[0xC] = {1, 2, 3};
    f.pixels = {
        5, 0x12,              // 1 2 1 2 1
        0, 0,                 // end of line
        0, 3,    0xAB, 0xC0,  // A B C (two bytes, already a word)
        0, 4,    0x34, 0x56,  // 3 4 5 6
        0, 1,
    };
    const Bitmap b = Bitmap::FromBmpBytes(f.build());
    ASSERT_EQ(b.bitsPerPixel(), 4);
    // Top row: A B C 3 4 5 6 -> bytes AB C3 45 6x.
    EXPECT_EQ(b.row(0)[0], 0xAB);
    EXPECT_EQ(b.row(0)[1], 0xC3);
    EXPECT_EQ(b.row(0)[2], 0x45);
    EXPECT_EQ(b.row(0)[3] & 0xF0, 0x60);
    // Bottom row: 1 2 1 2 1, then two pixels never written (index 0).
    EXPECT_EQ(b.row(1)[0], 0x12);
    EXPECT_EQ(b.row(1)[1], 0x12);
    EXPECT_EQ(b.row(1)[2], 0x10);
    EXPECT_EQ(b.row(1)[3], 0x00);
    EXPECT_EQ(b.pixelColour(2, 0), (RgbColour{1, 2, 3}));
}

TEST(BmpRead, RunLengthErrors) {
    BmpFile f;
    f.width = 4;
    f.height = 2;
    f.bits = 8;
    f.compression = 1;
    f.palette.assign(256, RgbColour{});
    auto with = [&](Bytes codes) {
        BmpFile g = f;
        g.pixels = std::move(codes);
        return g.build();
    };
    // Runs padded past the row's end, as GraphicsMagick writes them: cut at the row's end.
    const Bitmap padded =
        Bitmap::FromBmpBytes(with({3, 1, 2, 2, 0, 0, 0, 5, 3, 4, 5, 6, 7, 0, 0, 1}));
    EXPECT_EQ(Bytes(padded.row(1), padded.row(1) + 4), (Bytes{1, 1, 1, 2}));
    EXPECT_EQ(Bytes(padded.row(0), padded.row(0) + 4), (Bytes{3, 4, 5, 6}));
    ExpectInvalid(with({0, 0, 0, 0, 1, 1, 0, 1}), "run above the top row");
    ExpectInvalid(with({0, 2, 5, 0, 0, 1}), "move past the right edge");
    ExpectInvalid(with({0, 2, 0, 3, 0, 1}), "move past the top");
    ExpectInvalid(with({0, 4, 1, 2}), "literal pixels cut short");
    ExpectInvalid(with({4, 1, 0}), "code cut in half");
    ExpectInvalid(with({0, 2, 1}), "move cut short");
    // Data that stops between two codes reads as ended: the rest stays index 0.
    const Bitmap b = Bitmap::FromBmpBytes(with({4, 9}));
    EXPECT_EQ(b.row(1)[3], 9);
    EXPECT_EQ(b.row(0)[0], 0);

    BmpFile topDown = f;
    topDown.height = -2;
    topDown.pixels = {0, 1};
    ExpectInvalid(topDown.build(), "top-down run-length picture");

    BmpFile wrongDepth = f;  // RLE8 on a 4-bit picture
    wrongDepth.bits = 4;
    wrongDepth.palette.resize(16);
    wrongDepth.pixels = {0, 1};
    ExpectInvalid(wrongDepth.build(), "RLE8 with 4 bits");
}

TEST(BmpRead, MalformedHeadersAreRejected) {
    BmpFile good;
    good.width = 2;
    good.height = 2;
    good.pixels.assign(16, 0);
    ASSERT_NO_THROW(Bitmap::FromBmpBytes(good.build()));

    auto variant = [&](auto change) {
        BmpFile f = good;
        change(f);
        return f.build();
    };
    Bytes sig = good.build();
    sig[0] = 'X';
    ExpectInvalid(sig, "signature");
    ExpectInvalid(Bytes{}, "empty");
    ExpectInvalid(Bytes{'B', 'M'}, "signature only");
    ExpectInvalid(variant([](BmpFile& f) { f.headerSize = 64; }), "header size 64");
    ExpectInvalid(variant([](BmpFile& f) { f.planes = 0; }), "no planes");
    ExpectInvalid(variant([](BmpFile& f) { f.width = 0; }), "width 0");
    ExpectInvalid(variant([](BmpFile& f) { f.width = -2; }), "negative width");
    ExpectInvalid(variant([](BmpFile& f) { f.height = 0; }), "height 0");
    ExpectInvalid(variant([](BmpFile& f) { f.height = INT32_MIN; }), "height -2^31");
    ExpectInvalid(variant([](BmpFile& f) { f.bits = 7; }), "7 bits");
    ExpectInvalid(variant([](BmpFile& f) { f.bits = 0; }), "0 bits");
    ExpectInvalid(variant([](BmpFile& f) { f.compression = 4; }), "JPEG inside");
    ExpectInvalid(variant([](BmpFile& f) { f.compression = 1; }), "RLE8 on 24 bits");
    ExpectInvalid(variant([](BmpFile& f) { f.compression = 3; }), "bit fields on 24 bits");
    ExpectInvalid(variant([](BmpFile& f) { f.offsetOverride = 1000; }), "offset past the end");
    ExpectInvalid(variant([](BmpFile& f) { f.offsetOverride = 20; }), "offset in the header");
    ExpectInvalid(variant([](BmpFile& f) { f.pixels.resize(15); }), "one byte of pixels short");
    ExpectInvalid(variant([](BmpFile& f) {
                      f.bits = 16;
                      f.compression = 3;  // masks announced, none follow
                      f.pixels.clear();
                  }),
                  "bit fields missing");
    // Sizes that would need gigabytes, with a file of a few bytes.
    ExpectInvalid(variant([](BmpFile& f) {
                      f.width = 20000;
                      f.height = 20000;
                  }),
                  "400 million pixels");
    ExpectInvalid(variant([](BmpFile& f) {
                      f.width = INT32_MAX;
                      f.height = -INT32_MAX;
                  }),
                  "largest sizes");
    ExpectInvalid(variant([](BmpFile& f) {
                      f.bits = 8;
                      f.compression = 1;
                      f.width = 16384;
                      f.height = 16385;
                      f.pixels = {0, 1};
                  }),
                  "run-length picture over the pixel limit");
    // The limit can be lowered.
    const Bytes ok = good.build();
    EXPECT_THROW(Bitmap::FromBmpBytes(ok, 3), OperationError);
    EXPECT_NO_THROW(Bitmap::FromBmpBytes(ok, 4));
}

// Every prefix of a good file is either rejected with the one message or, for run-length
// data cut between two codes, read as a picture of the full size.
TEST(BmpRead, TruncatedFilesAreRejected) {
    std::mt19937 gen(4);
    std::vector<Bytes> files;
    for (int depth : kDepths)
        files.push_back(RandomBitmap(gen, 5, 3, depth).toBmpBytes());
    BmpFile core;
    core.headerSize = 12;
    core.width = 2;
    core.bits = 4;
    core.palette.assign(16, RgbColour{1, 2, 3});
    core.pixels = {0x12, 0, 0, 0};
    files.push_back(core.build());
    for (const Bytes& full : files)
        for (std::size_t n = 0; n < full.size(); ++n)
            ExpectInvalid(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)),
                          "prefix " + std::to_string(n) + " of " + std::to_string(full.size()));

    BmpFile rle;
    rle.width = 5;
    rle.height = 3;
    rle.bits = 8;
    rle.compression = 1;
    rle.palette.assign(256, RgbColour{});
    rle.pixels = {2, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 5, 9, 0, 1};
    const Bytes full = rle.build();
    const std::size_t dataStart = full.size() - rle.pixels.size();
    for (std::size_t n = 0; n < full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        try {
            const Bitmap b = Bitmap::FromBmpBytes(cut);
            EXPECT_GE(n, dataStart);
            EXPECT_EQ(b.width(), 5);
            EXPECT_EQ(b.height(), 3);
        } catch (const OperationError& e) {
            EXPECT_STREQ(e.what(), "Bitmap image is not valid");
        }
    }
}

// Damaged files: any outcome but a readable bitmap or the one error is a fault.
TEST(BmpRead, CorruptedFilesNeverCrash) {
    std::mt19937 gen(9);
    std::vector<Bytes> files;
    for (int depth : kDepths)
        files.push_back(RandomBitmap(gen, 6, 4, depth).toBmpBytes());
    BmpFile rle;
    rle.width = 6;
    rle.height = 4;
    rle.bits = 4;
    rle.compression = 2;
    rle.palette.assign(16, RgbColour{});
    rle.pixels = {6, 0x12, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 2, 1, 1, 3, 0xFF, 0, 1};
    files.push_back(rle.build());
    int accepted = 0;
    int rejected = 0;
    for (const Bytes& good : files)
        for (int trial = 0; trial < 400; ++trial) {
            Bytes f = good;
            const int changes = 1 + static_cast<int>(gen() % 4);
            for (int c = 0; c < changes; ++c)
                f[gen() % f.size()] = static_cast<std::uint8_t>(gen());
            try {
                // A lower pixel limit keeps damaged sizes from allocating much.
                const Bitmap b = Bitmap::FromBmpBytes(f, 1 << 20);
                ASSERT_GT(b.width(), 0);
                ASSERT_GT(b.height(), 0);
                ASSERT_EQ(b.bits().size(), b.stride() * static_cast<std::size_t>(b.height()));
                ++accepted;
            } catch (const OperationError& e) {
                ASSERT_STREQ(e.what(), "Bitmap image is not valid");
                ++rejected;
            }
        }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(rejected, 0);
}

// ---- Files ----

TEST(BmpFiles, SaveWritesTheBytesAndReadsBack) {
    TempDir dir;
    std::mt19937 gen(6);
    const Bitmap b = RandomBitmap(gen, 9, 7, 8);
    const std::string path = dir.file("out.bmp");
    b.saveBmpFile(path);
    EXPECT_EQ(test::ReadFile(path), b.toBmpBytes());
    EXPECT_EQ(Bitmap::ReadBmpFile(path), b);

    // An existing file is replaced, and nothing else is left in the folder.
    const Bitmap other = RandomBitmap(gen, 3, 2, 24);
    other.saveBmpFile(path);
    EXPECT_EQ(Bitmap::ReadBmpFile(path), other);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(BmpFiles, ReplacedFileKeepsItsBitsAndAReadOnlyOneIsNotReplaced) {
    TempDir dir;
    Bitmap b;
    b.create(2, 2, 8);
    const std::string path = dir.file("out.bmp");
    const mode_t mask = ::umask(022);
    b.saveBmpFile(path);
    ::umask(mask);
    auto bits = [&] {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(bits(), 0644u);
    ::chmod(path.c_str(), 0600);
    b.saveBmpFile(path);
    EXPECT_EQ(bits(), 0600u);

    ::chmod(path.c_str(), 0444);
    const auto before = test::ReadFile(path);
    Bitmap other;
    other.create(3, 3, 24);
    try {
        other.saveBmpFile(path);
        ADD_FAILURE() << "replaced a read-only file";
    } catch (const OperationError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + path + " (Permission denied)");
    }
    EXPECT_EQ(test::ReadFile(path), before);
    EXPECT_EQ(bits(), 0444u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(BmpFiles, LeftoverTemporaryFilesOfEarlierRunsAreRemoved) {
    TempDir dir;
    const std::time_t now = std::time(nullptr);
    auto temp = [&](const std::string& name, std::time_t changed) {
        test::WriteFile(dir.file(name), std::string(100, 'x'));
        const timespec times[2] = {{changed, 0}, {changed, 0}};
        ::utimensat(AT_FDCWD, dir.file(name).c_str(), times, 0);
    };
    temp(".pelorin-0badf00d.tmp", now - 60);  // left by a killed run
    temp(".pelorin-00c0ffee.tmp", now - 60);  // still being written: its writer holds it
    temp(".pelorin-12345678.tmp", now + 5);   // newer than this run
    temp(".pelorin-notours.tmp", now - 60);   // another name
    const int held = ::open(dir.file(".pelorin-00c0ffee.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    RemoveStaleTemporaryFiles(dir.path().string(), now);
    ::close(held);
    EXPECT_FALSE(std::filesystem::exists(dir.file(".pelorin-0badf00d.tmp")));
    for (const char* kept :
         {".pelorin-00c0ffee.tmp", ".pelorin-12345678.tmp", ".pelorin-notours.tmp"})
        EXPECT_TRUE(std::filesystem::exists(dir.file(kept))) << kept;
}

TEST(BmpFiles, TargetNamesNearTheLengthLimitSave) {
    TempDir dir;
    Bitmap b;
    b.create(2, 2, 8);
    const std::string name = std::string(250, 'n') + ".bmp";  // 254 bytes of the 255 allowed
    b.saveBmpFile(dir.file(name));
    EXPECT_EQ(Bitmap::ReadBmpFile(dir.file(name)), b);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(BmpFiles, FailedSaveLeavesNothingBehind) {
    TempDir dir;
    Bitmap b;
    b.create(2, 2, 8);

    const std::string missing = dir.file("no-such-folder/out.bmp");
    try {
        b.saveBmpFile(missing);
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const OperationError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file " + missing + " (No such file or directory)");
    }

    // The target is a folder: the rename fails, the temporary file goes, the folder stays.
    const std::string folder = dir.file("taken.bmp");
    std::filesystem::create_directory(folder);
    test::WriteFile(dir.file("taken.bmp/inside"), std::string("keep"));
    try {
        b.saveBmpFile(folder);
        ADD_FAILURE() << "replaced a folder";
    } catch (const OperationError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + folder + " (Is a directory)");
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::exists(dir.file("taken.bmp/inside")));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(e.path().filename(), "taken.bmp");
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(BmpFiles, SizeIsJudgedFromTheHeadersAndOnlyThePixelsAreRead) {
    TempDir dir;
    BmpFile f;
    f.bits = 8;
    f.compression = 1;
    f.palette.assign(2, RgbColour{});
    f.pixels = {0, 1};  // end of bitmap at once
    auto refusal = [&](std::int32_t side) -> std::string {
        f.width = f.height = side;
        test::WriteFile(dir.file("rle.bmp"), f.build());
        try {
            Bitmap::ReadBmpFile(dir.file("rle.bmp"));
        } catch (const PictureRefused& e) {
            return e.what();
        }
        return "read";
    };
    EXPECT_EQ(refusal(16384), "Image trop grande : 16384 x 16384 pixels, au plus 67108864.");
    EXPECT_EQ(refusal(3000),
              "Image trop grande pour son fichier : 3000 x 3000 pixels pour 64 octets.");
    EXPECT_EQ(refusal(2048), "read");  // small enough to cost little whatever the file

    // A picture at the start of a sparse 2 GB file: its bytes are read, not the file's.
    std::mt19937 gen(7);
    const Bitmap small = RandomBitmap(gen, 16, 16, 8);
    small.saveBmpFile(dir.file("long.bmp"));
    std::filesystem::resize_file(dir.file("long.bmp"), std::uintmax_t{2} << 30);
    EXPECT_EQ(Bitmap::ReadBmpFile(dir.file("long.bmp")), small);
}

TEST(BmpFiles, ReadErrors) {
    TempDir dir;
    try {
        Bitmap::ReadBmpFile(dir.file("absent.bmp"));
        ADD_FAILURE() << "read a missing file";
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    test::WriteFile(dir.file("text.bmp"), std::string("not a picture"));
    EXPECT_THROW(Bitmap::ReadBmpFile(dir.file("text.bmp")), OperationError);
}
