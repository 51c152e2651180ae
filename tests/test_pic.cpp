// PIC reader: header checks and their messages, 16-bit and real data, rounding, the cap and
// short files.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "PicFiles.h"
#include "TestUtil.h"
#include "base/Errors.h"
#include "image/Readers.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

std::vector<std::uint8_t> Join(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

ImageState ReadPic(const std::vector<std::uint8_t>& bytes) {
    ImageState image;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    ReadPicImage(in, image);
    return image;
}

}  // namespace

TEST(PicData, Int16RowsReversed) {
    const std::vector<std::uint8_t> data = {0x01, 0x00, 0x02, 0x00, 0x03, 0x00,
                                            0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
    TempDir dir;
    WriteFile(dir.file("a.pic"), Join(PicHeader(3, 2, 2), data));
    ImageState im;
    im.currentPlane = 5;
    im.planeCount = 9;
    im.bzero = 7;
    im.bscale = 3;
    ReadPicImage(dir.file("a.pic"), im);
    ASSERT_EQ(im.height, 2);
    ASSERT_EQ(im.width, 3);
    EXPECT_EQ(im.bitpix, 16);
    EXPECT_EQ(im.pixels16[1][0], 1);
    EXPECT_EQ(im.pixels16[1][1], 2);
    EXPECT_EQ(im.pixels16[1][2], 3);
    EXPECT_EQ(im.pixels16[0][0], -1);
    EXPECT_EQ(im.pixels16[0][1], -32768);
    EXPECT_EQ(im.pixels16[0][2], 32767);
    EXPECT_EQ(im.dataMin, -32768);
    EXPECT_EQ(im.dataMax, 32767);
    EXPECT_EQ(im.mean, (1 + 2 + 3 - 1 - 32768 + 32767) / 6.0L);
    EXPECT_EQ(im.currentPlane, 1);
    EXPECT_EQ(im.planeCount, 1);
    EXPECT_EQ(im.bzero, 0);
    EXPECT_EQ(im.bscale, 1);
    EXPECT_EQ(im.pixels32.size(), 1u);
}

TEST(PicData, DataLengthSixteenIsAlsoInt16) {
    std::vector<std::uint8_t> data;
    PutLE16(data, -300);
    const ImageState im = ReadPic(Join(PicHeader(1, 1, 16), data));
    EXPECT_EQ(im.bitpix, 16);
    EXPECT_EQ(im.pixels16[0][0], -300);
}

TEST(PicData, RealsRoundHalfToEvenWithStatisticsUnrounded) {
    std::vector<std::uint8_t> data;
    for (float v : {2.5f, 3.5f, -2.5f, 0.49f, -1.75f, 1e9f})
        PutLEFloat(data, v);
    for (int length : {4, 32}) {
        const ImageState im = ReadPic(Join(PicHeader(3, 2, length), data));
        ASSERT_EQ(im.height, 2) << length;
        EXPECT_EQ(im.bitpix, 32);
        EXPECT_EQ(im.pixels32[1][0], 2);
        EXPECT_EQ(im.pixels32[1][1], 4);
        EXPECT_EQ(im.pixels32[1][2], -2);
        EXPECT_EQ(im.pixels32[0][0], 0);
        EXPECT_EQ(im.pixels32[0][1], -2);
        EXPECT_EQ(im.pixels32[0][2], 1000000000);
        EXPECT_EQ(im.dataMin, -2.5);
        EXPECT_EQ(im.dataMax, 1e9);
        StatsAccumulator acc;
        for (float v : {2.5f, 3.5f, -2.5f, 0.49f, -1.75f, 1e9f})
            acc.add(v);
        long double mean = 0, sigma = 0;
        acc.finish(mean, sigma);
        EXPECT_EQ(im.mean, mean);
        EXPECT_EQ(im.sigma, sigma);
    }
}

TEST(PicData, SingleTwoAndAHalfStoresTwo) {
    std::vector<std::uint8_t> data;
    PutLEFloat(data, 2.5f);
    const ImageState im = ReadPic(Join(PicHeader(1, 1, 32), data));
    EXPECT_EQ(im.pixels32[0][0], 2);
    EXPECT_EQ(im.dataMax, 2.5);
    EXPECT_EQ(im.dataMin, 2.5);
}

TEST(PicData, NanInfinityAndOutOfRangeReals) {
    std::vector<std::uint8_t> data;
    for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity(), 3e9f, -3e9f, 7.0f})
        PutLEFloat(data, v);
    const ImageState im = ReadPic(Join(PicHeader(6, 1, 4), data));
    ASSERT_EQ(im.height, 1);
    EXPECT_EQ(im.pixels32[0][0], 0);
    EXPECT_EQ(im.pixels32[0][1], 0);
    EXPECT_EQ(im.pixels32[0][2], 0);
    EXPECT_EQ(im.pixels32[0][3], std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(im.pixels32[0][4], std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(im.pixels32[0][5], 7);
    EXPECT_EQ(im.dataMax, 3e9);
    EXPECT_EQ(im.dataMin, -3e9);
    EXPECT_FALSE(std::isnan(im.mean));
    EXPECT_EQ(im.mean, 7.0L / 6);
}

TEST(PicData, ThresholdsComeFromTheHeader) {
    std::vector<std::uint8_t> data;
    PutLE16(data, 5);
    const ImageState im = ReadPic(Join(PicHeader(1, 1, 2, 3, 1000, 100), data));
    EXPECT_EQ(im.headerHigh, 1000);
    EXPECT_EQ(im.headerLow, 100);
    const ImageState neg = ReadPic(Join(PicHeader(1, 1, 2, 3, -5, -300), data));
    EXPECT_EQ(neg.headerHigh, -5);
    EXPECT_EQ(neg.headerLow, -300);
}

TEST(PicData, WideAndTallImagesAreKeptWhole) {
    const int w = 4100, h = 4002;
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(w) * h * 2);
    for (int k = 0; k < h; ++k)
        for (int c = 0; c < w; ++c)
            PutLE16(data, static_cast<std::int16_t>(k == 0 && c == 0 ? -9 : (c == 4050 ? 9 : 1)));
    const ImageState im = ReadPic(Join(PicHeader(w, h, 2), data));
    ASSERT_EQ(im.height, h);
    ASSERT_EQ(im.width, w);
    EXPECT_EQ(im.pixels16.rows(), h);
    EXPECT_EQ(im.pixels16.cols(), w);
    EXPECT_EQ(im.pixels16[h - 1][0], -9);  // the file's first value: bottom left
    EXPECT_EQ(im.pixels16[0][4050], 9);
    EXPECT_EQ(im.dataMin, -9);
    EXPECT_EQ(im.dataMax, 9);
    const long double n = static_cast<long double>(w) * h;
    EXPECT_EQ(im.mean, (n - 1 - h + (-9) + 9.0L * h) / n);
}

