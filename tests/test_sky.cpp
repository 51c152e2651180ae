// World coordinates of the shown field: Julian dates, galactic conversion, precession, the
// centre and width of the zoom window, and the sky suffix of the status caption.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "image/ImageModel.h"
#include "sky/SkyLib.h"
#include "sky/Wcs.h"

using namespace pelorin;

namespace {

constexpr double kJ2000 = 2451545.0;
constexpr double kArcsec = 1.0 / 3600.0;

// Julian day number at noon by the integer algorithm of the calendars (Julian calendar
// before March 1583, Gregorian afterwards, matching the date rule under test). Written
// independently of the floating-point method under test.
long long ReferenceDayNumber(long long y, long long m, long long d, bool gregorian) {
    const long long a = (14 - m) / 12;
    const long long yy = y + 4800 - a;
    const long long mm = m + 12 * a - 3;
    // Floor division: yy stays positive for the years used here.
    long long jdn = d + (153 * mm + 2) / 5 + 365 * yy + yy / 4;
    jdn += gregorian ? -yy / 100 + yy / 400 - 32045 : -32083;
    return jdn;
}

ZoomWindow WholeImage(int width, int height) {
    ZoomWindow z;
    z.colStart = 0;
    z.rowStart = 0;
    z.colEnd = z.cols = width;
    z.rowEnd = z.rows = height;
    return z;
}

void SetWindow(ZoomWindow& z, int colStart, int cols, int rowStart, int rows) {
    z.colStart = colStart;
    z.cols = cols;
    z.colEnd = colStart + cols;
    z.rowStart = rowStart;
    z.rows = rows;
    z.rowEnd = rowStart + rows;
}

// 512 x 512 TAN header with a CD matrix, reference pixel at the centre.
WcsInfo CdHeader() {
    WcsInfo w;
    w.ctype1 = "'RA---TAN'";
    w.ctype2 = "'DEC--TAN'";
    w.radecsys = "'FK5'";
    w.crpix1 = w.crpix2 = 256.5;
    w.crval1 = 150;
    w.crval2 = 30;
    w.cd1_1 = -0.0005;
    w.cd2_2 = 0.0005;
    w.hasCd = true;
    w.equinox = 2000;
    return w;
}

// 400 x 300 header with increments and a rotation.
WcsInfo IncrementHeader() {
    WcsInfo w;
    w.ctype1 = "'RA---TAN'";
    w.ctype2 = "'DEC--TAN'";
    w.radecsys = "'FK5'";
    w.crpix1 = w.crpix2 = 100;
    w.crval1 = 150;
    w.crval2 = 30;
    w.cdelt1 = -0.001;
    w.cdelt2 = 0.001;
    w.crota2 = 30;
    w.hasCdelt = true;
    w.equinox = 2000;
    return w;
}

// Angular distance in degrees between two positions (hours, degrees).
double Separation(double ra1, double dec1, double ra2, double dec2) {
    const double r = std::numbers::pi / 180.0;
    const double a1 = ra1 * 15 * r, a2 = ra2 * 15 * r, d1 = dec1 * r, d2 = dec2 * r;
    const double x = std::cos(d1) * std::cos(a1) - std::cos(d2) * std::cos(a2);
    const double y = std::cos(d1) * std::sin(a1) - std::cos(d2) * std::sin(a2);
    const double z = std::sin(d1) - std::sin(d2);
    const double chord = std::sqrt(x * x + y * y + z * z);
    return 2 * std::asin(chord / 2) / r;
}

}  // namespace

// ---- Julian dates ----

TEST(JulianDate, ReferenceEpochs) {
    EXPECT_EQ(JulianDate(2000, 1, 1, 12.0), kJ2000);
    EXPECT_EQ(JulianDate(-4712, 1, 1, 12.0), 0.0);  // origin of the Julian day count
    EXPECT_EQ(JulianDate(1950, 6, 1, 0.0), 2433433.5);
    EXPECT_DOUBLE_EQ(JulianDate(1950, 6, 1, 18.0), 2433434.25);
}

