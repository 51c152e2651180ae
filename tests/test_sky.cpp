// World coordinates of the shown field: the centre and width of the zoom window from the
// header cards, the frames taken to FK5 J2000, the old header forms, the headers that give
// no position, and the sky suffix of the status caption. tests/wcs_check.py compares the
// caption with astropy on many more headers.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "FitsFiles.h"
#include "image/ImageModel.h"
#include "sky/SkyLib.h"
#include "sky/Wcs.h"

using namespace pelorin;

namespace {

constexpr double kArcsec = 1.0 / 3600.0;
constexpr double kRad = std::numbers::pi / 180.0;

using Cards = std::vector<std::pair<std::string, std::string>>;

std::string Header(const Cards& cards) {
    std::string h;
    for (const auto& [key, value] : cards)
        h += test::Card(key, value);
    return h + test::Card("END", "");
}

// 512 x 512 TAN header with a CD matrix, reference pixel at the centre, at (150°, +30°).
Cards CdCards(const Cards& extra = {}) {
    Cards c = {{"NAXIS", "2"},           {"NAXIS1", "512"},        {"NAXIS2", "512"},
               {"CTYPE1", "'RA---TAN'"}, {"CTYPE2", "'DEC--TAN'"}, {"CRPIX1", "256.5"},
               {"CRPIX2", "256.5"},      {"CRVAL1", "150.0"},      {"CRVAL2", "30.0"},
               {"CD1_1", "-0.0005"},     {"CD2_2", "0.0005"}};
    c.insert(c.end(), extra.begin(), extra.end());
    return c;
}

ZoomWindow Window(int colStart, int cols, int rowStart, int rows) {
    ZoomWindow z;
    z.colStart = colStart;
    z.cols = cols;
    z.colEnd = colStart + cols;
    z.rowStart = rowStart;
    z.rows = rows;
    z.rowEnd = rowStart + rows;
    return z;
}

WcsInfo Computed(const Cards& cards, const ZoomWindow& z, int width = 512, int height = 512) {
    WcsInfo w;
    w.fieldWidth = 1;  // left over from an earlier window
    ComputeSkyPosition(w, CelestialWcs(Header(cards), width, height), z, height);
    return w;
}

// The gnomonic projection worked backwards from its textbook form: standard coordinates
// (xi, eta) in degrees about (ra0, dec0) to a position.
SkyPoint Gnomonic(double ra0, double dec0, double xi, double eta) {
    const double x = xi * kRad, y = eta * kRad, d0 = dec0 * kRad;
    const double den = std::cos(d0) - y * std::sin(d0);
    const double ra = ra0 + std::atan2(x, den) / kRad;
    const double dec = std::atan2(std::sin(d0) + y * std::cos(d0), std::hypot(x, den)) / kRad;
    return {ra / 15.0, dec};
}

double Arcsec(const SkyPoint& a, double raHours, double decDegrees) {
    return SkySeparation(a, {raHours, decDegrees}) / kArcsec;
}

}  // namespace

TEST(SkyPosition, CentreAndWidthOfTheWholeImage) {
    const WcsInfo w = Computed(CdCards({{"RADESYS", "'FK5'"}}), Window(0, 512, 0, 512));
    EXPECT_EQ(w.projection, 'T');
    // The centre of the edge pixels is the reference pixel.
    EXPECT_LT(Arcsec({w.centreRa, w.centreDec}, 10.0, 30.0), 1e-6);
    // The middles of the left and right edges lie 256 pixels either side, on one great
    // circle through the tangent point.
    EXPECT_NEAR(w.fieldWidth, 2 * std::atan(0.128 * kRad) / kRad, 1e-12);
    EXPECT_EQ(SkySuffix(w),
              " T ar: 10h00m00.0s de:+30\xC2\xB0"
              "00'00\" l:+00\xC2\xB0"
              "15'22\"");
}

TEST(SkyPosition, ZoomingMovesTheCentreFlippingDoesNot) {
    // Top right quarter of the display: columns 256..511 and the top rows 0..255, which are
    // the last rows of the file: FITS pixels 257..512 both ways, centre (384.5, 384.5).
    ZoomWindow z = Window(256, 256, 0, 256);
    const Cards cards = CdCards({{"RADESYS", "'FK5'"}});
    const WcsInfo w = Computed(cards, z);
    const SkyPoint centre = Gnomonic(150, 30, -0.064, 0.064);
    EXPECT_LT(Arcsec(centre, w.centreRa, w.centreDec), 1e-6);
    const double width =
        SkySeparation(Gnomonic(150, 30, 0, 0.064), Gnomonic(150, 30, -0.128, 0.064));
    EXPECT_NEAR(w.fieldWidth, width, 1e-12);

    z.flipHorizontal = z.flipVertical = true;
    const WcsInfo flipped = Computed(cards, z);
    EXPECT_EQ(flipped.centreRa, w.centreRa);
    EXPECT_EQ(flipped.centreDec, w.centreDec);

    // An odd window: the bottom left 3 x 3 pixels, centred on FITS pixel (2, 2).
    const WcsInfo corner = Computed(cards, Window(0, 3, 509, 3));
    EXPECT_LT(Arcsec(Gnomonic(150, 30, 0.12725, -0.12725), corner.centreRa, corner.centreDec),
              1e-6);
}

