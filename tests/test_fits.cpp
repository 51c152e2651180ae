// FITS reader: header cards and their messages, data of every kind, planes, images over
// 4000 pixels, short files and headers that claim more than a file can hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "TestUtil.h"
#include "base/Errors.h"
#include "image/Readers.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

struct Loaded {
    ImageState image;
    WcsInfo wcs;
    ZoomWindow zoom;
    MessageWords words;
};

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Loaded ReadBytes(const std::vector<std::uint8_t>& bytes, int plane = 1) {
    Loaded r;
    r.image.currentPlane = plane;
    std::istringstream in(Text(bytes));
    ReadFitsImage(in, r.image, r.wcs, r.zoom, r.words);
    return r;
}

std::vector<std::string> Basic(int bitpix, int width, int height) {
    return {Card("SIMPLE", "T"), Card("BITPIX", std::to_string(bitpix)), Card("NAXIS", "2"),
            Card("NAXIS1", std::to_string(width)), Card("NAXIS2", std::to_string(height))};
}

std::vector<std::string> With(std::vector<std::string> cards,
                              const std::vector<std::string>& more) {
    cards.insert(cards.end(), more.begin(), more.end());
    return cards;
}

// A card written character by character, blank-padded to 80.
std::string Raw(std::string s) {
    s.resize(80, ' ');
    return s;
}

// Only the header (no data at all), for tests of the cards.
Loaded ReadHeaderOnly(const std::vector<std::string>& cards) {
    return ReadBytes(FitsFile(cards, {}));
}

// Reference statistics, pixel by pixel in file order, from the physical values.
struct Reference {
    StatsAccumulator acc;
    void add(long double bscale, long double bzero, double stored) {
        acc.add(static_cast<double>(bscale * static_cast<long double>(stored) + bzero));
    }
};

void ExpectStats(const ImageState& image, const StatsAccumulator& acc) {
    long double mean = 0, sigma = 0;
    acc.finish(mean, sigma);
    EXPECT_EQ(image.dataMin, acc.dataMin);
    EXPECT_EQ(image.dataMax, acc.dataMax);
    EXPECT_EQ(image.mean, mean);
    EXPECT_EQ(image.sigma, sigma);
}

}  // namespace

// --- Data of each kind ------------------------------------------------------------------

TEST(FitsData, Int16RowsReversedStoredValuesKeptStatisticsPhysical) {
    const std::vector<std::uint8_t> data = {0x00, 0x01, 0x00, 0x02, 0x00, 0x03,
                                            0xFF, 0xFF, 0x80, 0x00, 0x7F, 0xFF};
    const auto bytes = FitsFile(With(Basic(16, 3, 2), {Card("BZERO", "32768")}), data);
    TempDir dir;
    WriteFile(dir.file("a.fits"), bytes);
    Loaded r;
    ReadFitsImage(dir.file("a.fits"), r.image, r.wcs, r.zoom, r.words);
    const ImageState& im = r.image;
    ASSERT_EQ(im.height, 2);
    ASSERT_EQ(im.width, 3);
    EXPECT_EQ(im.bitpix, 16);
    EXPECT_EQ(im.pixels16.rows(), 2);
    EXPECT_EQ(im.pixels16.cols(), 3);
    EXPECT_EQ(im.pixels16[1][0], 1);
    EXPECT_EQ(im.pixels16[1][1], 2);
    EXPECT_EQ(im.pixels16[1][2], 3);
    EXPECT_EQ(im.pixels16[0][0], -1);
    EXPECT_EQ(im.pixels16[0][1], -32768);
    EXPECT_EQ(im.pixels16[0][2], 32767);
    EXPECT_EQ(im.dataMin, 0);
    EXPECT_EQ(im.dataMax, 65535);
    // 32769 + 32770 + 32771 + 32767 + 0 + 65535 over six pixels.
    EXPECT_NEAR(static_cast<double>(im.mean), 196612.0 / 6, 1e-9);
    EXPECT_TRUE(im.errorText.empty());
    // Other kinds are untouched.
    EXPECT_EQ(im.pixels8.size(), 1u);
    EXPECT_EQ(im.pixelsR64.size(), 1u);
}

TEST(FitsData, Int8BlankBecomesZeroAndCountsAsBzero) {
    const auto bytes = FitsFile(With(Basic(8, 4, 1), {Card("BZERO", "10"), Card("BLANK", "255")}),
                                {7, 255, 3, 255});
    const Loaded r = ReadBytes(bytes);
    const ImageState& im = r.image;
    ASSERT_EQ(im.height, 1);
    EXPECT_EQ(im.pixels8[0][0], 7);
    EXPECT_EQ(im.pixels8[0][1], 0);
    EXPECT_EQ(im.pixels8[0][2], 3);
    EXPECT_EQ(im.pixels8[0][3], 0);
    EXPECT_EQ(im.dataMin, 10);  // the two blanks
    EXPECT_EQ(im.dataMax, 17);
    EXPECT_EQ(im.mean, (17.0L + 10 + 13 + 10) / 4);
}

TEST(FitsData, Real32NanInfinitiesAndLargestMagnitudesBecomeZero) {
    std::vector<std::uint8_t> data = {
        0x7F, 0xC0, 0x00, 0x00,  // NaN
        0x7F, 0x80, 0x00, 0x00,  // +inf
        0xFF, 0x80, 0x00, 0x00,  // -inf
        0x7F, 0x00, 0x00, 0x01,  // 1.7e38, first byte 0x7F
        0xFF, 0x7F, 0xFF, 0xFF,  // -3.4e38
        0x7E, 0xFF, 0xFF, 0xFF,  // 1.7e38 with first byte 0x7E: kept
    };
    PutBEFloat(data, -2.5f);
    PutBEFloat(data, -0.0f);
    const auto bytes = FitsFile(With(Basic(-32, 4, 2), {Card("BZERO", "1")}), data);
    const Loaded r = ReadBytes(bytes);
    const ImageState& im = r.image;
    ASSERT_EQ(im.height, 2);
    // File row 0 lands in array row 1.
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(im.pixelsR32[1][c], 0.0f) << c;
    EXPECT_EQ(im.pixelsR32[0][0], 0.0f);
    EXPECT_EQ(im.pixelsR32[0][1], 0x1.fffffep+126f);
    EXPECT_EQ(im.pixelsR32[0][2], -2.5f);
    EXPECT_EQ(im.dataMin, -1.5);
    EXPECT_EQ(im.dataMax, static_cast<double>(0x1.fffffep+126f) + 1);
    Reference ref;
    for (float v : {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0x1.fffffep+126f, -2.5f, 0.0f})
        ref.add(1, 1, v);
    ExpectStats(im, ref.acc);
}