TEST(JulianDate, MonthZeroIsDecemberOfTheYearBefore) {
    EXPECT_EQ(JulianDate(1950, 0, 1, 0.0), 2433251.5);
    EXPECT_EQ(JulianDate(1950, 0, 1, 0.0), JulianDate(1949, 12, 1, 0.0));
    EXPECT_EQ(JulianDate(2001, 0, 1, 0.0), JulianDate(2000, 12, 1, 0.0));
}

TEST(JulianDate, JulianCalendarUpToFifteenEightyTwo) {
    // The last day of the Julian calendar and the first of the Gregorian are consecutive.
    EXPECT_EQ(JulianDate(1582, 10, 4, 0.0), 2299159.5);
    // The whole of 1582 counts in the Julian calendar (no ten-day gap in October)...
    EXPECT_EQ(JulianDate(1582, 12, 31, 0.0) - JulianDate(1582, 10, 4, 0.0), 27 + 30 + 31);
    // ...and March 1583 in the Gregorian: 4 October (Julian) is followed by 15 October
    // (Gregorian), then 17 days of October and November to February.
    EXPECT_EQ(JulianDate(1583, 3, 1, 0.0) - JulianDate(1582, 10, 4, 0.0),
              1 + 17 + 30 + 31 + 31 + 28);
    // Year 0 (1 BC) is a leap year of the Julian calendar; negative years continue.
    EXPECT_EQ(JulianDate(1, 1, 1, 0.0), 1721423.5);
    EXPECT_EQ(JulianDate(0, 1, 1, 0.0), 1721423.5 - 366);
    EXPECT_EQ(JulianDate(-1, 1, 1, 0.0), 1721423.5 - 366 - 365);
    EXPECT_EQ(JulianDate(-4, 3, 1, 0.0) - JulianDate(-4, 2, 28, 0.0), 2);  // 29 Feb -4
}

TEST(JulianDate, AgreesWithIntegerCalendarAlgorithm) {
    for (int y = -4700; y <= 2400; y += 7) {
        for (int m = 1; m <= 12; ++m) {
            for (int d : {1, 15, 28}) {
                const bool gregorian = y > 1583 || (y == 1583 && m >= 3);
                const double expected =
                    static_cast<double>(ReferenceDayNumber(y, m, d, gregorian)) - 0.5;
                ASSERT_EQ(JulianDate(y, m, d, 0.0), expected) << y << "-" << m << "-" << d;
            }
        }
    }
}

TEST(JulianDate, ExtremeYearsDoNotOverflow) {
    const double low = JulianDate(std::numeric_limits<int>::min(), 0, 1, 0.0);
    const double high = JulianDate(std::numeric_limits<int>::max(), 12, 31, 0.0);
    EXPECT_TRUE(std::isfinite(low));
    EXPECT_TRUE(std::isfinite(high));
    EXPECT_LT(low, high);
}

// ---- Galactic coordinates ----

TEST(GalacticToEquatorial, DefiningPointsOfTheB1950System) {
    double ra = 0, dec = 0;
    // North galactic pole.
    GalacticToEquatorial(0, 90, ra, dec);
    EXPECT_NEAR(dec, 27.4, 1e-9);
    // Galactic centre: 17h42m26.6s -28°55'00" in B1950, given here without wrap.
    GalacticToEquatorial(0, 0, ra, dec);
    EXPECT_NEAR(ra, (17 + 42 / 60.0 + 26.603 / 3600.0) - 24, 0.1 / 3600);
    EXPECT_NEAR(dec, -(28 + 55 / 60.0 + 0.43 / 3600.0), 1 * kArcsec);
    EXPECT_NEAR(ra * 15, -94.39, 0.01);
    // North celestial pole at l = 123°, b = 27.4°.
    GalacticToEquatorial(123, 27.4, ra, dec);
    EXPECT_NEAR(dec, 90, 1e-6);
}

