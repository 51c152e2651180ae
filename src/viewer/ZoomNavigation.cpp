#include "viewer/ZoomNavigation.h"

#include <algorithm>
#include <cmath>

namespace pelorin {

namespace {

// Start of a span of `length` that puts `point` at the fraction `at` of it, inside 0..limit.
int PlaceSpan(double point, double at, int length, int limit) {
    const double start = std::round(point - at * length);
    return static_cast<int>(std::clamp(start, 0.0, static_cast<double>(limit - length)));
}

}  // namespace

ZoomRect ZoomAbout(const ZoomRect& window, double x, double y, double factor, int width,
                   int height) {
    if (width < 1 || height < 1 || !(factor > 0)) return window;
    const int cols = std::clamp(static_cast<int>(std::lround(window.cols() / factor)), 1, width);
    const int rows = std::clamp(static_cast<int>(std::lround(window.rows() / factor)), 1, height);
    const double atX = window.cols() > 0 ? (x - window.colStart) / window.cols() : 0.5;
    const double atY = window.rows() > 0 ? (y - window.rowStart) / window.rows() : 0.5;
    ZoomRect r;
    r.colStart = PlaceSpan(x, std::clamp(atX, 0.0, 1.0), cols, width);
    r.colEnd = r.colStart + cols;
    r.rowStart = PlaceSpan(y, std::clamp(atY, 0.0, 1.0), rows, height);
    r.rowEnd = r.rowStart + rows;
    return r;
}

ZoomRect PanBy(const ZoomRect& window, double columns, double rows, int width, int height) {
    auto shift = [](int start, int length, double by, int limit) {
        const double s = std::round(start + by);
        return static_cast<int>(
            std::clamp(s, 0.0, static_cast<double>(std::max(0, limit - length))));
    };
    ZoomRect r = window;
    r.colStart = shift(window.colStart, window.cols(), columns, width);
    r.colEnd = r.colStart + window.cols();
    r.rowStart = shift(window.rowStart, window.rows(), rows, height);
    r.rowEnd = r.rowStart + window.rows();
    return r;
}

}  // namespace pelorin
