// Convolution filters: the kernel table, the cases worked out by hand, and the fast
// implementation checked bit for bit against the rule applied one pixel at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "image/ImageModel.h"
#include "process/Filters.h"

using namespace pelorin;

namespace {

// ---- Images ----

// The as-loaded and the current array of the kind of T.
template <typename T, bool kSource>
PixelArray<T>& ArrayOf(ImageState& im) {
    if constexpr (std::is_same_v<T, std::uint8_t>) return kSource ? im.source8 : im.pixels8;
    if constexpr (std::is_same_v<T, std::int16_t>) return kSource ? im.source16 : im.pixels16;
    if constexpr (std::is_same_v<T, std::int32_t>) return kSource ? im.source32 : im.pixels32;
    if constexpr (std::is_same_v<T, float>) return kSource ? im.sourceR32 : im.pixelsR32;
    if constexpr (std::is_same_v<T, double>) return kSource ? im.sourceR64 : im.pixelsR64;
}
template <typename T>
PixelArray<T>& Source(ImageState& im) {
    return ArrayOf<T, true>(im);
}
template <typename T>
PixelArray<T>& Current(ImageState& im) {
    return ArrayOf<T, false>(im);
}

template <typename T>
constexpr int BitpixOf() {
    if constexpr (std::is_same_v<T, std::uint8_t>) return 8;
    if constexpr (std::is_same_v<T, std::int16_t>) return 16;
    if constexpr (std::is_same_v<T, std::int32_t>) return 32;
    if constexpr (std::is_same_v<T, float>) return -32;
    return -64;
}

// An image of one kind filled with one value, with statistics of some earlier computation
// (recognisable values, so a test can tell whether they moved). Tests set their pixels, then
// take the as-loaded copy with SaveSourcePixels, as the load step does.
template <typename T>
ImageState MakeImage(int width, int height, T fill = T{}) {
    ImageState im;
    im.width = width;
    im.height = height;
    im.bitpix = BitpixOf<T>();
    Current<T>(im).resize(height, width);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            Current<T>(im)[y][x] = fill;
    im.dataMin = -7;
    im.dataMax = 77;
    im.mean = 3.25L;
    im.sigma = 1.5L;
    return im;
}

// ---- The rule, one pixel at a time, written as plainly as possible ----

struct Stats {
    double dataMin, dataMax;
    long double mean, sigma;
};

template <typename T>
long long ReferenceFilter(ImageState& im, int index, long double threshold) {
    const Kernel& k = KernelFor(index);
    const PixelArray<T>& src = Source<T>(im);
    PixelArray<T>& dst = Current<T>(im);
    const int h = k.size / 2;
    double dataMin = 1e100, dataMax = -1e100;
    long double s = 0, q = 0;
    long long n = 0;
    for (int y = h; y <= im.height - 1 - h; ++y)
        for (int x = h; x <= im.width - 1 - h; ++x) {
            const T o = src[y][x];
            long double v;
            if (threshold > static_cast<long double>(o)) {
                long double acc = 0;
                for (int i = 0; i < k.size; ++i)
                    for (int j = 0; j < k.size; ++j)
                        acc += static_cast<long double>(k.weights[i][j]) *
                               static_cast<long double>(src[y + i - h][x + j - h]);
                v = acc / static_cast<long double>(k.divisor);
                if constexpr (std::is_integral_v<T>) {
                    v = std::max<long double>(v, std::numeric_limits<T>::min());
                    v = std::min<long double>(v, std::numeric_limits<T>::max());
                }
                dst[y][x] = static_cast<T>(std::nearbyint(v));
            } else if (std::is_same_v<T, std::int16_t>) {
                v = o;
                dst[y][x] = o;
            } else {
                dst[y][x] = o;
                continue;
            }
            const long double p = im.bscale * v + im.bzero;
            const double d = static_cast<double>(p);
            if (d < dataMin) dataMin = d;
            if (d > dataMax) dataMax = d;
            s += p;
            q += p * p;
            ++n;
        }
    if (n > 0) {
        im.dataMin = dataMin;
        im.dataMax = dataMax;
        im.mean = s / n;
        const long double var = q / n - im.mean * im.mean;
        im.sigma = var > 0 ? std::sqrt(var) : 0.0L;
    }
    return n;
}

// Equal to the last bit; two NaNs count as equal whatever their payload.
template <typename F>
bool SameBits(F a, F b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return a == b && std::signbit(a) == std::signbit(b);
}

template <typename T>
void ExpectSamePixels(const PixelArray<T>& a, const PixelArray<T>& b, const std::string& what) {
    ASSERT_EQ(a.rows(), b.rows()) << what;
    ASSERT_EQ(a.cols(), b.cols()) << what;
    for (int y = 0; y < a.rows(); ++y)
        for (int x = 0; x < a.cols(); ++x) {
            if constexpr (std::is_integral_v<T>) {
                ASSERT_EQ(a[y][x], b[y][x]) << what << " at [" << y << "][" << x << "]";
            } else {
                ASSERT_TRUE(SameBits(a[y][x], b[y][x]))
                    << what << " at [" << y << "][" << x << "]: " << a[y][x] << " vs " << b[y][x];
            }
        }
}

void ExpectSameStats(const ImageState& a, const ImageState& b, const std::string& what) {
    EXPECT_TRUE(SameBits(a.dataMin, b.dataMin)) << what << ": " << a.dataMin << " " << b.dataMin;
    EXPECT_TRUE(SameBits(a.dataMax, b.dataMax)) << what << ": " << a.dataMax << " " << b.dataMax;
    EXPECT_TRUE(SameBits(a.mean, b.mean)) << what << ": " << a.mean << " " << b.mean;
    EXPECT_TRUE(SameBits(a.sigma, b.sigma)) << what << ": " << a.sigma << " " << b.sigma;
}

template <typename T>
T RandomPixel(std::mt19937& gen) {
    if constexpr (std::is_integral_v<T>) {
        // Mostly a band of the range, with some values at the very ends so that clipping
        // happens in both directions.
        std::uniform_int_distribution<int> pick(0, 9);
        const int p = pick(gen);
        if (p == 0) return std::numeric_limits<T>::max();
        if (p == 1) return std::numeric_limits<T>::min();
        std::uniform_int_distribution<long long> any(std::numeric_limits<T>::min(),
                                                     std::numeric_limits<T>::max());
        return static_cast<T>(any(gen));
    } else {
        std::uniform_real_distribution<double> any(-5000, 5000);
        return static_cast<T>(any(gen));
    }
}

struct Scale {
    long double bscale, bzero;
};

// Every kernel, several thresholds and scales: the implementation against the rule.
template <typename T>
void CompareWithReference(int width, int height, unsigned seed, const std::vector<Scale>& scales,
                          int firstIndex = -1, int lastIndex = kFilterCount,
                          bool allThresholds = true) {
    std::mt19937 gen(seed);
    ImageState base = MakeImage<T>(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            Current<T>(base)[y][x] = RandomPixel<T>(gen);
    SaveSourcePixels(base);
    // A current image different from the source, as after an earlier filter: the border
    // must keep it.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            Current<T>(base)[y][x] = static_cast<T>(y % 7 + x % 3);

    const long double median = static_cast<long double>(Source<T>(base)[height / 2][width / 2]);
    std::vector<long double> thresholds = {9e99L, median};
    if (allThresholds) {
        thresholds.push_back(median + 0.5L);
        thresholds.push_back(static_cast<long double>(std::numeric_limits<T>::lowest()));
        thresholds.push_back(-1e300L);
    }
    for (const Scale& sc : scales)
        for (int index = firstIndex; index <= lastIndex; ++index)
            for (long double t : thresholds) {
                ImageState expected = base;
                expected.bscale = sc.bscale;
                expected.bzero = sc.bzero;
                ImageState actual = expected;
                const long long nExpected = ReferenceFilter<T>(expected, index, t);
                const long long nActual = FilterImage(actual, index, t);
                const std::string what = "bitpix " + std::to_string(BitpixOf<T>()) + " kernel " +
                                         std::to_string(index) + " threshold " +
                                         std::to_string(static_cast<double>(t)) + " bscale " +
                                         std::to_string(static_cast<double>(sc.bscale)) +
                                         " bzero " + std::to_string(static_cast<double>(sc.bzero));
                ASSERT_EQ(nActual, nExpected) << what;
                ExpectSamePixels(Current<T>(actual), Current<T>(expected), what);
                ExpectSameStats(actual, expected, what);
                ExpectSamePixels(Source<T>(actual), Source<T>(base), what + " (source)");
            }
}

const std::vector<Scale> kScales = {{1, 0}, {1, 32768}, {-2.5L, 7.125L}, {0.001L, -3}};

}  // namespace

// ---- The kernel table ----

TEST(FilterKernels, TableSizesDivisorsAndIdentity) {
    const int sizes[kFilterCount] = {3, 3, 3, 5, 5, 5, 5, 3, 3, 3, 3, 3, 3, 3, 3};
    for (int i = 1; i < kFilterCount; ++i) {
        const Kernel& k = KernelFor(i);
        EXPECT_EQ(k.size, sizes[i]) << i;
        double total = 0;
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 5; ++c) {
                if (r >= k.size || c >= k.size) {
                    EXPECT_EQ(k.weights[r][c], 0) << i;
                }
                total += k.weights[r][c];
            }
        // Divisor = weight total, except the edge and gradient kernels (total 0, divisor 1).
        if (i >= 10) {
            EXPECT_EQ(total, 0) << i;
            EXPECT_EQ(k.divisor, 1) << i;
        } else if (i != 6) {
            EXPECT_EQ(total, k.divisor) << i;
        }
    }
    const Kernel& g = KernelFor(6);
    EXPECT_EQ(g.weights[0][1], 0.6);
    EXPECT_EQ(g.weights[2][0], 1.7);
    EXPECT_EQ(g.weights[2][2], 100);
    EXPECT_EQ(g.divisor, 307.6);
    EXPECT_NEAR(g.weights[0][1] * 8 + g.weights[0][2] * 4 + 13 * 4 + 36 * 4 + 100, g.divisor, 1e-9);
    // Focus 1 and Gradient 1 spot checks (rows read top to bottom, columns left to right).
    EXPECT_EQ(KernelFor(7).weights[1][1], 7);
    EXPECT_EQ(KernelFor(7).divisor, 3);
    EXPECT_EQ(KernelFor(11).weights[0][0], 1);
    EXPECT_EQ(KernelFor(11).weights[0][1], -1);
    EXPECT_EQ(KernelFor(11).weights[1][1], -2);
    EXPECT_EQ(KernelFor(14).weights[2][2], -1);
    for (int other : {0, -1, 15, 1000}) {
        const Kernel& k = KernelFor(other);
        EXPECT_EQ(k.size, 3);
        EXPECT_EQ(k.divisor, 1);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(k.weights[r][c], r == 1 && c == 1 ? 1 : 0);
    }
}

