// Rendering of the shown window into the display bitmap, the colour bar, the captions,
// the flip buttons, and the blank display.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <type_traits>
#include <vector>

#include "display/Viewer.h"
#include "sky/NumberText.h"
#include "sky/Wcs.h"

namespace pelorin {

namespace {

// Maps a stored value to its display level (0..255) through the thresholds. Physical value
// at extended precision, t rounded to a 64-bit real, clamped to 0..255 and truncated.
class LevelMap {
  public:
    LevelMap(long double bscale, long double bzero, double low, double high)
        : bscale_(bscale), bzero_(bzero), low_(low), k_(255 / (high - low)), equal_(high == low) {}

    int operator()(long double stored) const {
        const long double v = bscale_ * stored + bzero_;
        // Equal thresholds: a step at the threshold.
        if (equal_) return v >= low_ ? 255 : 0;
        const double t = static_cast<double>((v - low_) * k_);
        if (!(t > 0)) return 0;  // also NaN
        return t >= 255 ? 255 : static_cast<int>(t);
    }

    // +1 when the level rises with the stored value, -1 when it falls, 0 when constant.
    int direction() const {
        const long double slope = equal_ ? bscale_ : bscale_ * k_;
        return slope > 0 ? 1 : slope < 0 ? -1 : 0;
    }
    // A close, cheap estimate of the level in plain double arithmetic.
    double estimate(double stored) const {
        if (equal_) return stored * bscaleD_ + bzeroD_ >= low_ ? 255 : 0;
        return (stored * bscaleD_ + bzeroD_ - low_) * k_;
    }