TEST(FitsData, Real64ScaledAndBlank) {
    std::vector<std::uint8_t> data;
    for (double v : {1.25, -7.0, 1e300, 99.0, 0.1, 3.0})
        PutBEDouble(data, v);
    data[16] = 0x7F;  // third value now has a first byte of 0x7F
    const auto bytes = FitsFile(
        With(Basic(-64, 3, 2), {Card("BSCALE", "2"), Card("BZERO", "-1"), Card("BLANK", "99")}),
        data);
    const Loaded r = ReadBytes(bytes);
    const ImageState& im = r.image;
    ASSERT_EQ(im.height, 2);
    EXPECT_EQ(im.pixelsR64[1][0], 1.25);
    EXPECT_EQ(im.pixelsR64[1][1], -7.0);
    EXPECT_EQ(im.pixelsR64[1][2], 0.0);
    EXPECT_EQ(im.pixelsR64[0][0], 0.0);  // BLANK
    EXPECT_EQ(im.pixelsR64[0][1], 0.1);
    EXPECT_EQ(im.pixelsR64[0][2], 3.0);
    EXPECT_EQ(im.dataMin, -15);
    EXPECT_EQ(im.dataMax, 5);
    Reference ref;
    for (double v : {1.25, -7.0, 0.0, 0.0, 0.1, 3.0})
        ref.add(2, -1, v);
    ExpectStats(im, ref.acc);
}

TEST(FitsData, Int32BlankAndScaling) {
    std::vector<std::uint8_t> data;
    for (std::int32_t v : {std::numeric_limits<std::int32_t>::min(), 5, -9, 2147483647})
        PutBE32(data, v);
    const auto bytes =
        FitsFile(With(Basic(32, 2, 2),
                      {Card("BLANK", "-2147483648"), Card("BSCALE", "0.5"), Card("BZERO", "100")}),
                 data);
    const Loaded r = ReadBytes(bytes);
    const ImageState& im = r.image;
    ASSERT_EQ(im.height, 2);
    EXPECT_EQ(im.pixels32[1][0], 0);
    EXPECT_EQ(im.pixels32[1][1], 5);
    EXPECT_EQ(im.pixels32[0][0], -9);
    EXPECT_EQ(im.pixels32[0][1], 2147483647);
    EXPECT_EQ(im.dataMin, 95.5);
    EXPECT_EQ(im.dataMax, 2147483647.0 / 2 + 100);
}

// Statistics in file order with extended sums, compared with a straightforward reference
// for data of every kind under several scalings (whatever shortcut the reader takes, not a
// bit of the result may change).
TEST(FitsData, StatisticsMatchPixelByPixelReferenceForEveryKind) {
    struct Scale {
        const char* bscaleText;
        const char* bzeroText;
        long double bscale, bzero;
    };
    const Scale scales[] = {{nullptr, nullptr, 1.0L, 0.0L}, {"0.1", "-3.3", 0.1L, -3.3L},
                            {"1", "32768", 1.0L, 32768.0L}, {"1.0", "-1E12", 1.0L, -1e12L},
                            {"2", "0.5", 2.0L, 0.5L},       {"-1", "7", -1.0L, 7.0L}};
    std::mt19937 rng(7);
    auto check = [&](int bitpix, const Scale& scale, int w, int h) {
        {
            std::vector<std::uint8_t> data;
            std::vector<double> stored;
            for (int i = 0; i < w * h; ++i) {
                switch (bitpix) {
                    case 8: {
                        const auto v = static_cast<std::uint8_t>(rng());
                        data.push_back(v);
                        stored.push_back(v == 17 ? 0 : v);
                        break;
                    }
                    case 16: {
                        const auto v = static_cast<std::int16_t>(rng());
                        PutBE16(data, v);
                        stored.push_back(v);
                        break;
                    }
                    case 32: {
                        const auto v = static_cast<std::int32_t>(rng());
                        PutBE32(data, v);
                        stored.push_back(v);
                        break;
                    }
                    case -32: {
                        const float v = std::uniform_real_distribution<float>(-1e6f, 1e6f)(rng);
                        PutBEFloat(data, v);
                        stored.push_back(v);
                        break;
                    }
                    default: {
                        const double v = std::uniform_real_distribution<double>(-1e9, 1e9)(rng);
                        PutBEDouble(data, v);
                        stored.push_back(v);
                        break;
                    }
                }
            }
            std::vector<std::string> cards = Basic(bitpix, w, h);
            if (bitpix == 8) cards.push_back(Card("BLANK", "17"));
            if (scale.bscaleText) {
                cards.push_back(Card("BSCALE", scale.bscaleText));
                cards.push_back(Card("BZERO", scale.bzeroText));
            }
            const Loaded r = ReadBytes(FitsFile(cards, data));
            ASSERT_EQ(r.image.height, h);
            const long double bscale = scale.bscale;
            const long double bzero = scale.bzero;
            EXPECT_EQ(r.image.bscale, bscale);
            EXPECT_EQ(r.image.bzero, bzero);
            Reference ref;
            for (double v : stored)
                ref.add(bscale, bzero, v);
            SCOPED_TRACE("bitpix " + std::to_string(bitpix) + " bzero " +
                         (scale.bzeroText ? scale.bzeroText : "none"));
            ExpectStats(r.image, ref.acc);
            // Bottom-left pixel of the display is the first value of the file.
            EXPECT_EQ(StoredValue(r.image, h - 1, 0), stored[0]);
            EXPECT_EQ(StoredValue(r.image, 0, w - 1), stored.back());
        }
    };
    for (int bitpix : {8, 16, 32, -32, -64})
        for (const Scale& scale : scales)
            check(bitpix, scale, 37, 23);
    // Planes large enough to be read on several threads: integer sums split in parts, and the
    // ordered sums of reals (and of scaled integers) beside the decoding.
    for (int bitpix : {16, -32})
        for (const Scale& scale : {scales[0], scales[1]})
            check(bitpix, scale, 1500, 1500);
}