// ---- Cases worked out by hand ----

TEST(FilterImage, LowPassKeepsAUniformImageAndFillsTheStatistics) {
    ImageState im = MakeImage<std::uint8_t>(6, 5, 10);
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, 1, 9e99L), 4 * 3);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(im.pixels8[y][x], 10);
    EXPECT_EQ(im.dataMin, 10);
    EXPECT_EQ(im.dataMax, 10);
    EXPECT_EQ(im.mean, 10);
    EXPECT_EQ(im.sigma, 0);
}

TEST(FilterImage, EdgeGivesZeroOnUniformDataAndClipsEightBitResults) {
    ImageState im = MakeImage<std::uint8_t>(5, 5, 90);
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, 10, 9e99L), 9);
    for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(im.pixels8[y][x], 0);

    // One bright pixel: 8 x 255 at it (clipped to 255), -255 around it (clipped to 0).
    ImageState spot = MakeImage<std::uint8_t>(5, 5, 0);
    spot.pixels8[2][2] = 255;
    SaveSourcePixels(spot);
    FilterImage(spot, 10, 9e99L);
    EXPECT_EQ(spot.pixels8[2][2], 255);
    EXPECT_EQ(spot.pixels8[1][1], 0);
    EXPECT_EQ(spot.pixels8[1][2], 0);
    EXPECT_EQ(spot.pixels8[3][3], 0);
    EXPECT_EQ(spot.dataMax, 255);  // the clipped value, not 2040
    EXPECT_EQ(spot.dataMin, 0);    // not -255
}