TEST(GalacticToEquatorial, PoleStaysFiniteWhenRoundingOvershoots) {
    // Here the sine of the declination comes out a rounding step above 1.
    double ra = 0, dec = 0;
    GalacticToEquatorial(123, 27.400000000056, ra, dec);
    EXPECT_TRUE(std::isfinite(dec));
    EXPECT_NEAR(dec, 90, 1e-6);
}

// ---- Precession ----

TEST(Precession, RoundTripReturnsTheStartingPosition) {
    for (auto precess : {PrecessFK4, PrecessFK5}) {
        for (double ra0 : {0.1, 5.0, 12.0, 18.5, 23.9}) {
            for (double dec0 : {-80.0, -20.0, 0.0, 45.0, 85.0}) {
                double ra = ra0, dec = dec0;
                precess(ra, dec, 2433282.5, kJ2000);
                // Fifty years of precession moves every star measurably.
                EXPECT_GT(Separation(ra, dec, ra0, dec0), 0.1);
                precess(ra, dec, kJ2000, 2433282.5);
                EXPECT_LT(Separation(ra, dec, ra0, dec0), 0.001 * kArcsec) << ra0 << " " << dec0;
            }
        }
    }
}

TEST(Precession, RightAscensionComesBackInRange) {
    for (auto precess : {PrecessFK4, PrecessFK5}) {
        for (double ra0 : {-6.29, -0.000001, 0.0, 23.99999, 24.5, 30.0}) {
            double ra = ra0, dec = 10.0;
            precess(ra, dec, 2433251.5, kJ2000);
            EXPECT_GE(ra, 0.0) << ra0;
            EXPECT_LT(ra, 24.0) << ra0;
        }
        // Over tens of thousands of years the angle z alone exceeds a full turn backwards.
        for (double ra0 : {0.0, 6.0, 12.0, 18.0}) {
            double ra = ra0, dec = 20.0;
            precess(ra, dec, kJ2000, kJ2000 - 500 * 36525.0);
            EXPECT_GE(ra, 0.0) << ra0;
            EXPECT_LT(ra, 24.0) << ra0;
        }
    }
}

TEST(Precession, Fk4MovesTheB1950GalacticCentreToItsJ2000Place) {
    // 17h42m26.603s -28°55'00.43" (B1950) is 17h45m37.224s -28°56'10.23" (J2000); the
    // Newcomb angles alone, without the FK4 to FK5 corrections, come within 2".
    double ra = 17 + 42 / 60.0 + 26.603 / 3600.0;
    double dec = -(28 + 55 / 60.0 + 0.43 / 3600.0);
    PrecessFK4(ra, dec, 2433282.4235, kJ2000);
    EXPECT_LT(
        Separation(ra, dec, 17 + 45 / 60.0 + 37.224 / 3600.0, -(28 + 56 / 60.0 + 10.23 / 3600.0)),
        2 * kArcsec);
}

TEST(Precession, CelestialPoleGivesAFiniteDeclination) {
    for (auto precess : {PrecessFK4, PrecessFK5}) {
        double ra = 3.0, dec = 90.0;
        precess(ra, dec, 2433282.5, kJ2000);
        EXPECT_TRUE(std::isfinite(ra));
        // The old pole lies theta (about 0.278° over fifty years) from the new one.
        EXPECT_NEAR(dec, 90 - 0.2785, 0.001);
    }
}

// ---- The transform ----

