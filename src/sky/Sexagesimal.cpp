// The sexagesimal texts of the status caption. The arithmetic stays in reals throughout:
// the inputs come from file headers and may be huge, and converting them to an integer type
// would be undefined behaviour.
#include <cmath>
#include <string>

#include "base/NumberText.h"
#include "sky/SkyLib.h"

namespace pelorin {

namespace {

// "Written in `width` characters with `decimals` decimals", then zero-filled on the left
// instead of blank-filled. Deciding on the written text rather than on the value keeps a
// value just below a rounding boundary (9.95 is stored as 9.9499...) from showing a blank
// inside the number.
std::string ZeroPadded(double x, int width, int decimals) {
    std::string s = FormatFixed(x, decimals);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width - static_cast<int>(s.size())), '0');
    return s;
}

}  // namespace

std::string Degrees(double x) {
    double d = std::trunc(x);
    double minutes = std::fabs(x - d) * 60.0;
    // 59.99 rather than 60: anything that would print as 60 minutes carries into the degrees.
    if (minutes >= 59.99) {
        d += Sign(x);
        minutes = 0;
    }
    double m = std::trunc(minutes);
    double s = (minutes - m) * 60.0;
    // Seconds that would print as 60 carry into the minutes. The test above keeps the minutes
    // below 59.99, so with m = 59 the seconds stay under 59.4 and no "60" minutes is written.
    if (s >= 59.5) {
        m += 1;
        s = 0;
    }
    std::string out = x < 0 ? "-" : "+";
    out += ZeroPadded(std::fabs(d), 2, 0);
    out += "\u00B0";
    out += ZeroPadded(m, 2, 0);
    out += '\'';
    out += ZeroPadded(s, 2, 0);
    out += '"';
    return out;
}

std::string Hours(double x) {
    double h = std::trunc(x);
    double minutes = std::fabs(x - h) * 60.0;
    if (minutes >= 59.999) {
        h += Sign(x);
        minutes = 0;
    }
    double m = std::trunc(minutes);
    double s = (minutes - m) * 60.0;
    if (s >= 59.95) {
        m += 1;
        s = 0;
    }
    // Hours with leading blanks and no plus sign; minutes and seconds zero-filled.
    std::string out = FormatFixedWidth(h, 3, 0);
    out += 'h';
    out += ZeroPadded(m, 2, 0);
    out += 'm';
    out += ZeroPadded(s, 4, 1);
    out += 's';
    return out;
}

}  // namespace pelorin