TEST(FilterImage, FocusAroundASinglePixel) {
    ImageState im = MakeImage<std::uint8_t>(7, 7, 0);
    im.pixels8[3][3] = 200;
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, 8, 9e99L), 25);
    EXPECT_EQ(im.pixels8[3][3], 255);  // 1000 clipped
    EXPECT_EQ(im.pixels8[2][3], 0);    // -200 clipped
    EXPECT_EQ(im.pixels8[4][3], 0);
    EXPECT_EQ(im.pixels8[3][2], 0);
    EXPECT_EQ(im.pixels8[3][4], 0);
    EXPECT_EQ(im.pixels8[2][2], 0);  // diagonal: weight 0
    EXPECT_EQ(im.dataMax, 255);
    EXPECT_EQ(im.mean, 255.0L / 25);
}

TEST(FilterImage, SixteenBitResultsClipToTheType) {
    ImageState im = MakeImage<std::int16_t>(3, 3, 0);
    im.pixels16[1][1] = 8000;  // Focus 2: 5 x 8000 = 40000
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, 8, 9e99L), 1);
    EXPECT_EQ(im.pixels16[1][1], 32767);
    EXPECT_EQ(im.dataMax, 32767);

    ImageState low = MakeImage<std::int16_t>(3, 3, 0);
    low.pixels16[1][1] = -8000;
    SaveSourcePixels(low);
    FilterImage(low, 8, 9e99L);
    EXPECT_EQ(low.pixels16[1][1], -32768);
    EXPECT_EQ(low.dataMin, -32768);
}