TEST(SkyPosition, CdMatrixWholeImage) {
    WcsInfo w = CdHeader();
    ComputeSkyPosition(w, WholeImage(512, 512), 512);
    EXPECT_EQ(w.projection, 'T');
    EXPECT_NEAR(w.centreDec, 29.99975, 1e-10);
    EXPECT_NEAR(w.centreRa, 10.0000192, 1e-7);
    EXPECT_NEAR(w.centreRa, 10.000019244960493, 1e-12);
    EXPECT_NEAR(w.fieldWidth, 0.256, 1e-12);
    EXPECT_EQ(SkySuffix(w),
              " T ar: 10h00m00.1s de:+29\xC2\xB0"
              "59'59\" l:+00\xC2\xB0"
              "15'22\"");
}

TEST(SkyPosition, IncrementsWithRotation) {
    WcsInfo w = IncrementHeader();
    ComputeSkyPosition(w, WholeImage(400, 300), 300);
    EXPECT_NEAR(w.centreDec, 29.9933013, 1e-7);
    EXPECT_NEAR(w.centreRa, 9.9914094, 1e-7);
    EXPECT_NEAR(w.fieldWidth, 0.4, 1e-12);
}

TEST(SkyPosition, ProjectionLetterOnlyNamesTheProjection) {
    WcsInfo reference = CdHeader();
    ComputeSkyPosition(reference, WholeImage(512, 512), 512);
    const struct {
        const char* ctype1;
        char letter;
    } cases[] = {{"'RA---SIN'", 'S'}, {"'RA---ARC'", 'A'}, {"'RA---CAR'", 'C'},
                 {"'RA---XYZ'", 'A'}, {"'RA--'", 'A'},     {"'RA---TAN-SIP'", 'T'}};
    for (const auto& c : cases) {
        WcsInfo w = CdHeader();
        w.ctype1 = c.ctype1;
        ComputeSkyPosition(w, WholeImage(512, 512), 512);
        EXPECT_EQ(w.projection, c.letter) << c.ctype1;
        EXPECT_EQ(w.centreRa, reference.centreRa) << c.ctype1;
        EXPECT_EQ(w.centreDec, reference.centreDec) << c.ctype1;
        EXPECT_EQ(w.fieldWidth, reference.fieldWidth) << c.ctype1;
    }
}

TEST(SkyPosition, UnknownCoordinateTypesShowNothing) {
    const struct {
        const char* c1;
        const char* c2;
    } cases[] = {{"", ""},
                 {"'RA---TAN'", "'GLAT-TAN'"},
                 {"RA---TAN", "DEC--TAN"},  // without the quotes the letters are shifted
                 {"'ra---tan'", "'dec--tan'"}};
    for (const auto& c : cases) {
        WcsInfo w = CdHeader();
        w.ctype1 = c.c1;
        w.ctype2 = c.c2;
        w.fieldWidth = 1;  // left over from an earlier window
        ComputeSkyPosition(w, WholeImage(512, 512), 512);
        EXPECT_EQ(w.fieldWidth, 0) << c.c1 << " " << c.c2;
        EXPECT_EQ(w.projection, '-') << c.c1 << " " << c.c2;
        EXPECT_EQ(SkySuffix(w), "");
    }
}

TEST(SkyPosition, NoScaleKeywordsShowNothing) {
    WcsInfo w = CdHeader();
    w.hasCd = false;
    w.fieldWidth = 1;
    ComputeSkyPosition(w, WholeImage(512, 512), 512);
    EXPECT_EQ(w.projection, 'T');
    EXPECT_EQ(w.fieldWidth, 0);
    EXPECT_EQ(SkySuffix(w), "");
}

TEST(SkyPosition, ZeroWidthHidesTheSuffixButKeepsThePosition) {
    // A CD matrix rotated by 90°: cd1_1 is 0, so the width along the first axis is 0.
    WcsInfo w = CdHeader();
    w.cd1_1 = 0;
    w.cd2_2 = 0;
    w.cd1_2 = -0.0005;
    w.cd2_1 = 0.0005;
    ComputeSkyPosition(w, WholeImage(512, 512), 512);
    EXPECT_EQ(w.fieldWidth, 0);
    EXPECT_NEAR(w.centreDec, 30 - 0.00025, 1e-10);  // cd2_1 * dx
    EXPECT_EQ(SkySuffix(w), "");
}

