// Prints our precessed positions and Julian dates for a fixed grid of inputs, one per
// line, for tests/precession_check.py to compare with ERFA:
//   P ra0 dec0 jd0 jd1 ra1 dec1   (hours, degrees, Julian dates; PrecessFK5)
//   J year month day hour jd      (JulianDate)
// Numbers are written with 17 significant digits so that nothing is lost on the way.
#include <iostream>
#include <string>

#include "base/NumberText.h"
#include "sky/Wcs.h"

namespace {

std::string Num(double x) {
    return pelorin::FormatGeneral(x, 17);
}

}  // namespace

int main() {
    using pelorin::JulianDate;
    // Pairs of equinoxes: B1950-ish and the whole-year equinoxes the transform uses, both
    // directions, long spans, and a null span.
    const double epochs[][2] = {
        {2433282.4235, 2451545.0},                 // B1950 to J2000
        {JulianDate(1950, 0, 1, 0.0), 2451545.0},  // "1950" as the transform dates it
        {JulianDate(1950, 6, 1, 0.0), 2451545.0},
        {2451545.0, 2433282.5},  // backwards
        {JulianDate(1875, 0, 1, 0.0), 2451545.0},
        {2415020.0, 2488070.0},  // 1900 to 2100
        {2460000.5, 2451545.0},
        {2451545.0, 2451545.0},
    };
    const double ras[] = {0.0, 0.5, 3.25, 6.0, 9.75, 12.0, 15.5, 18.0, 21.25, 23.999};
    const double decs[] = {-89.9, -60.0, -30.5, -1.0, 0.0, 1.0, 30.5, 60.0, 89.9};
    for (const auto& e : epochs) {
        for (double ra0 : ras) {
            for (double dec0 : decs) {
                double ra = ra0, dec = dec0;
                pelorin::PrecessFK5(ra, dec, e[0], e[1]);
                std::cout << "P " << Num(ra0) << ' ' << Num(dec0) << ' ' << Num(e[0]) << ' '
                          << Num(e[1]) << ' ' << Num(ra) << ' ' << Num(dec) << '\n';
            }
        }
    }
    // Gregorian dates only: ERFA counts every date in the Gregorian calendar.
    const int dates[][3] = {{1583, 3, 1},   {1600, 2, 29}, {1700, 3, 1},  {1899, 12, 31},
                            {1900, 1, 1},   {1949, 12, 1}, {1950, 6, 1},  {1999, 12, 31},
                            {2000, 1, 1},   {2000, 2, 29}, {2024, 7, 15}, {2100, 3, 1},
                            {2400, 12, 31}, {9999, 12, 31}};
    for (const auto& d : dates) {
        for (double hour : {0.0, 12.0, 18.5}) {
            std::cout << "J " << d[0] << ' ' << d[1] << ' ' << d[2] << ' ' << Num(hour) << ' '
                      << Num(JulianDate(d[0], d[1], d[2], hour)) << '\n';
        }
    }
    return 0;
}
