// The FITS reader checked against an independent FITS library: files written by that
// library with every data kind, scaling and BLANK value, read back by both. Pixels must be
// the raw stored values (BLANK and the 0x7F/0xFF first byte of reals giving 0), statistics
// those of the library's scaled values.
#ifdef PELORIN_HAVE_CFITSIO

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "TestUtil.h"
#include "image/Readers.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

struct Kind {
    int bitpix;
    double bscale;
    double bzero;
    bool hasBlank;
    long long blank;
};

void Check(int status, const char* what) {
    if (status != 0) {
        char text[FLEN_STATUS];
        fits_get_errstatus(status, text);
        FAIL() << what << ": " << text;
    }
}

// Values of one kind as doubles (exact for every kind), some of them BLANK, and for reals
// some NaN, infinite or larger than the reader keeps.
std::vector<double> MakeValues(const Kind& k, std::size_t n, std::mt19937& rng) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        switch (k.bitpix) {
            case 8:
                v[i] = static_cast<std::uint8_t>(rng());
                break;
            case 16:
                v[i] = static_cast<std::int16_t>(rng());
                break;
            case 32:
                v[i] = static_cast<std::int32_t>(rng());
                break;
            case -32:
                v[i] = static_cast<float>(std::uniform_real_distribution<double>(-1e5, 1e5)(rng));
                break;
            default:
                v[i] = std::uniform_real_distribution<double>(-1e12, 1e12)(rng);
                break;
        }
        if (k.hasBlank && i % 17 == 3) v[i] = static_cast<double>(k.blank);
    }
    if (k.bitpix < 0) {
        v[5] = std::numeric_limits<double>::quiet_NaN();
        v[6] = std::numeric_limits<double>::infinity();
        v[7] = k.bitpix == -32 ? 3e38 : 1e308;    // first byte 0x7F
        v[8] = k.bitpix == -32 ? -1e38 : -1e306;  // large negative: kept (-32) or 0xFF (-64)
    }
    return v;
}

int DataType(int bitpix) {
    switch (bitpix) {
        case 8:
            return TBYTE;
        case 16:
            return TSHORT;
        case 32:
            return TINT;
        case -32:
            return TFLOAT;
        default:
            return TDOUBLE;
    }
}

// Writes the raw values through the library, with the scaling keywords but no scaling.
void WriteWithLibrary(const std::string& path, const Kind& k, long w, long h, long planes,
                      const std::vector<double>& values) {
    int status = 0;
    fitsfile* f = nullptr;
    const std::string name = "!" + path;
    fits_create_file(&f, name.c_str(), &status);
    long naxes[3] = {w, h, planes};
    fits_create_img(f, k.bitpix, 3, naxes, &status);
    double bscale = k.bscale, bzero = k.bzero;
    fits_write_key(f, TDOUBLE, "BSCALE", &bscale, nullptr, &status);
    fits_write_key(f, TDOUBLE, "BZERO", &bzero, nullptr, &status);
    if (k.hasBlank) {
        long long blank = k.blank;
        fits_write_key(f, TLONGLONG, "BLANK", &blank, nullptr, &status);
    }
    fits_set_hdustruc(f, &status);
    fits_set_bscale(f, 1.0, 0.0, &status);
    const auto n = static_cast<LONGLONG>(values.size());
    switch (k.bitpix) {
        case 8: {
            std::vector<unsigned char> raw(values.begin(), values.end());
            fits_write_img(f, TBYTE, 1, n, raw.data(), &status);
            break;
        }
        case 16: {
            std::vector<short> raw(values.begin(), values.end());
            fits_write_img(f, TSHORT, 1, n, raw.data(), &status);
            break;
        }
        case 32: {
            std::vector<int> raw(values.begin(), values.end());
            fits_write_img(f, TINT, 1, n, raw.data(), &status);
            break;
        }
        case -32: {
            std::vector<float> raw(values.size());
            for (std::size_t i = 0; i < values.size(); ++i)
                raw[i] = static_cast<float>(values[i]);
            fits_write_img(f, TFLOAT, 1, n, raw.data(), &status);
            break;
        }
        default: {
            std::vector<double> raw(values);
            fits_write_img(f, TDOUBLE, 1, n, raw.data(), &status);
            break;
        }
    }
    fits_close_file(f, &status);
    Check(status, "writing");
}

// Reads `count` values from pixel `first` (1-based) with the library: raw when `raw`,
// otherwise scaled by the file's keywords. No BLANK or NaN substitution.
std::vector<double> ReadWithLibrary(const std::string& path, int bitpix, LONGLONG first,
                                    LONGLONG count, bool raw) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_open_file(&f, path.c_str(), READONLY, &status);
    if (raw) fits_set_bscale(f, 1.0, 0.0, &status);
    std::vector<double> out(static_cast<std::size_t>(count));
    int anynul = 0;
    const int type = raw ? DataType(bitpix) : TDOUBLE;
    auto read = [&](auto& buffer) {
        using T = typename std::decay_t<decltype(buffer)>::value_type;
        T nul{};
        fits_read_img(f, type, first, count, &nul, buffer.data(), &anynul, &status);
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<double>(buffer[i]);
    };
    switch (type) {
        case TBYTE: {
            std::vector<unsigned char> b(out.size());
            read(b);
            break;
        }
        case TSHORT: {
            std::vector<short> b(out.size());
            read(b);
            break;
        }
        case TINT: {
            std::vector<int> b(out.size());
            read(b);
            break;
        }
        case TFLOAT: {
            std::vector<float> b(out.size());
            read(b);
            break;
        }
        default: {
            read(out);
            break;
        }
    }
    fits_close_file(f, &status);
    Check(status, "reading");
    return out;
}