  private:
    long double bscale_;
    long double bzero_;
    double low_;
    double k_;
    bool equal_;
    double bscaleD_ = static_cast<double>(bscale_);
    double bzeroD_ = static_cast<double>(bzero_);
};

// Order-preserving integer keys of the stored values: the integers themselves, and for
// reals their bits arranged so that integer order is real order (NaN excluded).
inline std::int64_t KeyOf(std::int32_t s) {
    return s;
}
inline std::int64_t KeyOf(float s) {
    std::int32_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    return bits < 0 ? (bits ^ 0x7FFFFFFF) : bits;
}
inline std::int64_t KeyOf(double s) {
    std::int64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    return bits < 0 ? (bits ^ 0x7FFFFFFFFFFFFFFFLL) : bits;
}
template <typename T>
T ValueOf(std::int64_t key);
template <>
std::int32_t ValueOf<std::int32_t>(std::int64_t key) {
    return static_cast<std::int32_t>(key);
}
template <>
float ValueOf<float>(std::int64_t key) {
    auto bits = static_cast<std::int32_t>(key);
    if (bits < 0) bits ^= 0x7FFFFFFF;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
template <>
double ValueOf<double>(std::int64_t key) {
    std::int64_t bits = key;
    if (bits < 0) bits ^= 0x7FFFFFFFFFFFFFFFLL;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The middle of [a, b] rounded down; b - a may exceed the signed range for the keys of
// doubles.
inline std::int64_t Midpoint(std::int64_t a, std::int64_t b) {
    return a + static_cast<std::int64_t>(
                   (static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a)) / 2);
}

// The exact level of every stored value of a kind too wide for a table. The level is a
// monotonic function of the stored value (every step of its computation is), so it is
// fixed by the 255 boundary values where it changes: found once per redraw by bisection
// with the exact extended-precision arithmetic. Each pixel then gets a cheap estimate in
// double precision, corrected against the boundaries: the result is the exact level.
template <typename T>
class BoundaryLevels {
  public:
    explicit BoundaryLevels(const LevelMap& map) : map_(map), dir_(map.direction()) {
        const std::int64_t lo = KeyOf(std::numeric_limits<T>::lowest());
        const std::int64_t hi = KeyOf(std::numeric_limits<T>::max());
        const std::int64_t keyLow =
            std::is_floating_point_v<T> ? KeyOf(-std::numeric_limits<T>::infinity()) : lo;
        const std::int64_t keyHigh =
            std::is_floating_point_v<T> ? KeyOf(std::numeric_limits<T>::infinity()) : hi;
        constexpr std::int64_t kBelow = std::numeric_limits<std::int64_t>::min();
        constexpr std::int64_t kAbove = std::numeric_limits<std::int64_t>::max();
        bound_[0] = dir_ > 0 ? kBelow : kAbove;
        bound_[256] = dir_ > 0 ? kAbove : kBelow;
        for (int level = 1; level < 256; ++level) {
            if (dir_ > 0) {
                // Smallest key reaching `level`; none: above every key.
                if (map_(ValueOf<T>(keyHigh)) < level) {
                    bound_[level] = std::numeric_limits<std::int64_t>::max();
                    continue;
                }
                std::int64_t a = keyLow, b = keyHigh;
                while (a < b) {
                    const std::int64_t m = Midpoint(a, b);
                    if (map_(ValueOf<T>(m)) >= level)
                        b = m;
                    else
                        a = m + 1;
                }
                bound_[level] = a;
            } else if (dir_ < 0) {
                // Largest key reaching `level`; none: below every key.
                if (map_(ValueOf<T>(keyLow)) < level) {
                    bound_[level] = std::numeric_limits<std::int64_t>::min();
                    continue;
                }
                std::int64_t a = keyLow, b = keyHigh;
                while (a < b) {
                    const std::int64_t m = Midpoint(a, b) + 1;
                    if (map_(ValueOf<T>(m)) >= level)
                        a = m;
                    else
                        b = m - 1;
                }
                bound_[level] = a;
            }
        }
    }

    int operator()(T s) const {
        if constexpr (std::is_floating_point_v<T>) {
            if (s != s) return 0;  // NaN
        }
        // A zero scale: the same level for every finite value, but not for infinities.
        if (dir_ == 0) return map_(s);
        int level = static_cast<int>(std::clamp(map_.estimate(static_cast<double>(s)), 0.0, 255.0));
        const std::int64_t key = KeyOf(s);
        // The sentinels at 0 and 256 stop both walks.
        if (dir_ > 0) {
            while (key >= bound_[level + 1])
                ++level;
            while (key < bound_[level])
                --level;
        } else {
            while (key <= bound_[level + 1])
                ++level;
            while (key > bound_[level])
                --level;
        }
        return level;
    }

  private:
    const LevelMap& map_;
    int dir_;
    std::array<std::int64_t, 257> bound_{};
};

// Rows [r0, r1) of the window: each pixel through `map` into the bitmap, with the flips.
template <typename T, typename Map>
void MapRows(const PixelArray<T>& pixels, const ZoomWindow& zoom, Bitmap& bitmap, int r0, int r1,
             const Map& map) {
    const int cols = zoom.cols;
    for (int r = r0; r < r1; ++r) {
        const int line = zoom.flipVertical ? zoom.rowStart + zoom.rows - 1 - r : r - zoom.rowStart;
        std::uint8_t* dst = bitmap.row(line);
        const T* src = pixels[r] + zoom.colStart;
        if (!zoom.flipHorizontal) {
            for (int c = 0; c < cols; ++c)
                dst[c] = map(src[c]);
        } else {
            std::uint8_t* end = dst + cols - 1;
            for (int c = 0; c < cols; ++c)
                end[-c] = map(src[c]);
        }
    }
}

// Splits the window's rows over the machine's cores when the window is large.
template <typename T, typename Map>
void MapWindow(const PixelArray<T>& pixels, const ZoomWindow& zoom, Bitmap& bitmap,
               const Map& map) {
    const long long pixelsInWindow = static_cast<long long>(zoom.rows) * zoom.cols;
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    if (pixelsInWindow < (1 << 20)) workers = 1;
    workers = std::min<unsigned>(workers, static_cast<unsigned>(zoom.rows));
    const int first = zoom.rowStart;
    const int last = zoom.rowStart + zoom.rows;
    if (workers <= 1) {
        MapRows(pixels, zoom, bitmap, first, last, map);
        return;
    }
    std::vector<std::thread> threads;
    const int per = (zoom.rows + static_cast<int>(workers) - 1) / static_cast<int>(workers);
    for (unsigned w = 1; w < workers; ++w) {
        const int a = first + static_cast<int>(w) * per;
        const int b = std::min(last, a + per);
        if (a < b) threads.emplace_back([&, a, b] { MapRows(pixels, zoom, bitmap, a, b, map); });
    }
    MapRows(pixels, zoom, bitmap, first, std::min(last, first + per), map);
    for (auto& t : threads)
        t.join();
}

}  // namespace

int Viewer::PreviewWidthFor(int cols, int rows) {
    if (rows < 1) return 1;
    const double w = RoundHalfEven(static_cast<double>(cols) / rows * kPreviewHeight);
    return static_cast<int>(std::clamp(w, 1.0, static_cast<double>(kPreviewMaxWidth)));
}

bool Viewer::windowInsideImage() const {
    int rows = 0;
    int cols = 0;
    switch (image.bitpix) {
        case 8:
            rows = image.pixels8.rows(), cols = image.pixels8.cols();
            break;
        case 16:
            rows = image.pixels16.rows(), cols = image.pixels16.cols();
            break;
        case 32:
            rows = image.pixels32.rows(), cols = image.pixels32.cols();
            break;
        case -32:
            rows = image.pixelsR32.rows(), cols = image.pixelsR32.cols();
            break;
        case -64:
            rows = image.pixelsR64.rows(), cols = image.pixelsR64.cols();
            break;
        default:
            return false;
    }
    return zoom.rows >= 1 && zoom.cols >= 1 && zoom.colStart >= 0 && zoom.rowStart >= 0 &&
           zoom.colStart + zoom.cols <= std::min(cols, image.width) &&
           zoom.rowStart + zoom.rows <= std::min(rows, image.height);
}

void Viewer::renderDisplay() {
    BusyScope busy(onBusy);
    band.shown = false;
    // A picture shown in its own colours has no pixel data, and a window that does not
    // fit the arrays (nothing loaded) must never be read.
    if (image.pictureShown || !windowInsideImage()) return;
    ComputeSkyPosition(wcs, zoom, image.height);
    controls.label2 = imageCaption();
    renderWindow();
    controls.image1Width = PreviewWidthFor(zoom.cols, zoom.rows);
    buildColourBar();
}

void Viewer::renderWindow() {
    displayBitmap.create(zoom.cols, zoom.rows, 8);
    displayBitmap.setPalette(PaletteColours(buildLutPalette()));
    if (!windowInsideImage()) return;
    const LevelMap level(image.bscale, image.bzero, levels.low, levels.high);
    const IttTable& table = itt;
    switch (image.bitpix) {
        case 8: {
            // Every stored value's byte once, then a table look-up per pixel.
            std::array<std::uint8_t, 256> bytes;
            for (int s = 0; s < 256; ++s)
                bytes[static_cast<std::size_t>(s)] = table[level(s)];
            MapWindow(image.pixels8, zoom, displayBitmap,
                      [&bytes](std::uint8_t s) { return bytes[s]; });
            break;
        }
        case 16: {
            std::vector<std::uint8_t> bytes(65536);
            for (int s = -32768; s < 32768; ++s)
                bytes[static_cast<std::size_t>(s + 32768)] = table[level(s)];
            const std::uint8_t* b = bytes.data() + 32768;
            MapWindow(image.pixels16, zoom, displayBitmap, [b](std::int16_t s) { return b[s]; });
            break;
        }
        case 32: {
            const BoundaryLevels<std::int32_t> exact(level);
            MapWindow(image.pixels32, zoom, displayBitmap,
                      [&](std::int32_t s) { return table[exact(s)]; });
            break;
        }
        case -32: {
            const BoundaryLevels<float> exact(level);
            MapWindow(image.pixelsR32, zoom, displayBitmap,
                      [&](float s) { return table[exact(s)]; });
            break;
        }
        case -64: {
            const BoundaryLevels<double> exact(level);
            MapWindow(image.pixelsR64, zoom, displayBitmap,
                      [&](double s) { return table[exact(s)]; });
            break;
        }
        default:
            break;
    }
}

std::string Viewer::imageCaption() const {
    return BaseName(image.fileName) + "  " + std::to_string(zoom.cols) + "x" +
           std::to_string(zoom.rows) + "  " + std::to_string(image.bitpix) + " bits" +
           SkySuffix(wcs);
}

void Viewer::showPicture(const std::string& fileName, const Bitmap& picture) {
    displayBitmap = picture;
    controls.image1Width = PreviewWidthFor(picture.width(), picture.height());
    image.loaded = true;
    const int bpp = picture.bitsPerPixel();
    const bool known =
        bpp == 1 || bpp == 4 || bpp == 8 || bpp == 15 || bpp == 16 || bpp == 24 || bpp == 32;
    image.bitpix = known ? bpp : 0;
    setDisplayControlsEnabled(false);
    controls.label2 = BaseName(fileName) + "  " + std::to_string(picture.width()) + "x" +
                      std::to_string(picture.height()) + "  " + std::to_string(bpp) + " bits";
    image.width = 0;
    image.height = 0;
    image.pictureShown = true;
}

void Viewer::setDisplayControlsEnabled(bool enabled) {
    controls.displayControlsEnabled = enabled;
    controls.radioGroup2Enabled = enabled;
    if (!enabled) {
        if (colourBarBitmap.empty()) colourBarBitmap.create(256, 1, 8);
        std::fill(colourBarBitmap.row(0), colourBarBitmap.row(0) + colourBarBitmap.width(), 0);
        controls.label1 = " ";
        controls.label2 = " ";
    }
}

void Viewer::setFlipButtons() {
    controls.speedButton3Down = zoom.flipHorizontal;
    controls.speedButton2Down = zoom.flipVertical;
}

void Viewer::redrawIfLoaded() {
    if (image.loaded && !image.pictureShown) renderDisplay();
}

void Viewer::SpeedButton3Click() {
    zoom.flipHorizontal = !zoom.flipHorizontal;
    setFlipButtons();
    redrawIfLoaded();
}

void Viewer::SpeedButton2Click() {
    zoom.flipVertical = !zoom.flipVertical;
    setFlipButtons();
    redrawIfLoaded();
}

void Viewer::SpeedButton6Click() {
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
    controls.label1 = " ";
    controls.label2 = " ";
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
    controls.label2 = "Format non supporté." + image.errorText;
    controls.label1 = " ";
}

// ---------------------------------------------------------------------------
// Zoom band and pixel readout

void Viewer::Image1MouseMove(unsigned flags, int x, int y) {
    if (!image.loaded || image.pictureShown) return;
    const int W = controls.image1Width;
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
    controls.label1 =
        "X: " + field5(j) + "   Y: " + field5(i) + "   I: " + FormatGeneral(value, 12);
}

void Viewer::Image1MouseDown(unsigned button, int x, int y) {
    if (!image.loaded || image.pictureShown || button != kLeftButton) return;
    if (band.shown) {
        band.shown = false;
        if (band.left <= x && x <= band.right && band.top <= y && y <= band.bottom &&
            band.left != band.right && band.top != band.bottom) {
            const int W = controls.image1Width;
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

void Viewer::SpeedButton4Click() {
    if (!image.loaded || image.pictureShown) return;
    zoom.colStart = 0;
    zoom.colEnd = image.width;
    zoom.rowStart = 0;
    zoom.rowEnd = image.height;
    zoom.cols = image.width;
    zoom.rows = image.height;
    renderDisplay();
}

void Viewer::SpeedButton5Click() {
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