TEST(PicShortFile, MissingValuesAreZero) {
    std::vector<std::uint8_t> data;
    for (std::int16_t v : {4, 8, 12})
        PutLE16(data, v);
    data.push_back(0x55);  // half a value
    const ImageState im = ReadPic(Join(PicHeader(2, 3, 2), data));
    ASSERT_EQ(im.height, 3);
    EXPECT_EQ(im.pixels16[2][0], 4);
    EXPECT_EQ(im.pixels16[2][1], 8);
    EXPECT_EQ(im.pixels16[1][0], 12);
    EXPECT_EQ(im.pixels16[1][1], 0);
    EXPECT_EQ(im.pixels16[0][0], 0);
    EXPECT_EQ(im.dataMin, 0);
    EXPECT_EQ(im.dataMax, 12);
    EXPECT_EQ(im.mean, 24.0L / 6);
}

TEST(PicShortFile, LargestHeaderWithNoDataIsRefusedAsDamaged) {
    const ImageState im = ReadPic(PicHeader(32767, 32767, 4));
    EXPECT_EQ(im.height, 0);
    EXPECT_EQ(im.errorText.rfind("Fichier endommagé : l'image de 32767 x 32767 annonce", 0), 0u)
        << im.errorText;
    EXPECT_EQ(im.pixels32.size(), 1u);
}

TEST(PicHeaderCheck, RejectionsGiveTheirMessageAndNoImage) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string message;
    };
    std::vector<std::uint8_t> tiny = PicHeader(2, 2, 2);
    tiny.resize(60);  // ends before the data type
    std::vector<std::uint8_t> typeOnly = PicHeader(2, 2, 2);
    typeOnly.resize(76);  // ends right after it
    const std::vector<Case> cases = {
        {PicHeader(2, 2, 2, 5), "PIC data type =5"},
        {PicHeader(2, 2, 2, -1), "PIC data type =-1"},
        {PicHeader(2, 2, 8), "PIC data length =8"},
        {PicHeader(2, 2, 0), "PIC data length =0"},
        {PicHeader(2, 2, 3), "PIC data length =3"},
        {PicHeader(2, -2, 2), "PIC row count =-2"},
        {PicHeader(-2, 2, 2), "PIC column count =-2"},
        {PicHeader(2, 0, 2), "PIC row count =0"},
        {PicHeader(0, 2, 4), "PIC column count =0"},
        {{}, "PIC data type =0"},
        {tiny, "PIC data type =0"},
    };
    for (const Case& c : cases) {
        // Full headers get some data after them; short files end where they end.
        const ImageState im = ReadPic(
            c.bytes.size() == 290 ? Join(c.bytes, std::vector<std::uint8_t>(64, 1)) : c.bytes);
        EXPECT_EQ(im.height, 0) << c.message;
        EXPECT_EQ(im.width, 0) << c.message;
        EXPECT_EQ(im.errorText, c.message);
        EXPECT_EQ(im.pixels16.size(), 1u);
        EXPECT_EQ(im.pixels32.size(), 1u);
    }
    // A header cut after the data type still passes the check; there are no data.
    const ImageState cut = ReadPic(typeOnly);
    EXPECT_EQ(cut.height, 2);
    EXPECT_EQ(cut.dataMax, 0);
}

TEST(PicHeaderCheck, HeaderCheckAloneReturnsTheFields) {
    std::istringstream in([] {
        const auto h = PicHeader(640, 480, 32, 3, 900, -20);
        return std::string(h.begin(), h.end());
    }());
    ImageState image;
    const PicHeaderInfo info = ReadPicHeader(in, image);
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    EXPECT_EQ(info.kind, 32);
    EXPECT_EQ(info.headerHigh, 900);
    EXPECT_EQ(info.headerLow, -20);
    EXPECT_TRUE(image.errorText.empty());
}

TEST(PicFiles, MissingFileRaisesFileNotFound) {
    TempDir dir;
    ImageState im;
    try {
        ReadPicImage(dir.file("none.pic"), im);
        ADD_FAILURE() << "no error";
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
}