TEST(FitsData, SinglePixelHasItsValueAsMeanAndNoSpread) {
    std::vector<std::uint8_t> data;
    PutBE16(data, -123);
    const Loaded r = ReadBytes(FitsFile(Basic(16, 1, 1), data));
    EXPECT_EQ(r.image.height, 1);
    EXPECT_EQ(r.image.width, 1);
    EXPECT_EQ(r.image.mean, -123);
    EXPECT_EQ(r.image.sigma, 0);
}

TEST(FitsData, ConstantRealImageHasZeroSigmaNotNan) {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 1000; ++i)
        PutBEFloat(data, 0.1f);
    const Loaded r = ReadBytes(FitsFile(With(Basic(-32, 100, 10), {Card("BSCALE", "0.3")}), data));
    ASSERT_EQ(r.image.height, 10);
    EXPECT_FALSE(std::isnan(r.image.sigma));
    EXPECT_LT(r.image.sigma, 1e-9L);
    EXPECT_EQ(r.image.dataMin, r.image.dataMax);
}

// --- Planes ------------------------------------------------------------------------------

namespace {

std::vector<std::uint8_t> ThreePlanes() {
    std::vector<std::string> cards = {Card("SIMPLE", "T"), Card("BITPIX", "16"),
                                      Card("NAXIS", "3"),  Card("NAXIS1", "2"),
                                      Card("NAXIS2", "2"), Card("NAXIS3", "3")};
    std::vector<std::uint8_t> data;
    for (int plane = 1; plane <= 3; ++plane)
        for (int i = 0; i < 4; ++i)
            PutBE16(data, static_cast<std::int16_t>(plane * 100 + i));
    return FitsFile(cards, data);
}

}  // namespace

TEST(FitsPlanes, RequestedPlaneIsClampedAndRead) {
    const auto bytes = ThreePlanes();
    struct Case {
        int requested, read;
    };
    for (Case c : {Case{2, 2}, Case{7, 3}, Case{0, 1}, Case{-4, 1}, Case{1, 1}, Case{3, 3}}) {
        const Loaded r = ReadBytes(bytes, c.requested);
        SCOPED_TRACE(c.requested);
        ASSERT_EQ(r.image.height, 2);
        EXPECT_EQ(r.image.planeCount, 3);
        EXPECT_EQ(r.image.currentPlane, c.read);
        // First file row of the plane goes to the bottom row.
        EXPECT_EQ(r.image.pixels16[1][0], c.read * 100);
        EXPECT_EQ(r.image.pixels16[0][1], c.read * 100 + 3);
        EXPECT_EQ(r.image.dataMin, c.read * 100);
        EXPECT_EQ(r.image.dataMax, c.read * 100 + 3);
    }
}

TEST(FitsPlanes, ZeroPlaneCountReadsTheDataAsOnePlane) {
    const auto bytes = FitsFile(With(Basic(8, 2, 1), {Card("NAXIS3", "0")}), {4, 5});
    const Loaded r = ReadBytes(bytes, 3);
    ASSERT_EQ(r.image.height, 1);
    EXPECT_EQ(r.image.planeCount, 1);
    EXPECT_EQ(r.image.currentPlane, 1);
    EXPECT_EQ(r.image.pixels8[0][1], 5);
}

// Planes that start beyond 2 and 4 GiB. The file is sparse: only the two planes read are
// written.
TEST(FitsPlanes, PlanesBeyondTwoAndFourGigabytesAreReached) {
    TempDir dir;
    const std::string path = dir.file("deep.fits");
    const int side = 100;
    const std::int64_t planeBytes = std::int64_t{side} * side * 8;
    const int planes = 60000;
    const std::string header =
        HeaderBlocks({Card("SIMPLE", "T"), Card("BITPIX", "-64"), Card("NAXIS", "3"),
                      Card("NAXIS1", std::to_string(side)), Card("NAXIS2", std::to_string(side)),
                      Card("NAXIS3", std::to_string(planes)), Card("END", "")});
    auto planeData = [&](double base) {
        std::vector<std::uint8_t> d;
        for (int i = 0; i < side * side; ++i)
            PutBEDouble(d, base + i);
        return d;
    };
    {
        std::ofstream f(path, std::ios::binary);
        f.write(header.data(), static_cast<std::streamsize>(header.size()));
        for (int plane : {30000, planes}) {
            const auto d = planeData(plane * 1e5);
            f.seekp(static_cast<std::streamoff>(header.size() + planeBytes * (plane - 1)));
            f.write(reinterpret_cast<const char*>(d.data()),
                    static_cast<std::streamsize>(d.size()));
        }
        ASSERT_TRUE(f.good());
    }
    ASSERT_GT(std::filesystem::file_size(path), std::uintmax_t{1} << 32);
    for (int plane : {30000, planes}) {
        Loaded r;
        r.image.currentPlane = plane;
        ReadFitsImage(path, r.image, r.wcs, r.zoom, r.words);
        ASSERT_EQ(r.image.height, side);
        EXPECT_EQ(r.image.currentPlane, plane);
        EXPECT_EQ(r.image.pixelsR64[side - 1][0], plane * 1e5);
        EXPECT_EQ(r.image.pixelsR64[0][side - 1], plane * 1e5 + side * side - 1);
        EXPECT_EQ(r.image.dataMin, plane * 1e5);
    }
}

