// Wheel zoom, panning and zoom keys on the preview, and the preview's box as the window
// grows: the zoom windows come from ZoomNavigation, the redraw from renderDisplay.
#include <cmath>

#include "viewer/Viewer.h"

namespace pelorin {

ZoomRect Viewer::shownWindow() const {
    return {zoom.colStart, zoom.colEnd, zoom.rowStart, zoom.rowEnd};
}

void Viewer::setPreviewBox(int width, int height) {
    controls.previewBoxWidth = std::max(1, width);
    controls.previewBoxHeight = std::max(1, height);
    refitPreview();
}

void Viewer::refitPreview() {
    // The preview is repainted at its new size: the band is gone.
    band.shown = false;
    if (image.pictureShown)
        setPreviewSize(displayBitmap.width(), displayBitmap.height());
    else if (image.loaded)
        setPreviewSize(zoom.cols, zoom.rows);
}

void Viewer::navigateTo(const ZoomRect& window) {
    const ZoomRect now = shownWindow();
    if (window == now) return;
    if (!(now == navigated_)) {
        zoom.prevColStart = now.colStart;
        zoom.prevColEnd = now.colEnd;
        zoom.prevRowStart = now.rowStart;
        zoom.prevRowEnd = now.rowEnd;
    }
    zoom.colStart = window.colStart;
    zoom.colEnd = window.colEnd;
    zoom.rowStart = window.rowStart;
    zoom.rowEnd = window.rowEnd;
    zoom.cols = window.cols();
    zoom.rows = window.rows();
    navigated_ = window;
    renderDisplay();
}

void Viewer::previewWheel(int steps, int x, int y) {
    if (!image.loaded || image.pictureShown || steps == 0 || !windowInsideImage()) return;
    // The middle of the preview pixel under the pointer, as a fraction of the preview, with
    // the flips undone: the image point there stays under the pointer.
    double fx = (x + 0.5) / std::max(1, controls.previewWidth);
    double fy = (y + 0.5) / std::max(1, controls.previewHeight);
    if (zoom.flipHorizontal) fx = 1 - fx;
    if (zoom.flipVertical) fy = 1 - fy;
    // Two steps are exactly a factor 2, so that the sides halve as they would by hand.
    const double factor =
        std::ldexp(steps % 2 ? std::pow(kWheelZoomFactor, steps % 2) : 1.0, steps / 2);
    const ZoomRect now = shownWindow();
    navigateTo(ZoomAbout(now, now.colStart + fx * now.cols(), now.rowStart + fy * now.rows(),
                         factor, image.width, image.height));
}

void Viewer::previewPanStart(int x, int y) {
    panning_ = image.loaded && !image.pictureShown;
    panX_ = x;
    panY_ = y;
    panFrom_ = shownWindow();
}

void Viewer::previewPanMove(int x, int y) {
    if (!panning_ || !image.loaded || image.pictureShown || !windowInsideImage()) return;
    // The picture follows the pointer: the window moves the other way, by the image pixels
    // the pointer crossed.
    double columns =
        -static_cast<double>(x - panX_) * panFrom_.cols() / std::max(1, controls.previewWidth);
    double rows =
        -static_cast<double>(y - panY_) * panFrom_.rows() / std::max(1, controls.previewHeight);
    if (zoom.flipHorizontal) columns = -columns;
    if (zoom.flipVertical) rows = -rows;
    navigateTo(PanBy(panFrom_, columns, rows, image.width, image.height));
}

void Viewer::previewKey(char key) {
    if (!image.loaded || image.pictureShown || !windowInsideImage()) return;
    if (key == '0') {
        zoomWhole();
        return;
    }
    if (key != '+' && key != '-') return;
    const ZoomRect now = shownWindow();
    navigateTo(ZoomAbout(now, (now.colStart + now.colEnd) / 2.0, (now.rowStart + now.rowEnd) / 2.0,
                         key == '+' ? kWheelZoomFactor : 1 / kWheelZoomFactor, image.width,
                         image.height));
}

}  // namespace pelorin