TEST(FilterImage, ThirtyTwoBitResultsClipToTheType) {
    ImageState im = MakeImage<std::int32_t>(3, 3, -2000000000);
    im.pixels32[1][1] = 2000000000;
    SaveSourcePixels(im);
    FilterImage(im, 8, 9e99L);  // 5 x 2e9 + 4 x 2e9
    EXPECT_EQ(im.pixels32[1][1], std::numeric_limits<std::int32_t>::max());
}

TEST(FilterImage, RealResultsRoundHalvesToEvenWithoutClipping) {
    // The identity kernel (an index that names no list entry) shows the rounding alone.
    ImageState im = MakeImage<float>(5, 3, 0);
    im.pixelsR32[1][1] = 12.5f;
    im.pixelsR32[1][2] = 13.5f;
    im.pixelsR32[1][3] = -2.5f;
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, -1, 9e99L), 3);
    EXPECT_EQ(im.pixelsR32[1][1], 12.0f);
    EXPECT_EQ(im.pixelsR32[1][2], 14.0f);
    EXPECT_EQ(im.pixelsR32[1][3], -2.0f);
    EXPECT_EQ(im.mean, (12.5L + 13.5L - 2.5L) / 3);  // from the values before rounding
    EXPECT_EQ(im.dataMin, -2.5);
    EXPECT_EQ(im.dataMax, 13.5);

    // Far beyond any integer type: rounding needs no integer conversion, and no clipping.
    ImageState big = MakeImage<double>(3, 3, 0);
    big.pixelsR64[1][1] = 1e300;
    SaveSourcePixels(big);
    FilterImage(big, 8, 1e4000L);
    EXPECT_EQ(big.pixelsR64[1][1], static_cast<double>(5.0L * 1e300));
    ImageState small = MakeImage<double>(3, 3, 0);
    small.pixelsR64[1][1] = -0.3;
    SaveSourcePixels(small);
    FilterImage(small, -1, 9e99L);
    EXPECT_EQ(small.pixelsR64[1][1], 0.0);
    EXPECT_TRUE(std::signbit(small.pixelsR64[1][1]));  // rounds to -0, as nearbyint does
}