TEST(SkyPosition, PcMatrixWinsOverCdAndCdOverIncrements) {
    // PC form: the matrix turns offsets, the increments scale them.
    WcsInfo pc = IncrementHeader();
    pc.crota2 = 0;
    pc.pc1_1 = 0;
    pc.pc1_2 = 1;
    pc.pc2_1 = -1;
    pc.pc2_2 = 0;
    pc.hasPc = true;
    pc.cd1_1 = 0.5;  // would give a wildly different answer if used
    pc.cd2_2 = 0.5;
    pc.hasCd = true;
    ComputeSkyPosition(pc, WholeImage(400, 300), 300);
    // u = dy = 50, v = -dx = -100: q = 30 - 0.1, p = 150 - 0.05 / cos q.
    EXPECT_NEAR(pc.centreDec, 29.9, 1e-12);
    EXPECT_NEAR(pc.centreRa, (150 - 0.05 / std::cos(29.9 * std::numbers::pi / 180)) / 15, 1e-12);
    EXPECT_NEAR(pc.fieldWidth, 0.4, 1e-12);

    WcsInfo cd = CdHeader();
    cd.cdelt1 = cd.cdelt2 = 0.5;  // ignored: the CD matrix comes first
    cd.hasCdelt = true;
    ComputeSkyPosition(cd, WholeImage(512, 512), 512);
    EXPECT_NEAR(cd.centreDec, 29.99975, 1e-10);
    EXPECT_NEAR(cd.fieldWidth, 0.256, 1e-12);
}

TEST(SkyPosition, ZoomingMovesTheCentreFlippingDoesNot) {
    WcsInfo w = CdHeader();
    ZoomWindow z = WholeImage(512, 512);
    // Top right quarter of the display: columns 256..511, rows 0..255 (the top rows are
    // the last rows of the file, so higher declinations).
    SetWindow(z, 256, 256, 0, 256);
    ComputeSkyPosition(w, z, 512);
    EXPECT_NEAR(w.centreDec, 30.06375, 1e-10);
    EXPECT_NEAR(w.centreRa, 9.995089365143551, 1e-12);
    EXPECT_NEAR(w.fieldWidth, 0.128, 1e-12);

    const double ra = w.centreRa, dec = w.centreDec;
    z.flipHorizontal = true;
    z.flipVertical = true;
    ComputeSkyPosition(w, z, 512);
    EXPECT_EQ(w.centreRa, ra);
    EXPECT_EQ(w.centreDec, dec);

    // An odd window puts the centre on a half pixel: bottom left 3 x 3 pixels, 255 pixels
    // from the reference pixel along both axes.
    SetWindow(z, 0, 3, 509, 3);
    ComputeSkyPosition(w, z, 512);
    EXPECT_NEAR(w.centreDec, 29.8725, 1e-10);
    EXPECT_NEAR(w.centreRa, 10.009802385002226, 1e-12);
}

TEST(SkyPosition, DefaultFk4HeaderIsPrecessedFromDecember1949) {
    WcsInfo w = CdHeader();
    w.radecsys = "'FK4'";
    w.equinox = 1950;
    ComputeSkyPosition(w, WholeImage(512, 512), 512);
    double ra = 10.000019244960493, dec = 29.99975;
    PrecessFK4(ra, dec, 2433251.5, kJ2000);
    EXPECT_NEAR(w.centreRa, ra, 1e-12);
    EXPECT_NEAR(w.centreDec, dec, 1e-12);
    // Fifty years of precession at this place: about +0.7° in right ascension.
    EXPECT_NEAR((w.centreRa - 10.000019244960493) * 15, 0.7, 0.1);
    EXPECT_NEAR(w.fieldWidth, 0.256, 1e-12);

    // The same header with FK5 is precessed with the other angles.
    WcsInfo w5 = w;
    w5.radecsys = "'FK5'";
    ComputeSkyPosition(w5, WholeImage(512, 512), 512);
    double ra5 = 10.000019244960493, dec5 = 29.99975;
    PrecessFK5(ra5, dec5, 2433251.5, kJ2000);
    EXPECT_NEAR(w5.centreRa, ra5, 1e-12);
    EXPECT_NEAR(w5.centreDec, dec5, 1e-12);
    EXPECT_GT(std::fabs(w5.centreRa - w.centreRa) + std::fabs(w5.centreDec - w.centreDec), 1e-9);
}