// Reals whose first byte in the file is 0x7F or 0xFF are read as 0.
bool FirstByteRule(int bitpix, double v) {
    if (bitpix == -32) {
        const float f = static_cast<float>(v);
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return ((bits >> 24) & 0x7F) == 0x7F;
    }
    if (bitpix == -64) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return ((bits >> 56) & 0x7F) == 0x7F;
    }
    return false;
}

double Tolerance(double v) {
    return 1e-13 * std::max(1.0, std::fabs(v));
}

}  // namespace

TEST(FitsAgainstLibrary, EveryKindWithScalingAndBlank) {
    const std::vector<Kind> kinds = {
        {8, 0.5, -10, true, 7},       {8, 1, 0, false, 0},
        {16, 1, 32768, true, -32768}, {16, 1, 0, false, 0},
        {16, -2.5, 3, true, 100},     {32, 1e-3, 5, true, 123456},
        {32, 1, 0, false, 0},         {32, 1, 2147483648.0, true, -2147483648LL},
        {-32, 2, 0.25, false, 0},     {-32, 1, 0, false, 0},
        {-64, -1.5, 1e6, false, 0},   {-64, 1, 0, false, 0},
    };
    const long w = 61, h = 47, planes = 3;
    const std::size_t planeSize = static_cast<std::size_t>(w * h);
    std::mt19937 rng(2024);
    TempDir dir;
    for (const Kind& k : kinds) {
        SCOPED_TRACE("bitpix " + std::to_string(k.bitpix) + " bscale " + std::to_string(k.bscale) +
                     " bzero " + std::to_string(k.bzero));
        const std::string path = dir.file("lib.fits");
        const std::vector<double> values = MakeValues(k, planeSize * planes, rng);
        WriteWithLibrary(path, k, w, h, planes, values);
        for (int plane = 1; plane <= planes; ++plane) {
            const LONGLONG first = 1 + static_cast<LONGLONG>(planeSize) * (plane - 1);
            const auto raw = ReadWithLibrary(path, k.bitpix, first, w * h, true);
            const auto scaled = ReadWithLibrary(path, k.bitpix, first, w * h, false);
            ASSERT_FALSE(HasFatalFailure());

            ImageState image;
            WcsInfo wcs;
            ZoomWindow zoom;
            image.currentPlane = plane;
            ReadFitsImage(path, image, wcs, zoom, MessageWords{});
            ASSERT_EQ(image.height, h);
            ASSERT_EQ(image.width, w);
            ASSERT_EQ(image.bitpix, k.bitpix);
            EXPECT_EQ(image.planeCount, planes);
            // Read from the keyword text in extended precision: equal once held as doubles.
            EXPECT_EQ(static_cast<double>(image.bscale), k.bscale);
            EXPECT_EQ(static_cast<double>(image.bzero), k.bzero);

            double mn = 1e100, mx = -1e100;
            long double s1 = 0, s2 = 0;
            int pixelMismatches = 0;
            for (long row = 0; row < h; ++row) {
                for (long col = 0; col < w; ++col) {
                    const std::size_t i = static_cast<std::size_t>(row * w + col);
                    const bool zeroed = (k.hasBlank && raw[i] == static_cast<double>(k.blank)) ||
                                        FirstByteRule(k.bitpix, raw[i]);
                    const double stored = zeroed ? 0.0 : raw[i];
                    const double physical = zeroed ? k.bzero : scaled[i];
                    const double ours =
                        StoredValue(image, static_cast<int>(h - 1 - row), static_cast<int>(col));
                    if (ours != stored && pixelMismatches++ < 5)
                        ADD_FAILURE() << "plane " << plane << " pixel " << i << ": " << ours
                                      << " vs " << stored;
                    mn = std::min(mn, physical);
                    mx = std::max(mx, physical);
                    s1 += physical;
                    s2 += static_cast<long double>(physical) * physical;
                }
            }
            EXPECT_EQ(pixelMismatches, 0);
            const long double n = static_cast<long double>(planeSize);
            const long double mean = s1 / n;
            const long double sigma = std::sqrt(std::max(0.0L, s2 / n - mean * mean));
            EXPECT_NEAR(image.dataMin, mn, Tolerance(mn));
            EXPECT_NEAR(image.dataMax, mx, Tolerance(mx));
            EXPECT_NEAR(static_cast<double>(image.mean), static_cast<double>(mean),
                        Tolerance(static_cast<double>(mean)) * 100);
            EXPECT_NEAR(static_cast<double>(image.sigma), static_cast<double>(sigma),
                        1e-9 * std::max(1.0, static_cast<double>(sigma)));
        }
    }
}

#endif  // PELORIN_HAVE_CFITSIO