TEST(FilterImage, StatisticsUseTheValueBeforeRounding) {
    // LowPass 5 over 25 pixels summing to 2510: 100.4, stored as 100.
    ImageState im = MakeImage<std::uint8_t>(5, 5, 100);
    for (int i = 0; i < 10; ++i)
        im.pixels8[i / 5][i % 5] = 101;
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, 5, 9e99L), 1);
    EXPECT_EQ(im.pixels8[2][2], 100);
    const long double v = 2510.0L / 25;
    EXPECT_EQ(im.mean, v);
    EXPECT_EQ(im.dataMin, static_cast<double>(v));
    EXPECT_EQ(im.dataMax, static_cast<double>(v));
    EXPECT_NEAR(im.dataMin, 100.4, 1e-12);
    EXPECT_EQ(im.sigma, 0);
}

TEST(FilterImage, StatisticsAreInPhysicalUnits) {
    ImageState im = MakeImage<std::uint8_t>(3, 3, 10);
    im.bscale = 2;
    im.bzero = -5;
    SaveSourcePixels(im);
    FilterImage(im, 2, 9e99L);
    EXPECT_EQ(im.pixels8[1][1], 10);
    EXPECT_EQ(im.mean, 15);
    EXPECT_EQ(im.dataMin, 15);
}

TEST(FilterImage, SixteenBitThresholdZeroWithUnsignedOffset) {
    // Stored values below 0 (physical below 32768) are filtered; the others keep their
    // value and still count in the statistics, which stay in physical units.
    ImageState im = MakeImage<std::int16_t>(6, 4, 0);
    im.bzero = 32768;
    const std::int16_t values[4][6] = {{-300, -300, 500, 500, -300, -300},
                                       {-300, -300, 500, 500, -300, -300},
                                       {-300, -100, 700, 500, -300, -300},
                                       {-300, -300, 500, 500, -300, -300}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            im.pixels16[y][x] = values[y][x];
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, 2, 0), 8);
    // Filtered: [1][1] = (-300*6 + 500*2 + -100 + 700... ) / 9, and so on.
    auto mean9 = [&](int y, int x) {
        long double s = 0;
        for (int i = -1; i <= 1; ++i)
            for (int j = -1; j <= 1; ++j)
                s += values[y + i][x + j];
        return s / 9;
    };
    EXPECT_EQ(im.pixels16[1][1], static_cast<std::int16_t>(std::nearbyint(mean9(1, 1))));
    EXPECT_EQ(im.pixels16[2][1], static_cast<std::int16_t>(std::nearbyint(mean9(2, 1))));
    EXPECT_EQ(im.pixels16[1][4], static_cast<std::int16_t>(std::nearbyint(mean9(1, 4))));
    // Not below the threshold: unchanged.
    EXPECT_EQ(im.pixels16[1][2], 500);
    EXPECT_EQ(im.pixels16[2][2], 700);
    EXPECT_EQ(im.dataMax, 32768 + 700.0);
    EXPECT_GT(im.dataMin, 32000);
    EXPECT_LT(im.dataMin, 32768);
    // The mean of all eight interior values, four of them unfiltered.
    long double s = 500 + 500 + 700 + 500 + 4 * 32768.0L * 2;
    s += mean9(1, 1) + mean9(2, 1) + mean9(1, 4) + mean9(2, 4);
    EXPECT_NEAR(static_cast<double>(im.mean), static_cast<double>(s / 8), 1e-9);
}