// Positions astropy 5.2.1 gives for the centre of CdCards in each frame, as FK5 J2000. ERFA's
// galactic pole and E-terms are rounded a little differently from astropy's: a few
// milliarcseconds apart.
TEST(SkyPosition, FramesAreTakenToFk5J2000AsAstropyDoes) {
    const struct {
        Cards extra;
        double ra, dec;
    } cases[] = {
        {{}, 10.000000288461926, 29.999995046991682},  // no RADESYS, no EQUINOX: ICRS
        {{{"RADESYS", "'ICRS'"}, {"EQUINOX", "1950.0"}}, 10.000000288461926, 29.999995046991682},
        {{{"EQUINOX", "1950.0"}}, 10.0479801964854, 29.758066375681324},  // FK4 by default
        {{{"RADESYS", "'FK4'"}}, 10.0479801964854, 29.758066375681324},   // B1950 by default
        {{{"RADECSYS", "'FK4'"}, {"EPOCH", "1950.0"}}, 10.0479801964854, 29.758066375681324},
        {{{"RADESYS", "'FK4'"}, {"EQUINOX", "1900.0"}}, 10.095763683420595, 29.514339095964502},
        {{{"RADESYS", "'FK4-NO-E'"}}, 10.047984980006806, 29.758023569970003},
        {{{"RADESYS", "'FK5'"}}, 10.0, 30.0},  // J2000 by default
        {{{"RADESYS", "'FK5'"}, {"EQUINOX", "1975.0"}}, 10.02400852332399, 29.87924127015363},
        {{{"EQUINOX", "1975.0"}}, 10.024021485064411, 29.8792735267078},  // FK4 before 1984
    };
    for (const auto& c : cases) {
        const WcsInfo w = Computed(CdCards(c.extra), Window(0, 512, 0, 512));
        const std::string what = c.extra.empty() ? "none" : c.extra.back().second;
        EXPECT_LT(Arcsec({w.centreRa, w.centreDec}, c.ra, c.dec), 0.02) << what;
    }

    // Galactic axes: the galactic centre, with RADESYS and EQUINOX changing nothing.
    const Cards galactic = {{"CTYPE1", "'GLON-CAR'"}, {"CTYPE2", "'GLAT-CAR'"}, {"CRPIX1", "50.5"},
                            {"CRPIX2", "50.5"},       {"CDELT1", "-0.01"},      {"CDELT2", "0.01"}};
    for (const Cards& extra : {Cards{}, Cards{{"RADESYS", "'FK4'"}, {"EQUINOX", "1950.0"}}}) {
        Cards cards = galactic;
        cards.insert(cards.end(), extra.begin(), extra.end());
        const WcsInfo g = Computed(cards, Window(0, 100, 0, 100), 100, 100);
        EXPECT_EQ(g.projection, 'C');
        EXPECT_LT(Arcsec({g.centreRa, g.centreDec}, 17.76033308226817, -28.93617240339177), 0.02);
    }
}

// CROTA2, PC00i00j and EPOCH read as the standard forms they stand for.
TEST(SkyPosition, OldHeaderFormsMatchTheirStandardForms) {
    const double rho = 30 * kRad;
    const Cards base = {{"CTYPE1", "'RA---TAN'"}, {"CTYPE2", "'DEC--TAN'"}, {"CRPIX1", "100"},
                        {"CRPIX2", "100"},        {"CRVAL1", "150"},        {"CRVAL2", "30"},
                        {"CDELT1", "-0.001"},     {"CDELT2", "0.002"},      {"RADESYS", "'FK5'"}};
    auto with = [&base](const Cards& extra) {
        Cards c = base;
        c.insert(c.end(), extra.begin(), extra.end());
        return Computed(c, Window(0, 400, 0, 300), 400, 300);
    };
    auto num = [](double v) { return std::to_string(v); };
    const WcsInfo crota = with({{"CROTA2", "30"}});
    const WcsInfo pc = with({{"PC1_1", num(std::cos(rho))},
                             {"PC1_2", num(std::sin(rho) * 2)},
                             {"PC2_1", num(-std::sin(rho) / 2)},
                             {"PC2_2", num(std::cos(rho))}});
    EXPECT_LT(Arcsec({crota.centreRa, crota.centreDec}, pc.centreRa, pc.centreDec), 1e-3);
    EXPECT_GT(Arcsec({crota.centreRa, crota.centreDec}, 10.0, 30.0), 60.0);  // it did turn

    const Cards matrix = {{"PC1_1", "0.9"}, {"PC1_2", "0.3"}, {"PC2_1", "-0.3"}, {"PC2_2", "0.9"}};
    const WcsInfo modern = with(matrix);
    const WcsInfo old =
        with({{"PC001001", "0.9"}, {"PC001002", "0.3"}, {"PC002001", "-0.3"}, {"PC002002", "0.9"}});
    EXPECT_LT(Arcsec({old.centreRa, old.centreDec}, modern.centreRa, modern.centreDec), 1e-9);
    EXPECT_EQ(old.fieldWidth, modern.fieldWidth);
}

