// Zoom windows for the wheel, the keyboard and panning: pure geometry on image rectangles,
// so that the windows can be tested without a viewer.
#pragma once

namespace pelorin {

// Columns colStart..colEnd-1 and rows rowStart..rowEnd-1 of an image.
struct ZoomRect {
    int colStart = 0;
    int colEnd = 1;
    int rowStart = 0;
    int rowEnd = 1;
    bool operator==(const ZoomRect&) const = default;
    int cols() const { return colEnd - colStart; }
    int rows() const { return rowEnd - rowStart; }
};

// One wheel step magnifies by the square root of two.
inline constexpr double kWheelZoomFactor = 1.4142135623730951;

// The window `factor` times smaller on each side (a factor below 1 widens it), placed so that
// the image point (x, y), in fractional columns and rows, stays where it was in the window.
// The new window is at least one pixel, at most the whole image on each side, and is moved
// back inside the image where it would reach past an edge.
ZoomRect ZoomAbout(const ZoomRect& window, double x, double y, double factor, int width,
                   int height);

// The window moved by (columns, rows), rounded, and stopped at the image's edges.
ZoomRect PanBy(const ZoomRect& window, double columns, double rows, int width, int height);

}  // namespace pelorin