// --- The header model -----------------------------------------------------------------------

TEST(FitsHeaderCards, CardsAreSplitOnceAndGiveTheHeaderBack) {
    const HeaderCard c = ParseCard(Card("CTYPE1", "'RA---TAN'", "right ascension"));
    EXPECT_EQ(c.keyword, "CTYPE1");
    EXPECT_EQ(c.value, "'RA---TAN'");
    EXPECT_EQ(c.comment, "right ascension");
    EXPECT_EQ(c.text.size(), 80u);
    // No "=": the keyword is columns 1-8; no "/": the value stops at column 79.
    const HeaderCard history = ParseCard("HISTORY  made by hand");
    EXPECT_EQ(history.keyword, "HISTORY");
    const std::string full = "LONG    = " + std::string(69, '9') + "8";
    EXPECT_EQ(ParseCard(full).value, std::string(69, '9'));

    std::int64_t i = 0;
    EXPECT_TRUE(ParseHeaderInteger(" -9223372036854775808 ", i));
    EXPECT_EQ(i, std::numeric_limits<std::int64_t>::min());
    EXPECT_TRUE(ParseHeaderInteger("+42", i));
    EXPECT_EQ(i, 42);
    for (const char* bad :
         {"9223372036854775808", "44444444444444444444", "", "-", "1.0", "12a", "0x10", "+-5"})
        EXPECT_FALSE(ParseHeaderInteger(bad, i)) << bad;
    long double r = 0;
    EXPECT_TRUE(ParseHeaderReal("1E-310", r));
    EXPECT_EQ(static_cast<double>(r), 1e-310);
    for (const char* bad : {"inf", "NaN", "1e", "'1'", ""})
        EXPECT_FALSE(ParseHeaderReal(bad, r)) << bad;

    // Blocks to cards and back: everything before END, the header text rebuilt card by card.
    const std::string blocks = HeaderBlocks(
        {Card("SIMPLE", "T"), Card("NAXIS", "2"), Card("NAXIS1", "3000000000"), Card("END", "")});
    const ParsedHeader parsed = ParseHeaderBlocks(blocks + "trailing bytes");
    EXPECT_TRUE(parsed.complete);
    EXPECT_EQ(parsed.blocks, 1);
    ASSERT_EQ(parsed.cards.size(), 3u);
    EXPECT_EQ(CardInteger(parsed.cards, "NAXIS1"), 3000000000);
    EXPECT_EQ(CardInteger(parsed.cards, "NAXIS3"), std::nullopt);
    EXPECT_TRUE(CardIsTrue(parsed.cards, "SIMPLE"));
    EXPECT_EQ(HeaderString(parsed.cards), blocks.substr(0, 2880));
    EXPECT_FALSE(ParseHeaderBlocks(blocks.substr(0, 2000)).complete);
}

// --- Whole images --------------------------------------------------------------------------

TEST(FitsWhole, ImagesOverFourThousandPixelsAreKeptWhole) {
    const int n = 4500;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(n) * n, 2);
    data[0] = 250;                                        // first file row: bottom row
    data[static_cast<std::size_t>(n) * n - 1] = 9;        // last file row: top row, last column
    data[static_cast<std::size_t>(n) * 4400 + 4321] = 0;  // beyond 4000 both ways
    const Loaded r = ReadBytes(FitsFile(Basic(8, n, n), data));
    const ImageState& im = r.image;
    ASSERT_EQ(im.width, n);
    ASSERT_EQ(im.height, n);
    EXPECT_EQ(im.pixels8.rows(), n);
    EXPECT_EQ(im.pixels8.cols(), n);
    EXPECT_EQ(im.pixels8[n - 1][0], 250);
    EXPECT_EQ(im.pixels8[0][n - 1], 9);
    EXPECT_EQ(im.pixels8[n - 1 - 4400][4321], 0);
    EXPECT_EQ(im.axes, (std::vector<std::int64_t>{n, n}));
    EXPECT_EQ(im.missingBytes, 0);
    const long double count = static_cast<long double>(n) * n;
    EXPECT_EQ(im.mean, (2 * (count - 3) + 250 + 9) / count);
}

// --- Short files and impossible sizes ------------------------------------------------------

TEST(FitsShortFile, MissingValuesAreZeroAndCountAsBzero) {
    std::vector<std::uint8_t> data;
    for (std::int16_t v : {5, -6, 7})
        PutBE16(data, v);
    const auto full =
        FitsFile(With(Basic(16, 3, 3), {Card("BZERO", "1000"), Card("BSCALE", "3")}), data);
    // The same header with the data cut after three values and one byte of the fourth.
    std::vector<std::uint8_t> cut(full.begin(), full.begin() + 2880 + 7);
    const Loaded whole = ReadBytes(full);
    const Loaded shorter = ReadBytes(cut);
    ASSERT_EQ(shorter.image.height, 3);
    EXPECT_EQ(shorter.image.pixels16, whole.image.pixels16);
    EXPECT_EQ(shorter.image.pixels16[2][1], -6);
    EXPECT_EQ(shorter.image.pixels16[0][0], 0);
    EXPECT_EQ(shorter.image.dataMin, 982);
    EXPECT_EQ(shorter.image.dataMax, 1021);
    EXPECT_EQ(shorter.image.mean, whole.image.mean);
    EXPECT_EQ(shorter.image.sigma, whole.image.sigma);
}

