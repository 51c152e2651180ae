// World coordinates of the shown field: the sky position of the centre of the zoom window
// and its width, from the coordinate keywords of a FITS header, with the conversion of
// galactic coordinates and the precession to J2000.0. Angles are degrees, right ascensions
// hours; radians appear only inside the trigonometric calls.
#pragma once

#include <string>

#include "image/ImageModel.h"

namespace pelorin {

// Julian date of a calendar date (year, month, day, hour of the day). Months 1 and 2 count
// as months 13 and 14 of the year before, so month 0 means December of the year before;
// years up to 1582 are taken in the Julian calendar, later ones in the Gregorian; year 0 is
// 1 BC and negative years continue from there.
double JulianDate(int year, int month, int day, double hour);

// Galactic longitude and latitude (degrees) to B1950 right ascension (hours) and
// declination (degrees). The right ascension is not wrapped: it lies in
// (-167.75°, 192.25°] / 15.
void GalacticToEquatorial(double l, double b, double& raHours, double& decDegrees);

// Precession of a position from the equinox of Julian date jd0 to that of jd1, with
// Newcomb's angles (FK4 system) or the IAU 1976 angles (FK5 system). The right ascension
// comes back in [0, 24).
void PrecessFK4(double& raHours, double& decDegrees, double jd0, double jd1);
void PrecessFK5(double& raHours, double& decDegrees, double jd0, double jd1);

// Sky position of the centre of the zoom window and width of the window: sets
// wcs.projection, centreRa (hours, J2000.0, in [0, 24)), centreDec and fieldWidth. A
// fieldWidth of 0 means that there is nothing to show: no or unknown coordinate types, no
// scale keywords, a zero scale, or a position that cannot be computed.
void ComputeSkyPosition(WcsInfo& wcs, const ZoomWindow& zoom, int imageHeight);

// The end of the status caption: " T ar: 10h00m00.1s de:+29°59'59\" l:+00°15'22\"", or ""
// when fieldWidth is 0.
std::string SkySuffix(const WcsInfo& wcs);

}  // namespace pelorin