TEST(FilterImage, LowPassTwiceIsLowPassOnce) {
    std::mt19937 gen(7);
    ImageState im = MakeImage<std::int16_t>(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            im.pixels16[y][x] = static_cast<std::int16_t>(gen() % 2000);
    SaveSourcePixels(im);
    FilterImage(im, 2, 9e99L);
    const ImageState once = im;
    FilterImage(im, 2, 9e99L);
    EXPECT_EQ(im.pixels16, once.pixels16);
    ExpectSameStats(im, once, "second pass");
    EXPECT_NE(im.pixels16, im.source16);  // it did filter something
}

TEST(FilterImage, NoInteriorPixelLeavesEverythingAlone) {
    ImageState im = MakeImage<std::uint8_t>(4, 4, 50);
    im.pixels8[1][1] = 200;
    SaveSourcePixels(im);
    const ImageState before = im;
    EXPECT_EQ(FilterImage(im, 5, 9e99L), 0);  // 5 x 5 kernel, 4 x 4 image
    EXPECT_EQ(im.pixels8, before.pixels8);
    ExpectSameStats(im, before, "5x5 on 4x4");

    ImageState narrow = MakeImage<double>(2, 9, 1.5);
    SaveSourcePixels(narrow);
    EXPECT_EQ(FilterImage(narrow, 1, 9e99L), 0);
    EXPECT_EQ(narrow.mean, 3.25L);
    EXPECT_EQ(narrow.dataMin, -7);
}

TEST(FilterImage, ThresholdBelowEveryValueCopiesTheSource) {
    // 8-bit: nothing filtered, nothing counted, statistics untouched, current = source.
    ImageState im = MakeImage<std::uint8_t>(6, 6, 30);
    im.pixels8[2][3] = 90;
    SaveSourcePixels(im);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            im.pixels8[y][x] = 1;  // an earlier filter's output
    EXPECT_EQ(FilterImage(im, 3, 30), 0);
    EXPECT_EQ(im.mean, 3.25L);
    for (int y = 2; y < 4; ++y)
        for (int x = 2; x < 4; ++x)
            EXPECT_EQ(im.pixels8[y][x], im.source8[y][x]);
    EXPECT_EQ(im.pixels8[0][0], 1);  // the border ring is not written

    ImageState r = MakeImage<float>(4, 4, 2.5f);
    SaveSourcePixels(r);
    EXPECT_EQ(FilterImage(r, 1, 2.5L), 0);
    EXPECT_EQ(r.pixelsR32, r.sourceR32);

    // 16-bit: the same copy, but every interior pixel counts with its own value.
    ImageState s = MakeImage<std::int16_t>(4, 4, 100);
    s.pixels16[1][2] = 300;
    s.bzero = 32768;
    SaveSourcePixels(s);
    EXPECT_EQ(FilterImage(s, 1, -32768), 4);
    EXPECT_EQ(s.pixels16, s.source16);
    EXPECT_EQ(s.dataMin, 32868);
    EXPECT_EQ(s.dataMax, 33068);
    EXPECT_EQ(s.mean, (3 * 32868.0L + 33068) / 4);
}

TEST(FilterImage, FiveByFiveAfterThreeByThreeKeepsTheInnerRing) {
    std::mt19937 gen(3);
    ImageState im = MakeImage<std::uint8_t>(9, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x)
            im.pixels8[y][x] = static_cast<std::uint8_t>(gen());
    SaveSourcePixels(im);
    FilterImage(im, 10, 9e99L);
    const PixelArray<std::uint8_t> afterEdge = im.pixels8;
    FilterImage(im, 5, 9e99L);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool inner = y >= 2 && y < 6 && x >= 2 && x < 7;
            if (!inner) {
                EXPECT_EQ(im.pixels8[y][x], afterEdge[y][x]) << y << "," << x;
            }
        }
    EXPECT_EQ(im.pixels8[0][0], im.source8[0][0]);
}