// The array is not cleared before a read: a short file read over a full one of the same size
// must still leave zeros, in the row where it stops and in every later row.
TEST(FitsShortFile, CutFileOverAFullOneLeavesNoStaleValues) {
    std::vector<std::uint8_t> data;
    for (int v = 1; v <= 12; ++v)
        PutBE16(data, static_cast<std::int16_t>(v));
    const auto full = FitsFile(Basic(16, 4, 3), data);
    const std::vector<std::uint8_t> cut(full.begin(), full.begin() + 2880 + 2 * 5);
    Loaded r = ReadBytes(full);
    std::istringstream in(Text(cut));
    ReadFitsImage(in, r.image, r.wcs, r.zoom, r.words);
    const std::int16_t expected[3][4] = {{0, 0, 0, 0}, {5, 0, 0, 0}, {1, 2, 3, 4}};
    for (int row = 0; row < 3; ++row)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(r.image.pixels16[row][c], expected[row][c]) << row << "," << c;
}

// For every kind, with and without scaling: a file cut inside its data reads exactly like
// the same file with the missing values written as zeros.
TEST(FitsShortFile, EveryKindCutShortReadsLikeZeroPadding) {
    for (int bitpix : {8, 16, 32, -32, -64}) {
        for (bool scaled : {false, true}) {
            std::vector<std::uint8_t> data;
            for (int v : {3, -2, 9, 5, -7}) {
                switch (bitpix) {
                    case 8:
                        data.push_back(static_cast<std::uint8_t>(v + 10));
                        break;
                    case 16:
                        PutBE16(data, static_cast<std::int16_t>(v));
                        break;
                    case 32:
                        PutBE32(data, v);
                        break;
                    case -32:
                        PutBEFloat(data, static_cast<float>(v));
                        break;
                    default:
                        PutBEDouble(data, v);
                        break;
                }
            }
            std::vector<std::string> cards = Basic(bitpix, 4, 3);
            if (scaled) cards.push_back(Card("BZERO", "-20"));
            const auto padded = FitsFile(cards, data);
            const std::vector<std::uint8_t> cut(padded.begin(),
                                                padded.begin() + 2880 + data.size());
            const Loaded whole = ReadBytes(padded);
            const Loaded shorter = ReadBytes(cut);
            SCOPED_TRACE("bitpix " + std::to_string(bitpix) + (scaled ? " scaled" : ""));
            ASSERT_EQ(shorter.image.height, 3);
            for (int row = 0; row < 3; ++row)
                for (int c = 0; c < 4; ++c)
                    EXPECT_EQ(StoredValue(shorter.image, row, c), StoredValue(whole.image, row, c));
            EXPECT_EQ(shorter.image.dataMin, whole.image.dataMin);
            EXPECT_EQ(shorter.image.dataMax, whole.image.dataMax);
            EXPECT_EQ(shorter.image.mean, whole.image.mean);
            EXPECT_EQ(shorter.image.sigma, whole.image.sigma);
            EXPECT_EQ(whole.image.mean,
                      ((scaled ? -240.0L : 0.0L) + (bitpix == 8 ? 58.0L : 8.0L)) / 12);
        }
    }
}

TEST(FitsShortFile, DamageIsSaidAndHugeClaimsOnSmallFilesAreRefused) {
    // A -32 image whose data stop after 5000 of 240000 bytes: shown, the rest as zeros, and
    // the missing part counted.
    std::vector<std::uint8_t> data(5000, 0x3F);
    auto cut = FitsFile(Basic(-32, 300, 200), data);
    cut.resize(2880 + data.size());
    const Loaded shortened = ReadBytes(cut);
    ASSERT_EQ(shortened.image.height, 200);
    EXPECT_EQ(shortened.image.missingBytes, 235000);
    EXPECT_EQ(DamageNote(shortened.image), " (tronqué : 235000 octets manquants)");
    EXPECT_EQ(shortened.image.pixelsR32[0][0], 0.0f);
    EXPECT_NE(shortened.image.pixelsR32[199][0], 0.0f);

    // A header with no data at all is no image.
    auto headerOnly = FitsFile(Basic(16, 30, 20), {});
    headerOnly.resize(2880);
    const Loaded bare = ReadBytes(headerOnly);
    EXPECT_EQ(bare.image.height, 0);
    EXPECT_EQ(bare.image.errorText, "Aucune donnée après l'en-tête (30 x 20 annoncés)");

    // A 5760-byte file claiming 20000 x 20000 doubles, or a plane far beyond any memory: a
    // message, and no memory taken for what the file does not hold.
    const Loaded huge = ReadBytes(FitsFile(Basic(-64, 20000, 20000), std::vector<std::uint8_t>(8)));
    EXPECT_EQ(huge.image.height, 0);
    EXPECT_EQ(huge.image.errorText,
              "Fichier endommagé : l'image de 20000 x 20000 annonce 3200000000 octets, le "
              "fichier n'en contient pas la moitié");
    EXPECT_EQ(huge.image.pixelsR64.size(), 1u);
    EXPECT_EQ(ImageSizeRefusal(2000000000, 2000000000, 8),
              "Image trop grande : 2000000000 x 2000000000 pixels (mémoire insuffisante)");
    EXPECT_EQ(ImageSizeRefusal(16384, 16384, 4), "");
}

TEST(FitsShortFile, PlaneBeyondTheEndOfTheFileReadsAsZeros) {
    const auto bytes =
        FitsFile({Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "3"), Card("NAXIS1", "3"),
                  Card("NAXIS2", "2"), Card("NAXIS3", "1000"), Card("BZERO", "3")},
                 {1, 2, 3, 4, 5, 6});
    const Loaded r = ReadBytes(bytes, 900);
    ASSERT_EQ(r.image.height, 2);
    EXPECT_EQ(r.image.currentPlane, 900);
    PixelArray<std::uint8_t> zeros;
    zeros.resize(2, 3);
    EXPECT_EQ(r.image.pixels8, zeros);
    EXPECT_EQ(r.image.dataMin, 3);
    EXPECT_EQ(r.image.dataMax, 3);
    EXPECT_EQ(r.image.mean, 3);
    EXPECT_EQ(r.image.sigma, 0);
}

