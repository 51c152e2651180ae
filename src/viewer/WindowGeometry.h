// Geometry of the secondary windows, kept apart from the toolkit so that it can be tested on
// its own: the full-size view's magnification steps and captions, the size it opens at, and
// where the main window is placed when it first appears.
#pragma once

#include <string>

namespace pelorin {

// The full-size view magnifies by powers of two, from 1/8 to 8.
inline constexpr int kViewerMinZoomLevel = -3;
inline constexpr int kViewerMaxZoomLevel = 3;

struct WindowSize {
    int width = 0;
    int height = 0;
    bool operator==(const WindowSize&) const = default;
};

struct WindowPoint {
    int x = 0;
    int y = 0;
    bool operator==(const WindowPoint&) const = default;
};

struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The magnification of the full-size view and what depends on it.
struct ViewerZoomState {
    int level = 0;         // power of two, kViewerMinZoomLevel..kViewerMaxZoomLevel
    double scale = 1;      // the magnification: 2^level, or between powers after the wheel
    int pictureWidth = 0;  // size the picture is drawn at
    int pictureHeight = 0;
    int scrollX = 0;  // scroll positions of the window
    int scrollY = 0;
};

// The state the view opens with: level 0, the bitmap at its own size, scrolled to the origin.
ViewerZoomState InitialViewerZoom(int bitmapWidth, int bitmapHeight);

// One side of a bitmap drawn at a level: side * 2^level, cut toward zero, but never below one
// pixel for a non-empty side so that zooming out and back in always finds the picture again.
int ZoomedSide(int side, int level);

// Applies the key '+' (one level up) or '-' (one level down). The picture size follows the
// bitmap size and the new level; the scroll positions are doubled or halved (cut toward zero)
// so that the same part of the picture stays near the top left corner. Returns false, leaving
// the state alone, for any other key or at the end of the range.
bool ApplyViewerZoomKey(ViewerZoomState& state, char key, int bitmapWidth, int bitmapHeight);

// 2^level in general format: "8", "4", "2", "1", "0.5", "0.25", "0.125".
std::string ZoomFactorText(int level);

// `steps` wheel steps over viewport point (pointerX, pointerY): each magnifies by the square
// root of two (negative steps reduce), within 1/8..8; the scroll positions follow so that the
// picture point under the pointer stays under it. The level becomes the nearest power of two,
// for the keys that come after. False, leaving the state alone, at the end of the range.
bool ApplyViewerWheel(ViewerZoomState& state, int steps, int pointerX, int pointerY,
                      int bitmapWidth, int bitmapHeight);
// '0': back to one bitmap pixel per screen pixel, scrolled to the origin.
void ResetViewerZoom(ViewerZoomState& state, int bitmapWidth, int bitmapHeight);
// The caption after a wheel step: the factor with three significant digits ("1.41").
std::string ViewerScaleCaption(const std::string& baseCaption, double scale);

// The caption while zoomed: the caption the window had when shown, then "  Zoom x" and the
// factor.
std::string ViewerZoomCaption(const std::string& baseCaption, int level);

// The caption right after showing: the key hint appended directly to the base caption.
std::string ViewerShownCaption(const std::string& baseCaption);

// Size of the full-size view for a bitmap: the bitmap plus room for the frame (20 across,
// 40 down), but never larger than the screen.
WindowSize FullSizeWindowSize(int bitmapWidth, int bitmapHeight, int screenWidth, int screenHeight);

// The smallest client area the full-size view opens with: room for its caption, and never so
// small that the window's own limits would bring in scroll bars over a tiny picture.
inline constexpr int kFullSizeMinClientWidth = 80;
inline constexpr int kFullSizeMinClientHeight = 60;

// Client area of the full-size view: the window, frame included, is sized as
// FullSizeWindowSize against the whole screen; the frame (frameWidth x frameHeight, 0 while
// it is unknown) is taken off, and the result is never below the minimum above, nor
// narrower than `titleWidth` (room for the caption to be read), up to the screen's width.
WindowSize FullSizeClientSize(int bitmapWidth, int bitmapHeight, int screenWidth, int screenHeight,
                              int frameWidth, int frameHeight, int titleWidth = 0);

// Top left corner of a window opened at the mouse pointer and kept on the screen: pushed
// back left and up when it would leave the screen on the right or at the bottom, and never
// placed before the screen's left or top edge (a window larger than the screen is then
// aligned on its top left corner).
WindowPoint PlaceWindowAtPointer(WindowPoint pointer, WindowSize window, const ScreenRect& screen);

}  // namespace pelorin
