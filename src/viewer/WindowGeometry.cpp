#include "viewer/WindowGeometry.h"

#include <algorithm>
#include <cmath>

#include "base/NumberText.h"

namespace pelorin {

ViewerZoomState InitialViewerZoom(int bitmapWidth, int bitmapHeight) {
    ViewerZoomState s;
    s.pictureWidth = std::max(0, bitmapWidth);
    s.pictureHeight = std::max(0, bitmapHeight);
    return s;
}

int ZoomedSide(int side, int level) {
    if (side <= 0) return 0;
    level = std::clamp(level, kViewerMinZoomLevel, kViewerMaxZoomLevel);
    // Computed from the bitmap's own side rather than by repeated halving and doubling:
    // an odd side halved and doubled again would no longer be 1:1 at level 0.
    const long long zoomed = level >= 0 ? static_cast<long long>(side) << level
                                        : static_cast<long long>(side) >> (-level);
    return static_cast<int>(std::max(1LL, zoomed));
}

bool ApplyViewerZoomKey(ViewerZoomState& state, char key, int bitmapWidth, int bitmapHeight) {
    if (key == '+') {
        if (state.level >= kViewerMaxZoomLevel) return false;
        ++state.level;
        state.scrollX *= 2;
        state.scrollY *= 2;
    } else if (key == '-') {
        if (state.level <= kViewerMinZoomLevel) return false;
        --state.level;
        state.scrollX /= 2;
        state.scrollY /= 2;
    } else {
        return false;
    }
    state.scale = std::ldexp(1.0, state.level);
    state.pictureWidth = ZoomedSide(bitmapWidth, state.level);
    state.pictureHeight = ZoomedSide(bitmapHeight, state.level);
    return true;
}

bool ApplyViewerWheel(ViewerZoomState& state, int steps, int pointerX, int pointerY,
                      int bitmapWidth, int bitmapHeight) {
    const double least = std::ldexp(1.0, kViewerMinZoomLevel);
    const double most = std::ldexp(1.0, kViewerMaxZoomLevel);
    const double scale = std::clamp(state.scale * std::pow(std::sqrt(2.0), steps), least, most);
    // Snapped to a power of two when within rounding of one, so that the keys' steps and
    // captions find it again.
    const double level = std::log2(scale);
    const double snapped = std::fabs(level - std::round(level)) < 1e-9
                               ? std::ldexp(1.0, static_cast<int>(std::round(level)))
                               : scale;
    if (snapped == state.scale) return false;
    const double ratio = snapped / state.scale;
    auto side = [snapped](int s) {
        return s <= 0 ? 0 : static_cast<int>(std::max(1L, std::lround(s * snapped)));
    };
    state.scrollX =
        static_cast<int>(std::max(0L, std::lround((state.scrollX + pointerX) * ratio - pointerX)));
    state.scrollY =
        static_cast<int>(std::max(0L, std::lround((state.scrollY + pointerY) * ratio - pointerY)));
    state.scale = snapped;
    state.level = static_cast<int>(std::round(level));
    state.pictureWidth = side(bitmapWidth);
    state.pictureHeight = side(bitmapHeight);
    return true;
}

void ResetViewerZoom(ViewerZoomState& state, int bitmapWidth, int bitmapHeight) {
    state = InitialViewerZoom(bitmapWidth, bitmapHeight);
}

std::string ViewerScaleCaption(const std::string& baseCaption, double scale) {
    return baseCaption + "  Zoom x" + FormatGeneral(scale, 3);
}

std::string ZoomFactorText(int level) {
    return FormatGeneral(std::ldexp(1.0L, level), 15);
}

std::string ViewerZoomCaption(const std::string& baseCaption, int level) {
    return baseCaption + "  Zoom x" + ZoomFactorText(level);
}

std::string ViewerShownCaption(const std::string& baseCaption) {
    return baseCaption + "Zoom +/-";
}

WindowSize FullSizeWindowSize(int bitmapWidth, int bitmapHeight, int screenWidth,
                              int screenHeight) {
    return {std::min(screenWidth, bitmapWidth + 20), std::min(screenHeight, bitmapHeight + 40)};
}

WindowSize FullSizeClientSize(int bitmapWidth, int bitmapHeight, int screenWidth, int screenHeight,
                              int frameWidth, int frameHeight, int titleWidth) {
    const WindowSize outer =
        FullSizeWindowSize(bitmapWidth, bitmapHeight, screenWidth, screenHeight);
    const int least = std::max(kFullSizeMinClientWidth,
                               std::min(titleWidth, screenWidth - std::max(0, frameWidth)));
    return {std::max(least, outer.width - std::max(0, frameWidth)),
            std::max(kFullSizeMinClientHeight, outer.height - std::max(0, frameHeight))};
}

WindowPoint PlaceWindowAtPointer(WindowPoint pointer, WindowSize window, const ScreenRect& screen) {
    auto place = [](int at, int extent, int screenStart, int screenExtent) {
        int p = at;
        if (p + extent > screenStart + screenExtent) p = screenStart + screenExtent - extent;
        if (p < screenStart) p = screenStart;
        return p;
    };
    return {place(pointer.x, window.width, screen.left, screen.width),
            place(pointer.y, window.height, screen.top, screen.height)};
}

}  // namespace pelorin