TEST(FitsShortFile, SizesBeyondSixtyFourBitsAreRefused) {
    const auto bytes = FitsFile(
        {Card("SIMPLE", "T"), Card("BITPIX", "-64"), Card("NAXIS", "3"),
         Card("NAXIS1", "2147483647"), Card("NAXIS2", "2147483647"), Card("NAXIS3", "2147483647")},
        {});
    const Loaded r = ReadBytes(bytes);
    EXPECT_EQ(r.image.height, 0);
    EXPECT_EQ(r.image.errorText, "Mot clé \"NAXISn\" trop grand");
    EXPECT_EQ(r.image.pixelsR64.size(), 1u);

    // Two sides alone can overflow too.
    const auto two = FitsFile(With(Basic(-64, 2147483647, 2147483647), {}), {});
    EXPECT_EQ(ReadBytes(two).image.errorText, "Mot clé \"NAXISn\" trop grand");
}

// --- Header messages ----------------------------------------------------------------------

TEST(FitsHeaderMessages, RejectedCardsGiveTheirMessageAndNoImage) {
    struct Case {
        std::vector<std::string> cards;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{Card("SIMPLE", "F"), Card("BITPIX", "8"), Card("NAXIS", "2"), Card("NAXIS1", "2"),
          Card("NAXIS2", "2")},
         "Mot clé \"SIMPLE = T\" manquant"},
        {{Raw("SIMPLE  ="), Card("BITPIX", "8")}, "Mot clé \"SIMPLE = T\" manquant"},
        {{Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "1"), Card("NAXIS1", "2")},
         "Mot clé \"NAXIS < 2\""},
        {Basic(8, 0, 2), "Mot clé \"NAXIS1 = 0\""},
        {Basic(8, 2, 0), "Mot clé \"NAXIS2 = 0\""},
        {Basic(8, -2, 2), "Mot clé \"NAXIS1 < 0\""},
        {Basic(8, 2, -2), "Mot clé \"NAXIS2 < 0\""},
        {With(Basic(8, 2, 2), {Card("NAXIS3", "-1")}), "Mot clé \"NAXIS3 < 0\""},
        {Basic(24, 2, 2), "Mot clé \"BITPIX = 24\" ?"},
        {Basic(12, 2, 2), "Mot clé \"BITPIX = 12\" ?"},
        {Basic(-16, 2, 2), "Mot clé \"BITPIX = -16\" ?"},
        // No BITPIX card: the read stops after the first block with the size already known.
        {{Card("SIMPLE", "T"), Card("NAXIS", "2"), Card("NAXIS1", "2"), Card("NAXIS2", "2")},
         "Mot clé \"BITPIX = 0\" ?"},
        {{Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "2"), Card("NAXIS1", "2")},
         "Mot clé \"NAXIS2\" manquant"},
        {{Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "2"), Card("NAXIS2", "2")},
         "Mot clé \"NAXIS1\" manquant"},
    };
    for (const Case& c : cases) {
        const Loaded r = ReadBytes(FitsFile(c.cards, std::vector<std::uint8_t>(64, 1)));
        EXPECT_EQ(r.image.height, 0) << c.message;
        EXPECT_EQ(r.image.errorText, c.message);
        EXPECT_EQ(r.image.pixels8.size(), 1u) << c.message;
        EXPECT_EQ(r.image.pixels16.size(), 1u) << c.message;
    }
}

TEST(FitsHeaderMessages, MessagesUseTheMessageWords) {
    Loaded r;
    r.words.msgKeyword = "Keyword";
    r.words.msgMissing = "missing";
    std::istringstream in(Text(FitsFile(With(Basic(8, 1, 1), {Card("SIMPLE", "F")}), {1})));
    ReadFitsImage(in, r.image, r.wcs, r.zoom, r.words);
    EXPECT_EQ(r.image.errorText, "Keyword \"SIMPLE = T\" missing");
    std::istringstream in2(Text(FitsFile(Basic(24, 1, 1), {1})));
    ReadFitsImage(in2, r.image, r.wcs, r.zoom, r.words);
    EXPECT_EQ(r.image.errorText, "Keyword \"BITPIX = 24\" ?");
}

TEST(FitsHeaderMessages, SizeGivenBeforeARejectedCardLeavesNoImage) {
    const Loaded r = ReadHeaderOnly({Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS2", "5"),
                                     Card("NAXIS1", "5"), Card("NAXIS", "1")});
    EXPECT_EQ(r.image.height, 0);
    EXPECT_EQ(r.image.width, 0);
    EXPECT_EQ(r.image.errorText, "Mot clé \"NAXIS < 2\"");
}

TEST(FitsHeaderMessages, NaxisOfThreeOrTenIsAccepted) {
    for (const char* naxis : {"3", "10"}) {
        const Loaded r =
            ReadBytes(FitsFile({Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", naxis),
                                Card("NAXIS1", "1"), Card("NAXIS2", "1"), Card("NAXIS3", "1")},
                               {42}));
        EXPECT_EQ(r.image.height, 1) << naxis;
        EXPECT_EQ(r.image.pixels8[0][0], 42) << naxis;
    }
}

TEST(FitsHeaderMessages, HeaderWithoutSimpleCardIsRead) {
    const Loaded r = ReadBytes(FitsFile(
        {Card("BITPIX", "8"), Card("NAXIS", "2"), Card("NAXIS1", "1"), Card("NAXIS2", "1")}, {42}));
    EXPECT_EQ(r.image.height, 1);
    EXPECT_EQ(r.image.pixels8[0][0], 42);
}