TEST(SkyPosition, EquinoxTwoThousandIsNotPrecessedWhateverTheSystem) {
    for (const char* system : {"'FK5'", "'FK4'", "'ICRS'"}) {
        WcsInfo w = CdHeader();
        w.radecsys = system;
        w.equinox = 2000;
        ComputeSkyPosition(w, WholeImage(512, 512), 512);
        EXPECT_NEAR(w.centreRa, 10.000019244960493, 1e-12) << system;
        EXPECT_NEAR(w.centreDec, 29.99975, 1e-12) << system;
    }
}

TEST(SkyPosition, FractionOfTheEquinoxYearGivesTheMonth) {
    const struct {
        double equinox;
        double jd0;
    } cases[] = {
        {1950.5, JulianDate(1950, 6, 1, 0.0)},    // 1 June 1950
        {1950.375, JulianDate(1950, 4, 1, 0.0)},  // 4.5 months: halves to even
        {1950.625, JulianDate(1950, 8, 1, 0.0)},  // 7.5 months
        {1985.0, JulianDate(1984, 12, 1, 0.0)},
    };
    for (const auto& c : cases) {
        WcsInfo w = CdHeader();
        w.equinox = c.equinox;
        ComputeSkyPosition(w, WholeImage(512, 512), 512);
        double ra = 10.000019244960493, dec = 29.99975;
        PrecessFK5(ra, dec, c.jd0, kJ2000);
        EXPECT_NEAR(w.centreRa, ra, 1e-12) << c.equinox;
        EXPECT_NEAR(w.centreDec, dec, 1e-12) << c.equinox;
    }
    EXPECT_EQ(JulianDate(1950, 6, 1, 0.0), 2433433.5);
}

TEST(SkyPosition, GalacticCentreIsShownInJ2000) {
    // A galactic header whose window centre falls on l = 0, b = 0.
    WcsInfo w;
    w.ctype1 = "'GLON-CAR'";
    w.ctype2 = "'GLAT-CAR'";
    w.crpix1 = 50;
    w.crpix2 = 50;
    w.cdelt1 = -0.01;
    w.cdelt2 = 0.01;
    w.hasCdelt = true;
    w.radecsys = "'FK5'";
    w.equinox = 2000;
    ComputeSkyPosition(w, WholeImage(100, 100), 100);
    EXPECT_EQ(w.projection, 'C');
    double ra = 0, dec = 0;
    GalacticToEquatorial(0, 0, ra, dec);
    PrecessFK4(ra, dec, 2433251.5, kJ2000);
    EXPECT_NEAR(w.centreRa, ra, 1e-12);
    EXPECT_NEAR(w.centreDec, dec, 1e-12);
    // 17h45m37.2s -28°56'10" is the galactic centre in J2000.
    EXPECT_LT(Separation(w.centreRa, w.centreDec, 17 + 45 / 60.0 + 37.224 / 3600.0,
                         -(28 + 56 / 60.0 + 10.23 / 3600.0)),
              6 * kArcsec);
    EXPECT_EQ(SkySuffix(w),
              " C ar: 17h45m37.4s de:-28\xC2\xB0"
              "56'10\" l:+01\xC2\xB0"
              "00'00\"");

    // Galactic coordinates have no equinox: EQUINOX and RADECSYS change nothing.
    for (double equinox : {1950.0, 1975.5}) {
        for (const char* system : {"'FK4'", "'FK5'"}) {
            WcsInfo g = w;
            g.equinox = equinox;
            g.radecsys = system;
            ComputeSkyPosition(g, WholeImage(100, 100), 100);
            EXPECT_EQ(g.centreRa, w.centreRa);
            EXPECT_EQ(g.centreDec, w.centreDec);
        }
    }
}

