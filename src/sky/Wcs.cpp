#include "sky/Wcs.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "base/NumberText.h"
#include "sky/SkyLib.h"

namespace pelorin {

namespace {

constexpr double kRadPerDeg = std::numbers::pi / 180.0;
constexpr double kDegPerRad = 180.0 / std::numbers::pi;

constexpr double kJ2000 = 2451545.0;
constexpr double kB1900 = 2415020.3135;
constexpr double kTropicalCentury = 36524.2199;
constexpr double kJulianCentury = 36525.0;

// The B1950 galactic pole and the galactic longitude of the north celestial pole.
constexpr double kGalacticPoleRa = 192.25;
constexpr double kGalacticPoleDec = 27.4;
constexpr double kNorthPoleLongitude = 123.0;

double SinD(double a) {
    return std::sin(a * kRadPerDeg);
}
double CosD(double a) {
    return std::cos(a * kRadPerDeg);
}
double TanD(double a) {
    return std::tan(a * kRadPerDeg);
}
double Atan2D(double y, double x) {
    return std::atan2(y, x) * kDegPerRad;
}
// The sine of a declination computed from a rotation can come out a rounding step beyond
// ±1 at the poles; asin would then give NaN instead of ±90°.
double AsinD(double x) {
    if (x > 1.0) x = 1.0;
    if (x < -1.0) x = -1.0;
    return std::asin(x) * kDegPerRad;
}

// Characters `from` to `from` + count - 1 (1-based) of a text, shorter when the text ends
// before.
std::string Chars(const std::string& s, std::size_t from, std::size_t count) {
    if (from < 1 || from > s.size()) return {};
    return s.substr(from - 1, count);
}

// An angle brought into [0, 360). The remainder of a + 360 is what the precession has
// always used (exact for anything above -360); the two corrections catch angles further
// below and a remainder that rounds to -0 or to 360.
double WrapDegrees(double a) {
    double r = Remainder(a + 360.0, 360.0);
    if (r < 0) r += 360.0;
    if (r >= 360.0) r -= 360.0;
    return r;
}

double WrapHours(double h) {
    double r = std::fmod(h, 24.0);
    if (r < 0) r += 24.0;
    if (r >= 24.0) r -= 24.0;  // a tiny negative value plus 24 rounds to 24
    return r;
}

// Rotation of (ra, dec) by the three precession angles (degrees).
void Rotate(double& raHours, double& decDegrees, double zeta, double z, double theta) {
    const double alpha = raHours * 15.0;
    const double delta = decDegrees;
    const double f = CosD(delta) * SinD(alpha + zeta);
    const double g = CosD(theta) * CosD(delta) * CosD(alpha + zeta) - SinD(theta) * SinD(delta);
    const double k = SinD(theta) * CosD(delta) * CosD(alpha + zeta) + CosD(theta) * SinD(delta);
    decDegrees = AsinD(k);
    raHours = WrapDegrees(Atan2D(f, g) + z) / 15.0;
}

enum class SkySystem { kNone, kEquatorial, kGalactic };

SkySystem SystemOf(const WcsInfo& wcs) {
    // The values keep their FITS quotes: characters 2 to 5 are the first four letters.
    const std::string t1 = Chars(wcs.ctype1, 2, 4);
    const std::string t2 = Chars(wcs.ctype2, 2, 4);
    if (t1 == "RA--" && t2 == "DEC-") return SkySystem::kEquatorial;
    if (t1 == "GLON" && t2 == "GLAT") return SkySystem::kGalactic;
    return SkySystem::kNone;
}

char ProjectionLetter(const std::string& ctype1) {
    const std::string code = Chars(ctype1, 6, 4);
    if (code == "-TAN") return 'T';
    if (code == "-SIN") return 'S';
    if (code == "-CAR") return 'C';
    return 'A';  // "-ARC" and every code we do not know
}

}  // namespace

double JulianDate(int year, int month, int day, double hour) {
    // 64-bit arithmetic: the year comes from a header and year - 1 must not overflow.
    long long y = year;
    long long m = month;
    if (m <= 2) {
        y -= 1;
        m += 12;
    }
    double b = 0;
    if (y > 1582) {
        const long long a = y / 100;
        b = static_cast<double>(2 - a + a / 4);
    }
    const double yr = static_cast<double>(y);
    const double n1 = y < 0 ? std::trunc(365.25 * yr - 0.75) : std::trunc(365.25 * yr);
    const double n2 = std::trunc(30.6001 * static_cast<double>(m + 1));
    return n2 + n1 + day + 1720994.5 + b + hour / 24.0;
}

void GalacticToEquatorial(double l, double b, double& raHours, double& decDegrees) {
    const double dl = l - kNorthPoleLongitude;
    const double alpha =
        (kGalacticPoleRa - 180.0) +
        Atan2D(SinD(dl), CosD(dl) * SinD(kGalacticPoleDec) - TanD(b) * CosD(kGalacticPoleDec));
    const double delta =
        AsinD(SinD(b) * SinD(kGalacticPoleDec) + CosD(b) * CosD(kGalacticPoleDec) * CosD(dl));
    raHours = alpha / 15.0;
    decDegrees = delta;
}

void PrecessFK4(double& raHours, double& decDegrees, double jd0, double jd1) {
    const double t0 = (jd0 - kB1900) / kTropicalCentury;
    const double t = (jd1 - jd0) / kTropicalCentury;
    const double zeta = ((2304.250 + 1.396 * t0) + (0.302 + 0.018 * t) * t) * t;
    const double z = zeta + (0.791 + t / 1000.0) * t * t;
    const double theta = (2004.682 - 0.853 * t0 - (0.426 + 0.042 * t) * t) * t;
    Rotate(raHours, decDegrees, zeta / 3600.0, z / 3600.0, theta / 3600.0);
}

void PrecessFK5(double& raHours, double& decDegrees, double jd0, double jd1) {
    const double tc = (jd0 - kJ2000) / kJulianCentury;
    const double t = (jd1 - jd0) / kJulianCentury;
    const double w = 2306.2181 + 1.39656 * tc - 0.000139 * tc * tc;
    const double zeta = w * t + (0.30188 - 0.000344 * tc) * t * t + 0.017998 * t * t * t;
    const double z = w * t + (1.09468 + 0.000066 * tc) * t * t + 0.018203 * t * t * t;
    const double theta = (2004.3109 - 0.85330 * tc - 0.000217 * tc * tc) * t -
                         (0.42665 + 0.000217 * tc) * t * t - 0.041833 * t * t * t;
    Rotate(raHours, decDegrees, zeta / 3600.0, z / 3600.0, theta / 3600.0);
}

void ComputeSkyPosition(WcsInfo& wcs, const ZoomWindow& zoom, int imageHeight) {
    wcs.fieldWidth = 0;
    const SkySystem system = SystemOf(wcs);
    if (system == SkySystem::kNone) return;
    // The projection only names the letter of the caption: the offsets below are linear
    // whatever it is.
    wcs.projection = ProjectionLetter(wcs.ctype1);

    // Offsets of the window centre from the reference pixel. Rows are counted from the
    // bottom of the image: row 0 of the arrays is the top of the display and the last row
    // of the file.
    const double dx = static_cast<double>(zoom.colStart) + zoom.cols / 2.0 - wcs.crpix1;
    const double dy =
        (static_cast<double>(imageHeight) - zoom.rowStart) - zoom.rows / 2.0 - wcs.crpix2;

    double p = 0;  // first axis, degrees
    double q = 0;  // second axis, degrees
    double width = 0;
    if (wcs.hasPc) {
        const double u = wcs.pc1_1 * dx + wcs.pc1_2 * dy;
        const double v = wcs.pc2_1 * dx + wcs.pc2_2 * dy;
        q = v * wcs.cdelt2 + wcs.crval2;
        p = u * wcs.cdelt1 / CosD(q) + wcs.crval1;
        width = std::fabs(zoom.cols * wcs.cdelt1);
    } else if (wcs.hasCd) {
        const double u = wcs.cd1_1 * dx + wcs.cd1_2 * dy;
        const double v = wcs.cd2_1 * dx + wcs.cd2_2 * dy;
        q = wcs.crval2 + v;
        p = u / CosD(q) + wcs.crval1;
        width = std::fabs(zoom.cols * wcs.cd1_1);
    } else if (wcs.hasCdelt) {
        const double rho = -wcs.crota2;
        const double u = wcs.cdelt1 * dx * CosD(rho) + wcs.cdelt2 * dy * SinD(rho);
        const double v = wcs.cdelt2 * dy * CosD(rho) - wcs.cdelt1 * dx * SinD(rho);
        q = wcs.crval2 + v;
        p = u / CosD(q) + wcs.crval1;
        width = std::fabs(zoom.cols * wcs.cdelt1);
    } else {
        return;
    }

    double ra = 0;
    double dec = 0;
    bool positionKnown = true;
    if (system == SkySystem::kEquatorial) {
        ra = p / 15.0;
        dec = q;
        if (wcs.equinox != 2000.0) {
            // The starting equinox as a date: the year, and the fraction of the year as a
            // month (a whole year gives month 0, December of the year before).
            const double year = std::trunc(wcs.equinox);
            if (std::fabs(year) <= static_cast<double>(std::numeric_limits<int>::max())) {
                const double frac = wcs.equinox - year;
                const int month = static_cast<int>(RoundHalfEven(frac * 12.0));
                const double jd0 = JulianDate(static_cast<int>(year), month, 1, 0.0);
                if (Chars(wcs.radecsys, 2, 3) == "FK4")
                    PrecessFK4(ra, dec, jd0, kJ2000);
                else
                    PrecessFK5(ra, dec, jd0, kJ2000);
            } else {
                // Not a year at all (NaN, infinite or beyond any calendar): no position
                // rather than an unprecessed one passed off as J2000.
                positionKnown = false;
            }
        }
    } else {
        // The galactic conversion gives B1950 (FK4) coordinates, and galactic coordinates
        // carry no equinox of their own: precess from 1950 with the FK4 angles whatever the
        // header's EQUINOX and RADECSYS say.
        GalacticToEquatorial(p, q, ra, dec);
        PrecessFK4(ra, dec, JulianDate(1950, 0, 1, 0.0), kJ2000);
    }

    // The caption always reads a right ascension between 0 h and 24 h, also for fields
    // whose offset crosses 0 h or the pole.
    ra = WrapHours(ra);

    wcs.centreRa = ra;
    wcs.centreDec = dec;
    const bool finite = std::isfinite(ra) && std::isfinite(dec) && std::isfinite(width);
    wcs.fieldWidth = positionKnown && finite ? width : 0.0;
}

std::string SkySuffix(const WcsInfo& wcs) {
    if (wcs.fieldWidth == 0) return {};
    std::string s = " ";
    s += wcs.projection;
    s += " ar:";
    s += Hours(wcs.centreRa);
    s += " de:";
    s += Degrees(wcs.centreDec);
    s += " l:";
    s += Degrees(wcs.fieldWidth);
    return s;
}

}  // namespace pelorin