TEST(FitsHeaderMessages, FileEndingBeforeEndCardGivesNoImage) {
    // One full block of cards without END, and nothing after it.
    const std::string block = HeaderBlocks(Basic(8, 2, 2));
    for (std::size_t size : {block.size(), std::size_t{100}, std::size_t{0}}) {
        Loaded r;
        std::istringstream in(block.substr(0, size));
        ReadFitsImage(in, r.image, r.wcs, r.zoom, r.words);
        EXPECT_EQ(r.image.height, 0) << size;
        EXPECT_EQ(r.image.errorText, "Mot clé \"END\" manquant") << size;
    }
}

TEST(FitsHeaderMessages, NumbersThatDoNotConvertRaise) {
    auto message = [](const std::vector<std::string>& cards) -> std::string {
        try {
            ReadBytes(FitsFile(cards, {}));
        } catch (const OperationError& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(message({Card("SIMPLE", "T"), Card("BITPIX", "abc")}),
              "'abc' is not a valid integer value");
    EXPECT_EQ(message({Card("SIMPLE", "T"), Card("BITPIX", "16.0")}),
              "'16.0' is not a valid integer value");
    EXPECT_EQ(message({Card("SIMPLE", "T"), Raw("NAXIS1  =")}), "'' is not a valid integer value");
    EXPECT_EQ(message(With(Basic(8, 1, 1), {Card("BZERO", "1.5.5")})),
              "'1.5.5' is not a valid floating point value");
    // Fortran exponents are not read.
    EXPECT_EQ(message(With(Basic(8, 1, 1), {Card("BSCALE", "1.0D0")})),
              "'1.0D0' is not a valid floating point value");
    // Header bytes are Windows-1252; the message is UTF-8.
    EXPECT_EQ(message(With(Basic(8, 1, 1), {Raw("CRPIX1  = 12\xE9")})),
              "'12\xC3\xA9' is not a valid floating point value");
    // Beyond the range of a double.
    EXPECT_EQ(message(With(Basic(8, 1, 1), {Card("DATAMAX", "1E400")})),
              "'1E400' is not a valid floating point value");
    // A card after the size still raises: every card is applied.
    EXPECT_EQ(message(With(Basic(8, 1, 1), {Card("EQUINOX", "'J1990'")})),
              "''J1990'' is not a valid floating point value");
}

// --- Card rule and keyword table ---------------------------------------------------------

TEST(FitsCards, LaterCardWinsForSharedFields) {
    Loaded r = ReadHeaderOnly(With(Basic(8, 1, 1), {Card("DATAMAX", "100"), Card("THRESH", "80"),
                                                    Card("DATAMIN", "5"), Card("THRESL", "7")}));
    EXPECT_EQ(r.image.headerHigh, 80);
    EXPECT_EQ(r.image.headerLow, 7);
    r = ReadHeaderOnly(With(Basic(8, 1, 1), {Card("THRESH", "80"), Card("DATAMAX", "100"),
                                             Card("THRESL", "7"), Card("DATAMIN", "5")}));
    EXPECT_EQ(r.image.headerHigh, 100);
    EXPECT_EQ(r.image.headerLow, 5);
    r = ReadHeaderOnly(With(Basic(8, 1, 1), {Card("BZERO", "1"), Card("BZERO", "2")}));
    EXPECT_EQ(r.image.bzero, 2);
}

TEST(FitsCards, CommentIsCutAtSlashAndColumnEightyIsNeverValue) {
    Loaded r = ReadHeaderOnly(With(Basic(8, 1, 1), {Card("BZERO", "32768.0", "offset")}));
    EXPECT_EQ(r.image.bzero, 32768);
    // Value digits in columns 79 and 80 with no "/": only column 79 counts.
    std::string card = Raw("BSCALE  =");
    card[78] = '4';
    card[79] = '7';
    r = ReadHeaderOnly(With(Basic(8, 1, 1), {card}));
    EXPECT_EQ(r.image.bscale, 4);
    // A "/" right after "=" leaves an empty value: a conversion error.
    EXPECT_THROW(ReadHeaderOnly(With(Basic(8, 1, 1), {Raw("BZERO   =/ 5")})), OperationError);
}

TEST(FitsCards, BzeroAndBscaleKeepExtendedPrecision) {
    const Loaded r = ReadHeaderOnly(
        With(Basic(8, 1, 1), {Card("BZERO", "0.1"), Card("BSCALE", "1.0000000000000000001")}));
    EXPECT_EQ(r.image.bzero, 0.1L);
    EXPECT_NE(r.image.bzero, static_cast<long double>(0.1));
    EXPECT_GT(r.image.bscale, 1.0L);
}

TEST(FitsCards, CardWithoutEqualsTakesKeywordFromFirstEightColumns) {
    // "BZERO" in columns 1-8 and its value from column 10 on.
    Loaded r = ReadHeaderOnly(With(Basic(8, 1, 1), {Raw("BZERO    250")}));
    EXPECT_EQ(r.image.bzero, 250);
    // HISTORY and COMMENT cards that mention a keyword are ignored.
    r = ReadHeaderOnly(With(Basic(8, 1, 1), {Raw("HISTORY BZERO = 5"), Raw("COMMENT BSCALE 3")}));
    EXPECT_EQ(r.image.bzero, 0);
    EXPECT_EQ(r.image.bscale, 1);
}

TEST(FitsCards, KeywordsAreCaseSensitiveAndTrimmedOfControlCharacters) {
    Loaded r = ReadHeaderOnly(With(Basic(8, 1, 1), {Raw("bzero   = 10")}));
    EXPECT_EQ(r.image.bzero, 0);
    r = ReadHeaderOnly(With(Basic(8, 1, 1), {Raw("\tBZERO\x01 = \x02 12\x7F\x1F")}));
    EXPECT_EQ(r.image.bzero, 12);
}

TEST(FitsCards, CardsAfterEndInTheEndBlockAreApplied) {
    const std::string header =
        HeaderBlocks(With(Basic(8, 1, 1), {Card("END", ""), Card("BZERO", "5")}));
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    bytes.push_back(9);
    const Loaded r = ReadBytes(bytes);
    ASSERT_EQ(r.image.height, 1);
    EXPECT_EQ(r.image.bzero, 5);
    EXPECT_EQ(r.image.dataMax, 14);
}

TEST(FitsCards, TwoBlockHeaderLeavesFileAtTheSecondBoundary) {
    std::vector<std::string> cards = Basic(8, 2, 1);
    while (cards.size() < 40)
        cards.push_back(Raw("COMMENT filler"));
    cards.push_back(Card("BZERO", "1"));
    const auto bytes = FitsFile(cards, {3, 4});
    ASSERT_EQ(bytes.size(), 3u * 2880);
    std::istringstream in(Text(bytes));
    Loaded r;
    const FitsHeaderInfo info = ReadFitsHeader(in, r.image, r.wcs, r.zoom, r.words);
    EXPECT_EQ(info.dataOffset, 5760);
    EXPECT_EQ(in.tellg(), std::streampos(5760));
    EXPECT_EQ(r.image.bzero, 1);
    const Loaded full = ReadBytes(bytes);
    EXPECT_EQ(full.image.pixels8[0][0], 3);
    EXPECT_EQ(full.image.pixels8[0][1], 4);
}

TEST(FitsCards, BitpixMustBeInTheFirstBlock) {
    std::vector<std::string> cards = {Card("SIMPLE", "T"), Card("NAXIS", "2"), Card("NAXIS1", "1"),
                                      Card("NAXIS2", "1")};
    while (cards.size() < 36)
        cards.push_back(Raw("COMMENT"));
    cards.push_back(Card("BITPIX", "8"));
    const Loaded r = ReadBytes(FitsFile(cards, {1}));
    EXPECT_EQ(r.image.height, 0);
    EXPECT_EQ(r.image.errorText, "Mot clé \"BITPIX = 0\" ?");
}

TEST(FitsCards, HeaderReturnsBlankAndResetsEverythingEachRead) {
    Loaded r;
    std::istringstream first(Text(FitsFile(
        With(Basic(8, 1, 1), {Card("BLANK", "3"), Card("CTYPE1", "'RA---TAN'"), Card("CD1_1", "2"),
                              Card("PC001001", "4"), Card("CDELT1", "1")}),
        {})));
    FitsHeaderInfo info = ReadFitsHeader(first, r.image, r.wcs, r.zoom, r.words);
    EXPECT_EQ(info.blank, 3);
    EXPECT_TRUE(r.wcs.hasCdelt);
    ASSERT_NE(FindCard(r.image.cards, "CTYPE1"), nullptr);
    std::istringstream second(Text(FitsFile(Basic(16, 1, 1), {})));
    info = ReadFitsHeader(second, r.image, r.wcs, r.zoom, r.words);
    EXPECT_EQ(info.blank, 0);
    EXPECT_EQ(FindCard(r.image.cards, "CTYPE1"), nullptr);
    EXPECT_EQ(r.wcs.cdelt1, 0);
    EXPECT_FALSE(r.wcs.hasCdelt);
    EXPECT_EQ(r.image.bitpix, 16);
}

TEST(FitsWcs, FlipsFollowCdeltSignsOnlyWithCdeltOrCrota2) {
    struct Case {
        std::vector<std::string> cards;
        bool horizontal, vertical;
    };
    const std::vector<Case> cases = {
        {{Card("CDELT1", "0.0002"), Card("CDELT2", "0.0002")}, true, false},
        {{Card("CDELT1", "-0.0002"), Card("CDELT2", "-0.0002")}, false, true},
        {{Card("CD1_1", "0.0002"), Card("CD2_2", "-0.0002")}, false, false},
        {{Card("CROTA2", "10")}, false, false},
        {{Card("CDELT2", "-1")}, false, true},
    };
    for (const Case& c : cases) {
        const Loaded r = ReadHeaderOnly(With(Basic(8, 1, 1), c.cards));
        EXPECT_EQ(r.zoom.flipHorizontal, c.horizontal) << c.cards.front();
        EXPECT_EQ(r.zoom.flipVertical, c.vertical) << c.cards.front();
    }
    // CROTA2 sets the flag that lets the CDELT signs count.
    const Loaded r = ReadHeaderOnly(With(Basic(8, 1, 1), {Card("CROTA2", "1")}));
    EXPECT_TRUE(r.wcs.hasCdelt);
}

TEST(FitsWcs, FlipsAreOnlySwitchedOnAndOnlyAtEnd) {
    Loaded r;
    r.zoom.flipHorizontal = true;
    r.zoom.flipVertical = true;
    std::istringstream in(Text(FitsFile(Basic(8, 1, 1), {1})));
    ReadFitsImage(in, r.image, r.wcs, r.zoom, r.words);
    EXPECT_TRUE(r.zoom.flipHorizontal);
    EXPECT_TRUE(r.zoom.flipVertical);

    // A header that stops before END sets no flips.
    Loaded stopped;
    std::istringstream cut(HeaderBlocks(With(Basic(8, 1, 1), {Card("CDELT1", "1")})));
    ReadFitsImage(cut, stopped.image, stopped.wcs, stopped.zoom, stopped.words);
    EXPECT_FALSE(stopped.zoom.flipHorizontal);
    EXPECT_EQ(stopped.wcs.cdelt1, 1);  // what was read stays
}

// --- Files --------------------------------------------------------------------------------

TEST(FitsFiles, OpenFailuresRaiseTheRunTimeTexts) {
    TempDir dir;
    Loaded r;
    try {
        ReadFitsImage(dir.file("absent.fits"), r.image, r.wcs, r.zoom, r.words);
        ADD_FAILURE() << "no error";
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    try {
        ReadFitsImage(dir.path().string(), r.image, r.wcs, r.zoom, r.words);
        ADD_FAILURE() << "no error";
    } catch (const OperationError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("I/O error ", 0), 0u) << e.what();
    }
}
