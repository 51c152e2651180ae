#include "sky/Wcs.h"

#include <dis.h>
#include <erfa.h>
#include <erfam.h>
#include <wcs.h>
#include <wcsfix.h>
#include <wcshdr.h>
#include <wcsmath.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "sky/SkyLib.h"

namespace pelorin {

namespace {

constexpr double kMasToRad = ERFA_DAS2R / 1000.0;

// The frames a header can state for its equatorial axes, and galactic axes.
enum class Frame { kIcrs, kFk5, kFk4, kFk4NoE, kGalactic };

// Reads the frame the way the FITS standard defines its defaults (and astropy applies them):
// no RADESYS means ICRS without an equinox, FK4 with one before 1984, FK5 from 1984 on; FK4
// without an equinox is B1950, FK5 J2000. False for frames we cannot place.
bool FrameOf(const wcsprm& w, Frame& frame, double& equinox) {
    const std::string lng(w.ctype[w.lng], 4);
    const std::string lat(w.ctype[w.lat], 4);
    if (lng == "GLON" && lat == "GLAT") {
        // RADESYS and EQUINOX describe equatorial axes only.
        frame = Frame::kGalactic;
        return true;
    }
    if (lng != "RA--" || lat != "DEC-") return false;
    equinox = w.equinox;
    const bool noEquinox = undefined(equinox) || !std::isfinite(equinox);
    std::string system(w.radesys);
    if (system.empty()) system = noEquinox ? "ICRS" : equinox < 1984.0 ? "FK4" : "FK5";
    if (system == "ICRS") {
        frame = Frame::kIcrs;  // no equinox
        return true;
    }
    if (system == "FK5") {
        frame = Frame::kFk5;
        if (noEquinox) equinox = 2000.0;
    } else if (system == "FK4" || system == "FK4-NO-E") {
        frame = system == "FK4" ? Frame::kFk4 : Frame::kFk4NoE;
        if (noEquinox) equinox = 1950.0;
    } else {
        return false;  // apparent places and the like need more than the header gives
    }
    // An equinox that is no year at all cannot be precessed from.
    return std::isfinite(equinox) && std::fabs(equinox) < 1e5;
}

// The frame bias between ICRS and FK5 J2000 (USNO circular 179), as astropy applies it.
void IcrsToFk5(double p[3]) {
    double r[3][3];
    eraIr(r);
    eraRz(-22.9 * kMasToRad, r);
    eraRy(9.1 * kMasToRad, r);
    eraRx(19.9 * kMasToRad, r);
    eraRxp(r, p, p);
}

// IAU 2006 precession from the mean equator and equinox of Julian epoch `epoch` to J2000.
void Fk5ToJ2000(double epoch, double p[3]) {
    if (epoch == 2000.0) return;
    double d1 = 0, d2 = 0;
    eraEpj2jd(epoch, &d1, &d2);
    double rb[3][3], rp[3][3], rbp[3][3];
    eraBp06(d1, d2, rb, rp, rbp);
    eraTrxp(rp, p, p);
}

// The E-terms of aberration that FK4 positions include: the vector eraFk45z takes out.
struct ETerms {
    double a[3] = {-1.62557e-6, -0.31919e-6, -0.13843e-6};
};

void RemoveETerms(double p[3]) {
    ETerms e;
    double q[3];
    const double w = eraPdp(p, e.a);
    for (int i = 0; i < 3; ++i)
        q[i] = p[i] - e.a[i] + w * p[i];
    double modulus = 0;
    eraPn(q, &modulus, p);
}

// The inverse of RemoveETerms, by fixed-point iteration (it converges at once: the terms are
// a millionth of the vector).
void AddETerms(double p[3]) {
    ETerms e;
    double q[3] = {p[0], p[1], p[2]};
    for (int n = 0; n < 10; ++n) {
        const double w = 1.0 + eraPdp(e.a, q);
        for (int i = 0; i < 3; ++i)
            q[i] = (e.a[i] + p[i]) / w;
    }
    double modulus = 0;
    eraPn(q, &modulus, p);
}

// Newcomb's precession of FK4 (without E-terms) from Besselian epoch e1 to e2.
void PrecessFk4(double e1, double e2, double p[3]) {
    const double t1 = (e1 - 1850.0) / 1000.0;
    const double dt = (e2 - e1) / 1000.0;
    const double zeta1 = 23035.545 + 139.720 * t1 + 0.060 * t1 * t1;
    const double zeta = ((17.995 * dt + (30.240 - 0.27 * t1)) * dt + zeta1) * dt;
    const double z = ((18.325 * dt + (109.480 + 0.39 * t1)) * dt + zeta1) * dt;
    const double theta1 = 20051.12 - 85.29 * t1 - 0.37 * t1 * t1;
    const double theta = ((-41.8 * dt + (-42.65 - 0.37 * t1)) * dt + theta1) * dt;
    double r[3][3];
    eraIr(r);
    eraRz(-zeta * ERFA_DAS2R, r);
    eraRy(theta * ERFA_DAS2R, r);
    eraRz(-z * ERFA_DAS2R, r);
    eraRxp(r, p, p);
}

// FK4 at Besselian equinox `equinox` (with or without the E-terms) to FK5 J2000: brought to
// B1950 within FK4 first, then through eraFk45z, with the equinox as the epoch of observation
// since a header states no other.
void Fk4ToFk5(double equinox, bool withETerms, double p[3]) {
    if (equinox != 1950.0 || !withETerms) {
        if (withETerms) RemoveETerms(p);
        if (equinox != 1950.0) PrecessFk4(equinox, 1950.0, p);
        AddETerms(p);
    }
    double ra = 0, dec = 0;
    eraC2s(p, &ra, &dec);
    double ra2000 = 0, dec2000 = 0;
    eraFk45z(ra, dec, equinox, &ra2000, &dec2000);
    eraS2c(ra2000, dec2000, p);
}

// Headers converted from SCAMP's distortion (PVi_m on a TAN projection) to SIP often keep the
// PVi_m cards, which WCSLIB then refuses as TAN parameters. As astropy does, they are dropped
// when SIP is there, unless radial terms show that they mean something else.
void DropScampParametersUnderSip(wcsprm& w) {
    if (w.npv == 0 || !w.lin.dispre || !w.lin.dispre->dtype) return;
    bool sip = false;
    for (int i = 0; i < w.naxis; ++i)
        sip = sip || std::string(w.lin.dispre->dtype[i]) == "SIP";
    if (!sip) return;
    for (int k = 0; k < w.npv; ++k) {
        int maxM = 0;
        for (int l = 0; l < w.npv; ++l)
            if (w.pv[l].i == w.pv[k].i) maxM = std::max(maxM, w.pv[l].m);
        const int m = w.pv[k].m;
        if ((m == 3 || m == 11 || m == 23 || m == 39) && m < maxM) return;
    }
    w.npv = 0;
    w.flag = 0;
}

// Keywords WCSLIB reads for a celestial system (the standard ones, the old forms and those of
// the SIP, TPV, DSS and WAT distortions).
bool IsCoordinateKeyword(std::string_view key) {
    static constexpr std::string_view kPrefixes[] = {
        "CTYPE",  "CRPIX", "CRVAL", "CDELT", "CROTA",   "CUNIT", "CD",      "PC",    "PV",
        "PS",     "RADE",  "EQUI",  "EPOCH", "LONPOLE", "LATP",  "WCSAXES", "DP",    "DQ",
        "CPDIS",  "CQDIS", "CPERR", "CQERR", "PLT",     "AMD",   "PPO",     "CNPIX", "XPIXEL",
        "YPIXEL", "WAT",   "A_",    "B_",    "AP_",     "BP_"};
    for (std::string_view prefix : kPrefixes)
        if (key.substr(0, prefix.size()) == prefix) return true;
    return false;
}

// A value field (the 70 characters after "= ") as the standard writes one: a closed string,
// T or F, a number or a complex pair, or nothing, then at most a comment after "/".
bool IsWellFormedValue(std::string_view field) {
    std::size_t i = field.find_first_not_of(' ');
    if (i == std::string_view::npos) return true;
    std::string_view rest;
    if (field[i] == '\'') {
        for (++i; i < field.size(); ++i) {
            if (field[i] != '\'') continue;
            if (i + 1 < field.size() && field[i + 1] == '\'') {
                ++i;  // a doubled quote stands for one quote inside the string
                continue;
            }
            break;
        }
        if (i >= field.size()) return false;  // left open
        rest = field.substr(i + 1);
    } else {
        const std::size_t slash = field.find('/', i);
        std::string text(field.substr(i, slash == std::string_view::npos ? slash : slash - i));
        text.erase(text.find_last_not_of(' ') + 1);
        rest = slash == std::string_view::npos ? std::string_view() : field.substr(slash);
        if (text == "T" || text == "F") return true;
        if (text.size() > 2 && text.front() == '(' && text.back() == ')') return true;
        if (!text.empty() && text.front() == '+') text.erase(0, 1);
        std::replace(text.begin(), text.end(), 'D', 'E');  // FITS writes exponents with D too
        double v = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
        return true;
    }
    const std::size_t next = rest.find_first_not_of(' ');
    return next == std::string_view::npos || rest[next] == '/';
}

// The header as WCSLIB may be given it, empty when it must not be parsed: bytes that no FITS
// header may hold become blanks, a value indicator lacking its blank gets one, and values
// that are not well formed are dealt with below.
std::vector<char> ParsableHeader(const std::string& cards, int records) {
    std::vector<char> header(cards.begin(), cards.begin() + records * 80L);
    for (int r = 0; r < records; ++r) {
        char* card = header.data() + r * 80L;
        for (int i = 0; i < 80; ++i)
            if (card[i] < 0x20 || card[i] > 0x7E) card[i] = ' ';
        std::string_view key(card, 8);
        key = key.substr(0, key.find(' '));
        // WCSLIB's parser overruns its fields on a string left open and follows a null pointer
        // on some malformed SIP cards. A malformed card of the coordinate system refuses the
        // header (no position rather than one from the other cards); any other is blanked.
        const bool coordinate = IsCoordinateKeyword(key);
        bool wellFormed = card[8] == '=';
        if (wellFormed && card[9] != ' ') {
            // "KEY     =value": the blank the standard puts after "=" is missing. Given back
            // when the card has room for it.
            wellFormed = card[79] == ' ';
            if (wellFormed) {
                std::copy_backward(card + 9, card + 79, card + 80);
                card[9] = ' ';
            }
        }
        if (wellFormed) {
            const std::string_view field(card + 10, 70);
            // A coordinate keyword without a value is as bad as one with a broken value.
            wellFormed = IsWellFormedValue(field) &&
                         (!coordinate || field.find_first_not_of(' ') != std::string_view::npos);
        }
        if (wellFormed || (!coordinate && card[8] != '=')) continue;  // commentary cards
        if (coordinate) return {};
        std::fill(card, card + 80, ' ');
    }
    // An END card closes the header even when the cards given lack one (the FITS reader
    // keeps its own; other callers may not).
    const std::string end = std::string("END").append(77, ' ');
    header.insert(header.end(), end.begin(), end.end());
    header.push_back('\0');
    return header;
}

}  // namespace

double SkySeparation(const SkyPoint& a, const SkyPoint& b) {
    return eraSeps(a.raHours * 15.0 * ERFA_DD2R, a.decDegrees * ERFA_DD2R,
                   b.raHours * 15.0 * ERFA_DD2R, b.decDegrees * ERFA_DD2R) *
           ERFA_DR2D;
}

struct CelestialWcs::Impl {
    wcsprm* all = nullptr;
    int count = 0;
    wcsprm* w = nullptr;  // the primary system among `all`
    Frame frame = Frame::kIcrs;
    double equinox = 2000.0;

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() {
        if (all) wcsvfree(&count, &all);
    }
};

CelestialWcs::CelestialWcs() = default;
CelestialWcs::~CelestialWcs() = default;
CelestialWcs::CelestialWcs(const CelestialWcs&) = default;
CelestialWcs& CelestialWcs::operator=(const CelestialWcs&) = default;

CelestialWcs::CelestialWcs(const std::string& cards, int width, int height) {
    const int records = static_cast<int>(cards.size() / 80);
    if (records == 0) return;
    // WCSLIB reads a writable copy; it never keeps it.
    std::vector<char> header = ParsableHeader(cards, records);
    if (header.empty()) return;
    auto impl = std::make_shared<Impl>();
    int rejected = 0;
    // Every informal form WCSLIB knows: PC00i00j, CD00i00j, EPOCH, RADECSYS, CROTAi, PROJPn,
    // and the SIP, TPV, DSS and WAT distortions.
    if (wcspih(header.data(), records + 1, WCSHDR_all, 0, &rejected, &impl->count, &impl->all) != 0)
        return;
    for (int i = 0; i < impl->count; ++i)
        if (impl->all[i].alt[0] == ' ' || impl->all[i].alt[0] == '\0') impl->w = &impl->all[i];
    if (!impl->w) return;
    wcsprm& w = *impl->w;
    DropScampParametersUnderSip(w);
    // The fixes astropy applies too: old date forms, units, NCP and GLS, the CD matrix with a
    // missing row, cylindrical projections referred elsewhere.
    std::vector<int> naxis(static_cast<std::size_t>(std::max(w.naxis, 2)), 1);
    naxis[0] = width;
    naxis[1] = height;
    int fixes[NWCSFIX];
    wcsfix(0, naxis.data(), &w, fixes);
    if (wcsset(&w) != 0) return;
    // The celestial axes must be the image's own two axes.
    if (w.lng < 0 || w.lat < 0 || w.lng > 1 || w.lat > 1) return;
    if (!FrameOf(w, impl->frame, impl->equinox)) return;
    impl_ = std::move(impl);
}

char CelestialWcs::projection() const {
    if (!impl_) return '-';
    const std::string code = impl_->w->cel.prj.code;
    if (code == "TAN") return 'T';
    if (code == "SIN") return 'S';
    if (code == "CAR") return 'C';
    return 'A';
}

std::optional<SkyPoint> CelestialWcs::j2000At(double x, double y) const {
    if (!impl_ || !std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    wcsprm& w = *impl_->w;
    const auto n = static_cast<std::size_t>(w.naxis);
    // Axes beyond the image's two (a cube's third) at their first pixel.
    std::vector<double> pixel(n, 1.0), image(n), world(n);
    pixel[0] = x;
    pixel[1] = y;
    double phi = 0, theta = 0;
    int status = 0;
    if (wcsp2s(&w, 1, w.naxis, pixel.data(), image.data(), &phi, &theta, world.data(), &status) !=
            0 ||
        status != 0)
        return std::nullopt;
    const double lng = world[static_cast<std::size_t>(w.lng)];
    const double lat = world[static_cast<std::size_t>(w.lat)];
    if (!std::isfinite(lng) || !std::isfinite(lat)) return std::nullopt;

    double p[3];
    if (impl_->frame == Frame::kGalactic) {
        // Galactic coordinates are defined against FK5 J2000 by the pole and node ERFA uses.
        double ra = 0, dec = 0;
        eraG2icrs(lng * ERFA_DD2R, lat * ERFA_DD2R, &ra, &dec);
        eraS2c(ra, dec, p);
    } else {
        eraS2c(lng * ERFA_DD2R, lat * ERFA_DD2R, p);
        switch (impl_->frame) {
            case Frame::kIcrs:
                IcrsToFk5(p);
                break;
            case Frame::kFk5:
                Fk5ToJ2000(impl_->equinox, p);
                break;
            case Frame::kFk4:
                Fk4ToFk5(impl_->equinox, true, p);
                break;
            case Frame::kFk4NoE:
                Fk4ToFk5(impl_->equinox, false, p);
                break;
            case Frame::kGalactic:
                break;
        }
    }
    double ra = 0, dec = 0;
    eraC2s(p, &ra, &dec);
    SkyPoint s{eraAnp(ra) * ERFA_DR2D / 15.0, dec * ERFA_DR2D};
    if (!(s.raHours >= 0.0 && s.raHours < 24.0)) s.raHours = 0.0;  // 24 h by rounding
    if (!std::isfinite(s.decDegrees)) return std::nullopt;
    return s;
}

void ComputeSkyPosition(WcsInfo& wcs, const CelestialWcs& sky, const ZoomWindow& zoom,
                        int imageHeight) {
    wcs.fieldWidth = 0;
    if (!sky.valid()) return;
    wcs.projection = sky.projection();
    // FITS pixel positions: columns from 1 at the left, rows from 1 at the bottom of the
    // file, which is the last row of the arrays.
    const double colStart = zoom.colStart, cols = zoom.cols;
    const double x = colStart + (cols + 1) / 2.0;
    const double y = static_cast<double>(imageHeight) - zoom.rowStart - (zoom.rows - 1.0) / 2.0;
    const auto centre = sky.j2000At(x, y);
    const auto left = sky.j2000At(colStart + 0.5, y);
    const auto right = sky.j2000At(colStart + cols + 0.5, y);
    if (!centre || !left || !right) return;
    const double width = SkySeparation(*left, *right);
    if (!std::isfinite(width)) return;
    wcs.centreRa = centre->raHours;
    wcs.centreDec = centre->decDegrees;
    wcs.fieldWidth = width;
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

std::string PixelSkyText(const CelestialWcs& sky, int imageHeight, int row, int col) {
    const auto at = sky.j2000At(col + 1.0, static_cast<double>(imageHeight) - row);
    if (!at) return {};
    return "ar:" + Hours(at->raHours) + " de:" + Degrees(at->decDegrees);
}

}  // namespace pelorin
