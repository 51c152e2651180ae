// Rendering of the shown window into the display bitmap, the colour bar, the captions,
// the flip buttons, and the blank display.
#include <algorithm>
#include <cmath>
#include <vector>

#include "base/NumberText.h"
#include "base/Paths.h"
#include "display/Render.h"
#include "sky/Wcs.h"
#include "viewer/Viewer.h"

namespace pelorin {

int Viewer::PreviewWidthFor(int cols, int rows) {
    if (rows < 1) return 1;
    const double w = RoundHalfEven(static_cast<double>(cols) / rows * kPreviewHeight);
    return static_cast<int>(std::clamp(w, 1.0, static_cast<double>(kPreviewMaxWidth)));
}

bool Viewer::windowInsideImage() const {
    return WindowInsideImage(image, zoom);
}

void Viewer::renderDisplay() {
    BusyScope busy(onBusy);
    band.shown = false;
    // A picture shown in its own colours has no pixel data, and a window that does not
    // fit the arrays (nothing loaded) must never be read.
    if (image.pictureShown || !windowInsideImage()) return;
    ComputeSkyPosition(wcs, zoom, image.height);
    controls.status = imageCaption();
    renderWindow();
    controls.previewWidth = PreviewWidthFor(zoom.cols, zoom.rows);
    buildColourBar();
}

void Viewer::renderWindow() {
    // Every pixel of the window is drawn below (renderDisplay has checked the window).
    displayBitmap.createForOverwrite(zoom.cols, zoom.rows, 8);
    displayBitmap.setPalette(PaletteColours(buildLutPalette()));
    RenderLevels(image, zoom, levels, itt,
                 {displayBitmap.row(0), static_cast<std::ptrdiff_t>(displayBitmap.stride())});
}

std::string Viewer::imageCaption() const {
    return BaseName(image.fileName) + "  " + std::to_string(zoom.cols) + "x" +
           std::to_string(zoom.rows) + "  " + std::to_string(image.bitpix) + " bits" +
           SkySuffix(wcs);
}

void Viewer::showPicture(const std::string& fileName, const Bitmap& picture) {
    displayBitmap = picture;
    controls.previewWidth = PreviewWidthFor(picture.width(), picture.height());
    image.loaded = true;
    const int bpp = picture.bitsPerPixel();
    const bool known =
        bpp == 1 || bpp == 4 || bpp == 8 || bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32;
    image.bitpix = known ? bpp : 0;
    setDisplayControlsEnabled(false);
    controls.status = BaseName(fileName) + "  " + std::to_string(picture.width()) + "x" +
                      std::to_string(picture.height()) + "  " + std::to_string(bpp) + " bits";
    image.width = 0;
    image.height = 0;
    image.pictureShown = true;
}

void Viewer::setDisplayControlsEnabled(bool enabled) {
    controls.displayControlsEnabled = enabled;
    controls.thresholdModeEnabled = enabled;
    if (!enabled) {
        if (colourBarBitmap.empty()) colourBarBitmap.create(256, 1, 8);
        std::fill(colourBarBitmap.row(0), colourBarBitmap.row(0) + colourBarBitmap.width(), 0);
        controls.readout = " ";
        controls.status = " ";
    }
}

void Viewer::setFlipButtons() {
    controls.flipHorizontalShown = zoom.flipHorizontal;
    controls.flipVerticalShown = zoom.flipVertical;
}

void Viewer::redrawIfLoaded() {
    if (image.loaded && !image.pictureShown) renderDisplay();
}

void Viewer::toggleFlipHorizontal() {
    zoom.flipHorizontal = !zoom.flipHorizontal;
    setFlipButtons();
    redrawIfLoaded();
}

void Viewer::toggleFlipVertical() {
    zoom.flipVertical = !zoom.flipVertical;
    setFlipButtons();
    redrawIfLoaded();
}

void Viewer::orientFromHeader() {
    zoom.flipHorizontal = false;
    zoom.flipVertical = false;
    if (image.loaded && wcs.projection != '-') {
        zoom.flipHorizontal = wcs.hasCdelt && wcs.cdelt1 > 0;
        zoom.flipVertical = wcs.hasCdelt && wcs.cdelt2 < 0;
    }
    setFlipButtons();
    redrawIfLoaded();
}

void Viewer::buildColourBar() {
    colourBarBitmap.create(256, 1, 8);
    colourBarBitmap.setPalette(PaletteColours(buildLutPalette()));
    std::uint8_t* line = colourBarBitmap.row(0);
    for (std::size_t i = 0; i < 256; ++i)
        line[i] = itt[i];
}

void Viewer::clearDisplay() {
    wcs.projection = '-';
    wcs.fieldWidth = 0;
    controls.readout = " ";
    controls.status = " ";
    ResetImageArrays(image);
    // A 1 x 1 black bitmap with the colour bar's palette: entry 0 is always black.
    std::vector<RgbColour> palette = colourBarBitmap.palette();
    displayBitmap.create(1, 1, 8);
    if (!palette.empty()) displayBitmap.setPalette(std::move(palette));
    displayBitmap.row(0)[0] = 0;
    if (colourBarBitmap.empty()) colourBarBitmap.create(256, 1, 8);
    std::fill(colourBarBitmap.row(0), colourBarBitmap.row(0) + colourBarBitmap.width(), 0);
    image.loaded = false;
}

void Viewer::showUnsupportedFormat() {
    clearDisplay();
    controls.status = "Format non supporté." + image.errorText;
    controls.readout = " ";
}

// ---------------------------------------------------------------------------
// Zoom band and pixel readout

void Viewer::previewMouseMove(unsigned flags, int x, int y) {
    if (!image.loaded || image.pictureShown) return;
    const int W = controls.previewWidth;
    const int H = kPreviewHeight;
    if (!(x > 0 && x < W && y > 0 && y < H)) return;
    if (flags == kLeftButton) {
        band.right = x;
        band.bottom = y;
        band.shown = true;
    }
    if (zoom.flipHorizontal) x = W - x;
    if (zoom.flipVertical) y = H - y;
    const double row = std::max(
        0.0,
        std::min<double>(image.height - 1, static_cast<double>(y) / W * zoom.cols + zoom.rowStart));
    const double col = std::max(
        0.0,
        std::min<double>(image.width - 1, static_cast<double>(x) / H * zoom.rows + zoom.colStart));
    const int i = static_cast<int>(RoundHalfEven(row));
    const int j = static_cast<int>(RoundHalfEven(col));
    if (!windowInsideImage()) return;
    const double value = PhysicalValue(image, i, j);
    auto field5 = [](int v) {
        std::string s = std::to_string(v);
        if (s.size() < 5) s.insert(0, 5 - s.size(), ' ');
        return s;
    };
    controls.readout =
        "X: " + field5(j) + "   Y: " + field5(i) + "   I: " + FormatGeneral(value, 12);
}

void Viewer::previewMouseDown(unsigned button, int x, int y) {
    if (!image.loaded || image.pictureShown || button != kLeftButton) return;
    if (band.shown) {
        band.shown = false;
        if (band.left <= x && x <= band.right && band.top <= y && y <= band.bottom &&
            band.left != band.right && band.top != band.bottom) {
            const int W = controls.previewWidth;
            const int H = kPreviewHeight;
            double left = band.left, right = band.right, top = band.top, bottom = band.bottom;
            if (zoom.flipHorizontal) {
                right = W - right;
                left = W - left;
            }
            if (zoom.flipVertical) {
                bottom = H - bottom;
                top = H - top;
            }
            if (zoom.flipHorizontal || zoom.flipVertical) {
                const double l = std::trunc(std::min(left, right)),
                             r = std::trunc(std::max(left, right));
                const double t = std::trunc(std::min(top, bottom)),
                             b = std::trunc(std::max(top, bottom));
                left = l, right = r, top = t, bottom = b;
            }
            auto scaled = [](double p, double extent, int count, int start) {
                return static_cast<int>(RoundHalfEven(p / extent * count + start));
            };
            // Brought inside the image: with a flip the anchor on the preview's edge maps
            // to a position the rounding of W can carry past the window.
            const int colStart =
                std::clamp(scaled(left, H, zoom.rows, zoom.colStart), 0, image.width);
            const int colEnd =
                std::clamp(scaled(right, H, zoom.rows, zoom.colStart), 0, image.width);
            const int rowStart =
                std::clamp(scaled(top, W, zoom.cols, zoom.rowStart), 0, image.height);
            const int rowEnd =
                std::clamp(scaled(bottom, W, zoom.cols, zoom.rowStart), 0, image.height);
            // A band that rounds to no image column or row is refused: the window stays.
            if (colEnd > colStart && rowEnd > rowStart) {
                zoom.prevColStart = zoom.colStart;
                zoom.prevColEnd = zoom.colEnd;
                zoom.prevRowStart = zoom.rowStart;
                zoom.prevRowEnd = zoom.rowEnd;
                zoom.colStart = colStart;
                zoom.colEnd = colEnd;
                zoom.rowStart = rowStart;
                zoom.rowEnd = rowEnd;
                zoom.cols = colEnd - colStart;
                zoom.rows = rowEnd - rowStart;
                renderDisplay();
            }
        }
    }
    band.left = x;
    band.top = y;
}

void Viewer::zoomWhole() {
    if (!image.loaded || image.pictureShown) return;
    zoom.colStart = 0;
    zoom.colEnd = image.width;
    zoom.rowStart = 0;
    zoom.rowEnd = image.height;
    zoom.cols = image.width;
    zoom.rows = image.height;
    renderDisplay();
}

void Viewer::zoomPrevious() {
    if (!image.loaded || image.pictureShown) return;
    zoom.colStart = zoom.prevColStart;
    zoom.colEnd = zoom.prevColEnd;
    zoom.rowStart = zoom.prevRowStart;
    zoom.rowEnd = zoom.prevRowEnd;
    zoom.cols = zoom.colEnd - zoom.colStart;
    zoom.rows = zoom.rowEnd - zoom.rowStart;
    renderDisplay();
}

}  // namespace pelorin
