// World coordinates of the shown field. WCSLIB reads the celestial coordinate system of the
// image's header cards (every projection, the matrix forms old and new, SIP, TPV and DSS
// distortions) and turns pixel positions into sky positions; ERFA brings them into the FK5
// system at equinox J2000.0, the one the caption and the readout give. Neither library shows
// through this header. Angles are degrees, right ascensions hours.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "image/ImageModel.h"

namespace pelorin {

// A position in FK5 J2000: right ascension in [0, 24) h, declination in degrees.
struct SkyPoint {
    double raHours = 0;
    double decDegrees = 0;
};

// Angle between two positions, in degrees.
double SkySeparation(const SkyPoint& a, const SkyPoint& b);

// The celestial coordinate system of one header. Empty (valid() false) when the header has
// none that can be trusted: no celestial axes along the image's two axes, a header WCSLIB
// refuses, or a frame we cannot take to FK5 J2000. Copies share the parsed system.
class CelestialWcs {
  public:
    CelestialWcs();
    // `cards`: the header as 80-character cards one after the other; width and height: the
    // image's size (WCSLIB's fixes of cylindrical projections look at it).
    CelestialWcs(const std::string& cards, int width, int height);
    ~CelestialWcs();
    CelestialWcs(const CelestialWcs&);
    CelestialWcs& operator=(const CelestialWcs&);

    bool valid() const { return impl_ != nullptr; }
    // The caption's letter for the projection: 'T' (TAN), 'S' (SIN), 'C' (CAR), 'A' else.
    char projection() const;
    // The FK5 J2000 position of a FITS pixel position (1-based, y up: pixel (1, 1) is the
    // bottom left pixel of the file). Empty when the position is off the projection.
    std::optional<SkyPoint> j2000At(double x, double y) const;

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// Sky position of the centre of the zoom window and width of the window in the system
// `sky`: sets wcs.projection, centreRa, centreDec and fieldWidth (0: nothing to
// show). The centre is the middle of the window's edge pixels, the width the angle between
// the middles of its left and right edges; rows count down from the top of the image.
void ComputeSkyPosition(WcsInfo& wcs, const CelestialWcs& sky, const ZoomWindow& zoom,
                        int imageHeight);

// The end of the status caption: " T ar: 10h00m00.1s de:+29°59'59\" l:+00°15'22\"", or ""
// when fieldWidth is 0.
std::string SkySuffix(const WcsInfo& wcs);

// The sky position of the pixel at array row `row` (0 at the top) and column `col` of an
// image `imageHeight` rows high, as the readout gives it: "ar: 10h00m00.1s de:+29°59'59\"",
// or "" when there is none.
std::string PixelSkyText(const CelestialWcs& sky, int imageHeight, int row, int col);

}  // namespace pelorin