TEST(SkyPosition, RightAscensionIsBroughtIntoTheDay) {
    // Reference pixel at the window centre: the position is the reference value itself.
    WcsInfo w = CdHeader();
    w.crpix1 = w.crpix2 = 1;
    w.crval1 = -30;
    w.crval2 = 10;
    ComputeSkyPosition(w, WholeImage(2, 2), 2);
    EXPECT_NEAR(w.centreRa, 22.0, 1e-12);
    w.crval1 = 375;
    ComputeSkyPosition(w, WholeImage(2, 2), 2);
    EXPECT_NEAR(w.centreRa, 1.0, 1e-12);
    w.crval1 = -1e-15;  // a tiny negative value must not come out as 24
    ComputeSkyPosition(w, WholeImage(2, 2), 2);
    EXPECT_GE(w.centreRa, 0.0);
    EXPECT_LT(w.centreRa, 24.0);

    // Near the pole the offset is amplified by 1 / cos(dec): 90° from a field at 60°
    // makes p = -180°, shown as 12 h rather than -12 h.
    WcsInfo pole = CdHeader();
    pole.crpix1 = 0;  // dx = 1
    pole.crpix2 = 1;  // dy = 0
    pole.crval1 = 0;
    pole.crval2 = 60;
    pole.cd1_1 = -90;
    pole.cd2_2 = 1;
    ComputeSkyPosition(pole, WholeImage(2, 2), 2);
    EXPECT_NEAR(pole.centreRa, 12.0, 1e-9);
    EXPECT_EQ(SkySuffix(pole).substr(0, 17), " T ar: 12h00m00.0");
}

TEST(SkyPosition, UnusableNumbersHideThePosition) {
    // An infinite width or position is not a position.
    WcsInfo w = CdHeader();
    w.cd1_1 = 1e308;
    ComputeSkyPosition(w, WholeImage(512, 512), 512);
    EXPECT_EQ(w.fieldWidth, 0);
    EXPECT_EQ(SkySuffix(w), "");

    // An equinox that is no year cannot be precessed from.
    for (double equinox : {1e300, -3e9, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()}) {
        WcsInfo e = CdHeader();
        e.equinox = equinox;
        ComputeSkyPosition(e, WholeImage(512, 512), 512);
        EXPECT_EQ(e.fieldWidth, 0) << equinox;
        EXPECT_EQ(SkySuffix(e), "");
    }

    // A reference point on the pole is still a position.
    WcsInfo p = CdHeader();
    p.crval2 = 90;
    p.crpix1 = p.crpix2 = 256;
    p.equinox = 1950;
    p.radecsys = "'FK4'";
    ComputeSkyPosition(p, WholeImage(512, 512), 512);
    EXPECT_TRUE(std::isfinite(p.centreRa));
    EXPECT_TRUE(std::isfinite(p.centreDec));
    EXPECT_NEAR(p.fieldWidth, 0.256, 1e-12);
}

TEST(SkySuffix, EmptyOnlyWhenTheWidthIsExactlyZero) {
    WcsInfo w;
    w.projection = 'S';
    w.centreRa = 5.5;
    w.centreDec = -0.5;
    w.fieldWidth = 0;
    EXPECT_EQ(SkySuffix(w), "");
    w.fieldWidth = 1e-9;
    EXPECT_EQ(SkySuffix(w),
              " S ar:  5h30m00.0s de:-00\xC2\xB0"
              "30'00\" l:+00\xC2\xB0"
              "00'00\"");
}