TEST(FilterImage, OtherKindsAndMismatchedArraysAreSafe) {
    ImageState picture = MakeImage<std::uint8_t>(5, 5, 9);
    picture.bitpix = 24;  // a picture shown in its own colours: no pixel arrays of its kind
    SaveSourcePixels(picture);
    EXPECT_EQ(FilterImage(picture, 1, 9e99L), 0);
    EXPECT_EQ(picture.mean, 3.25L);

    // A recorded size larger than the arrays: only what both arrays hold is touched.
    ImageState im = MakeImage<std::int32_t>(6, 6, 4);
    SaveSourcePixels(im);
    im.width = 50;
    im.height = 40;
    EXPECT_EQ(FilterImage(im, 2, 9e99L), 16);
    EXPECT_EQ(im.mean, 4);
    im.source32.resize(3, 3);
    EXPECT_EQ(FilterImage(im, 2, 9e99L), 1);
}

TEST(FilterImage, NegativeScaleSwapsTheExtremes) {
    ImageState im = MakeImage<std::int16_t>(5, 3, 0);
    im.pixels16[1][1] = 10;
    im.pixels16[1][3] = 90;
    im.bscale = -2;
    im.bzero = 1;
    SaveSourcePixels(im);
    EXPECT_EQ(FilterImage(im, -1, 9e99L), 3);
    EXPECT_EQ(im.dataMin, -179);
    EXPECT_EQ(im.dataMax, 1);
}

TEST(FilterImage, NotANumberInRealDataFollowsTheRule) {
    ImageState im = MakeImage<float>(6, 6, 1.0f);
    im.pixelsR32[2][2] = std::numeric_limits<float>::quiet_NaN();
    im.pixelsR32[3][4] = std::numeric_limits<float>::infinity();
    SaveSourcePixels(im);
    for (int index : {1, 3, 6, 8, 14}) {
        ImageState expected = im;
        ImageState actual = im;
        EXPECT_EQ(FilterImage(actual, index, 9e99L),
                  ReferenceFilter<float>(expected, index, 9e99L));
        ExpectSamePixels(actual.pixelsR32, expected.pixelsR32, "kernel " + std::to_string(index));
        ExpectSameStats(actual, expected, "kernel " + std::to_string(index));
    }
}

// ---- Against the rule, every kind, every kernel ----

TEST(FilterImageMatchesRule, EightBit) {
    CompareWithReference<std::uint8_t>(23, 17, 1, kScales);
}
TEST(FilterImageMatchesRule, SixteenBit) {
    CompareWithReference<std::int16_t>(21, 19, 2, kScales);
    CompareWithReference<std::int16_t>(9, 7, 5, {{1, -0.0L}, {1e-4000L, 0}, {3, 1e4900L}});
}
TEST(FilterImageMatchesRule, ThirtyTwoBit) {
    CompareWithReference<std::int32_t>(19, 23, 3, kScales);
}
TEST(FilterImageMatchesRule, RealKinds) {
    CompareWithReference<float>(17, 13, 4, kScales);
    CompareWithReference<double>(13, 17, 6, kScales);
}
// Large enough to be split among threads: the statistics must still come out exactly as
// one running sum in row order.
TEST(FilterImageMatchesRule, LargeImagesSplitAcrossThreads) {
    CompareWithReference<std::int16_t>(700, 450, 8, {{1, 32768}}, 1, 14, false);
    CompareWithReference<std::uint8_t>(610, 520, 9, {{0.5L, 0}}, 6, 10, false);
    CompareWithReference<float>(520, 530, 10, {{1, 0}}, 2, 2, false);
}