TEST(SkyPosition, HeadersWithoutATrustworthySystemShowNothing) {
    const struct {
        const char* what;
        Cards cards;
    } cases[] = {
        {"no cards", {}},
        {"unknown projection", CdCards({{"CTYPE1", "'RA---XYZ'"}, {"CTYPE2", "'DEC--XYZ'"}})},
        {"linear axes", CdCards({{"CTYPE1", "'X'"}, {"CTYPE2", "'Y'"}})},
        {"lowercase types", CdCards({{"CTYPE1", "'ra---tan'"}, {"CTYPE2", "'dec--tan'"}})},
        {"apparent places", CdCards({{"RADESYS", "'GAPPT'"}})},
        {"no year", CdCards({{"RADESYS", "'FK4'"}, {"EQUINOX", "1e300"}})},
        {"sky on the second and third axes",
         {{"NAXIS", "3"},
          {"CTYPE1", "'FREQ'"},
          {"CTYPE2", "'RA---TAN'"},
          {"CTYPE3", "'DEC--TAN'"},
          {"CDELT1", "1e6"},
          {"CDELT2", "-0.001"},
          {"CDELT3", "0.001"}}},
    };
    for (const auto& c : cases) {
        const WcsInfo w = Computed(c.cards, Window(0, 512, 0, 512));
        EXPECT_EQ(w.fieldWidth, 0) << c.what;
        EXPECT_EQ(SkySuffix(w), "") << c.what;
        EXPECT_EQ(PixelSkyText(CelestialWcs(Header(c.cards), 512, 512), 512, 0, 0), "") << c.what;
    }
}

// Cards that WCSLIB's parser mishandles (a crash, an overrun) are mended or blanked first.
TEST(SkyPosition, MalformedCardsAreMendedOrLeftOut) {
    auto raw = [](std::string card) {
        card.resize(80, ' ');
        return card;
    };
    const ZoomWindow whole = Window(0, 512, 0, 512);
    WcsInfo sip;
    sip.fieldWidth = 1;
    ComputeSkyPosition(sip,
                       CelestialWcs(test::Card("CTYPE1", "'RA---TAN-SIP'") + raw("B_0_2   =1e-5") +
                                        raw("A_0_2   = 1e-5 x") + raw("CTYPE2  = 'DEC--TAN") +
                                        test::Card("END", ""),
                                    512, 512),
                       whole, 512);
    EXPECT_EQ(sip.fieldWidth, 0);

    // A value right after "=" is still read.
    Cards cards = CdCards({{"RADESYS", "'FK5'"}});
    cards.erase(cards.begin() + 5);  // CRPIX1
    std::string text = Header(cards);
    text.insert(text.size() - 80, raw("CRPIX1  =256.5"));
    WcsInfo mended;
    ComputeSkyPosition(mended, CelestialWcs(text, 512, 512), whole, 512);
    EXPECT_LT(Arcsec({mended.centreRa, mended.centreDec}, 10.0, 30.0), 1e-6);
}

TEST(SkyPosition, PixelTextGivesThePositionOfThePixelItself) {
    const CelestialWcs sky(Header(CdCards({{"RADESYS", "'FK5'"}})), 512, 512);
    ASSERT_TRUE(sky.valid());
    // Array row 255 is FITS row 512 - 255 = 257; column 255 is FITS column 256.
    const SkyPoint p = Gnomonic(150, 30, 0.00025, 0.00025);
    EXPECT_EQ(PixelSkyText(sky, 512, 255, 255),
              "ar:" + Hours(p.raHours) + " de:" + Degrees(p.decDegrees));
    EXPECT_EQ(PixelSkyText(sky, 512, 255, 255),
              "ar: 10h00m00.1s de:+30\xC2\xB0"
              "00'01\"");
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
