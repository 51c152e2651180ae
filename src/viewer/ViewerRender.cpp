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

Viewer::PreviewSize Viewer::PreviewSizeFor(int cols, int rows, int boxWidth, int boxHeight) {
    boxWidth = std::max(1, boxWidth);
    boxHeight = std::max(1, boxHeight);
    if (cols < 1 || rows < 1) return {1, boxHeight};
    const long long c = cols, r = rows;
    const long long least = std::min({kPreviewMinSide, boxWidth, boxHeight});
    if (c * boxHeight <= r * boxWidth) {
        const long long w = RoundDivHalfEven(c * boxHeight, r);
        return {static_cast<int>(std::max(least, w)), boxHeight};
    }
    // Wider than the box: full width and a lower height, so that no column is cut off.
    const long long h = RoundDivHalfEven(r * boxWidth, c);
    return {boxWidth, static_cast<int>(std::max(least, h))};
}

void Viewer::setPreviewSize(int cols, int rows) {
    const PreviewSize size =
        PreviewSizeFor(cols, rows, controls.previewBoxWidth, controls.previewBoxHeight);
    controls.previewWidth = size.width;
    controls.previewHeight = size.height;
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
    ComputeSkyPosition(wcs, sky, zoom, image.height);
    controls.status = imageCaption();
    renderWindow();
    setPreviewSize(zoom.cols, zoom.rows);
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
           DamageNote(image) + SkySuffix(wcs);
}

void Viewer::showPicture(const std::string& fileName, const Bitmap& picture) {
    displayBitmap = picture;
    // The picture paints over the band.
    band.shown = false;
    setPreviewSize(picture.width(), picture.height());
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
        controls.colourBarLow.clear();
        controls.colourBarHigh.clear();
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
    controls.colourBarLow = controls.lowText;
    controls.colourBarHigh = controls.highText;
}

void Viewer::clearDisplay() {
    // The black fill paints over the band.
    band.shown = false;
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
    controls.colourBarLow.clear();
    controls.colourBarHigh.clear();
    image.loaded = false;
}

void Viewer::showUnsupportedFormat() {
    clearDisplay();
    controls.status = "Format non supporté." + image.errorText;
    controls.readout = " ";
}

// ---------------------------------------------------------------------------
// Zoom band and pixel readout

// The preview and the full-size view draw displayBitmap stretched by nearest pixel: target
// pixel x of a picture W wide shows the bitmap column whose extent holds its middle,
// floor((x + 1/2) * cols / W). The readout names that same pixel.
namespace {

long long DrawnPixel(long long x, long long bitmapSide, long long pictureSide) {
    return (2 * x + 1) * bitmapSide / (2 * std::max(1LL, pictureSide));
}

}  // namespace

std::string Viewer::readoutAtBitmapPixel(long long bx, long long by) const {
    if (!image.loaded || image.pictureShown || !windowInsideImage()) return {};
    if (bx < 0 || by < 0 || bx >= zoom.cols || by >= zoom.rows) return {};
    // The bitmap is the window with the flips applied.
    const int j = zoom.colStart + static_cast<int>(zoom.flipHorizontal ? zoom.cols - 1 - bx : bx);
    const int i = zoom.rowStart + static_cast<int>(zoom.flipVertical ? zoom.rows - 1 - by : by);
    auto field5 = [](int v) {
        std::string s = std::to_string(v);
        if (s.size() < 5) s.insert(0, 5 - s.size(), ' ');
        return s;
    };
    std::string text = "X: " + field5(j) + "   Y: " + field5(i) +
                       "   I: " + FormatGeneral(PhysicalValue(image, i, j), 12);
    // The sky position takes a second line: beside the pixel it would not fit the preview's
    // width.
    const std::string skyText = PixelSkyText(sky, image.height, i, j);
    if (!skyText.empty()) text += "\n" + skyText;
    return text;
}

void Viewer::previewMouseMove(unsigned flags, int x, int y) {
    if (!image.loaded || image.pictureShown) return;
    const int W = controls.previewWidth;
    const int H = controls.previewHeight;
    if (!(x > 0 && x < W && y > 0 && y < H)) return;
    if (flags == kLeftButton) {
        band.right = x;
        band.bottom = y;
        band.shown = true;
    }
    const std::string text =
        readoutAtBitmapPixel(DrawnPixel(x, zoom.cols, W), DrawnPixel(y, zoom.rows, H));
    if (!text.empty()) controls.readout = text;
}

std::string Viewer::fullSizeReadout(int x, int y, int pictureWidth, int pictureHeight) const {
    if (x < 0 || y < 0 || x >= pictureWidth || y >= pictureHeight) return " ";
    const std::string text = readoutAtBitmapPixel(DrawnPixel(x, zoom.cols, pictureWidth),
                                                  DrawnPixel(y, zoom.rows, pictureHeight));
    return text.empty() ? " " : text;
}

void Viewer::previewMouseDown(unsigned button, int x, int y) {
    if (!image.loaded || image.pictureShown || button != kLeftButton) return;
    if (band.shown) {
        band.shown = false;
        if (band.left <= x && x <= band.right && band.top <= y && y <= band.bottom &&
            band.left != band.right && band.top != band.bottom) {
            const long long W = std::max(1, controls.previewWidth);
            const long long H = std::max(1, controls.previewHeight);
            long long left = band.left, right = band.right, top = band.top, bottom = band.bottom;
            if (zoom.flipHorizontal) {
                right = W - right;
                left = W - left;
            }
            if (zoom.flipVertical) {
                bottom = H - bottom;
                top = H - top;
            }
            if (zoom.flipHorizontal || zoom.flipVertical) {
                const long long l = std::min(left, right), r = std::max(left, right);
                const long long t = std::min(top, bottom), b = std::max(top, bottom);
                left = l, right = r, top = t, bottom = b;
            }
            // The same mapping as the readout: columns through the preview's width, rows
            // through its height.
            auto scaled = [](long long p, long long extent, long long count, long long start,
                             int limit) {
                const long long v = RoundDivHalfEven(p * count + start * extent, extent);
                return static_cast<int>(std::clamp<long long>(v, 0, limit));
            };
            // Kept inside the image, should a band ever reach past the preview's edge.
            const int colStart = scaled(left, W, zoom.cols, zoom.colStart, image.width);
            const int colEnd = scaled(right, W, zoom.cols, zoom.colStart, image.width);
            const int rowStart = scaled(top, H, zoom.rows, zoom.rowStart, image.height);
            const int rowEnd = scaled(bottom, H, zoom.rows, zoom.rowStart, image.height);
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
