// Rendering of the shown window: thresholds to levels, intensity table, flips, preview
// width, colour bar, captions and the blank display.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "ViewerFixture.h"

using namespace pelorin;
using pelorin::test::ViewerTest;

using Render = ViewerTest;

namespace {

// The rendering written out the long way, one pixel at a time.
std::uint8_t ReferenceLevel(const ImageState& im, const DisplayLevels& lv, long double stored) {
    const long double v = im.bscale * stored + im.bzero;
    if (lv.high == lv.low) return v >= lv.low ? 255 : 0;
    const double k = 255 / (lv.high - lv.low);
    const double t = static_cast<double>((v - lv.low) * static_cast<long double>(k));
    if (std::isnan(t)) return 0;
    return static_cast<std::uint8_t>(std::trunc(std::max(0.0, std::min(255.0, t))));
}

Bitmap ReferenceRender(const Viewer& v) {
    const ZoomWindow& z = v.zoom;
    Bitmap b;
    b.create(z.cols, z.rows, 8);
    for (int r = z.rowStart; r < z.rowStart + z.rows; ++r) {
        const int line = z.flipVertical ? z.rowStart + z.rows - 1 - r : r - z.rowStart;
        for (int c = z.colStart; c < z.colStart + z.cols; ++c) {
            const int col = z.flipHorizontal ? z.colStart + z.cols - 1 - c : c - z.colStart;
            b.row(line)[col] = v.itt[ReferenceLevel(v.image, v.levels, StoredValue(v.image, r, c))];
        }
    }
    return b;
}

}  // namespace

TEST_F(Render, SixteenBitWithOffsetMapsPhysicalValues) {
    const int stored[] = {-32768, -32640, -32513, -32000};
    ShowImage(
        16, 1, 4, [&](int, int c) { return stored[c]; }, 1, 32768);
    IdentityItt();
    viewer->levels.low = 0;
    viewer->levels.high = 255;
    viewer->renderDisplay();
    EXPECT_EQ(Pixel(0, 0), 0);
    EXPECT_EQ(Pixel(1, 0), 128);
    EXPECT_EQ(Pixel(2, 0), 255);
    EXPECT_EQ(Pixel(3, 0), 255);
}

TEST_F(Render, LevelBoundariesAndInvertedThresholds) {
    const double values[] = {3.9, 4, 999.9, 1000, 5000, -7};
    ShowImage(-64, 1, 6, [&](int, int c) { return values[c]; });
    IdentityItt();
    viewer->levels.low = 0;
    viewer->levels.high = 1000;
    viewer->renderDisplay();
    EXPECT_EQ(Pixel(0, 0), 0);
    EXPECT_EQ(Pixel(1, 0), 1);
    EXPECT_EQ(Pixel(2, 0), 254);
    EXPECT_EQ(Pixel(3, 0), 255);
    EXPECT_EQ(Pixel(4, 0), 255);
    EXPECT_EQ(Pixel(5, 0), 0);

    viewer->levels.low = 1000;
    viewer->levels.high = 0;
    viewer->renderDisplay();
    EXPECT_EQ(Pixel(3, 0), 0);
    EXPECT_EQ(Pixel(5, 0), 255);

    // Equal thresholds: a step at the threshold.
    viewer->levels.low = viewer->levels.high = 4;
    viewer->renderDisplay();
    EXPECT_EQ(Pixel(0, 0), 0);
    EXPECT_EQ(Pixel(1, 0), 255);
    EXPECT_EQ(Pixel(3, 0), 255);
}

TEST_F(Render, NanDrawsLevelZero) {
    ShowImage(-32, 1, 2, [](int, int c) { return c == 0 ? std::nanf("") : 10.0f; });
    IdentityItt();
    viewer->levels.low = 0;
    viewer->levels.high = 10;
    viewer->renderDisplay();
    EXPECT_EQ(Pixel(0, 0), 0);
    EXPECT_EQ(Pixel(1, 0), 255);
}

TEST_F(Render, DefaultTablesDrawLowestLevelWithIndexOne) {
    ShowImage(8, 2, 2, [](int r, int c) { return r * 2 + c; });
    viewer->levels.low = 10;
    viewer->levels.high = 20;
    viewer->renderDisplay();
    EXPECT_EQ(Pixel(0, 0), 1);
    const Bitmap& b = viewer->displayBitmap;
    EXPECT_EQ(b.bitsPerPixel(), 8);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{1, 1, 1}));
    // The colour bar: level i drawn with ITT[i], grey from (1,1,1) to white.
    const Bitmap& bar = viewer->colourBarBitmap;
    ASSERT_EQ(bar.width(), 256);
    EXPECT_EQ(bar.pixelColour(0, 0), (RgbColour{1, 1, 1}));
    EXPECT_EQ(bar.pixelColour(128, 0), (RgbColour{128, 128, 128}));
    EXPECT_EQ(bar.pixelColour(255, 0), (RgbColour{255, 255, 255}));
}

TEST_F(Render, PreviewWidthFlipsAndCaption) {
    ShowImage(16, 50, 100, [](int r, int c) { return r * 100 + c; });
    // Wider than the 320 x 240 box: full width, lower height, nothing cut off.
    EXPECT_EQ(viewer->controls.previewWidth, 320);
    EXPECT_EQ(viewer->controls.previewHeight, 160);
    using Size = Viewer::PreviewSize;
    EXPECT_EQ(Viewer::PreviewSizeFor(512, 512), (Size{240, 240}));
    EXPECT_EQ(Viewer::PreviewSizeFor(640, 480), (Size{320, 240}));
    EXPECT_EQ(Viewer::PreviewSizeFor(400, 200), (Size{320, 160}));
    // A thin strip keeps a readable side (stretched across it), in a grown box too.
    EXPECT_EQ(Viewer::PreviewSizeFor(4000, 10), (Size{320, 48}));
    EXPECT_EQ(Viewer::PreviewSizeFor(50, 2000), (Size{48, 240}));
    EXPECT_EQ(Viewer::PreviewSizeFor(50, 2000, 900, 700), (Size{48, 700}));
    EXPECT_EQ(Viewer::PreviewSizeFor(512, 512, 900, 700), (Size{700, 700}));
    EXPECT_EQ(Viewer::PreviewSizeFor(1000, 500, 900, 700), (Size{900, 450}));
    // Rounded exactly, halves to even: 25 * 240 / 96 = 62.5, 51 * 320 / 128 = 127.5.
    EXPECT_EQ(Viewer::PreviewSizeFor(25, 96), (Size{62, 240}));
    EXPECT_EQ(Viewer::PreviewSizeFor(1024, 161), (Size{320, 50}));  // 50.31 -> 50
    EXPECT_EQ(Viewer::PreviewSizeFor(128, 51), (Size{320, 128}));   // 127.5 -> 128
    EXPECT_EQ(Viewer::PreviewSizeFor(64, 224), (Size{69, 240}));    // 68.57 -> 69
    EXPECT_EQ(viewer->controls.status, "synthetic.fit  100x50  16 bits");

    const std::uint8_t topLeft = Pixel(0, 0);
    const std::uint8_t topRight = Pixel(99, 0);
    const std::uint8_t bottomLeft = Pixel(0, 49);
    viewer->toggleFlipHorizontal();
    EXPECT_TRUE(viewer->controls.flipHorizontalShown);
    EXPECT_EQ(Pixel(99, 0), topLeft);
    EXPECT_EQ(Pixel(0, 0), topRight);
    viewer->toggleFlipHorizontal();
    viewer->toggleFlipVertical();
    EXPECT_TRUE(viewer->controls.flipVerticalShown);
    EXPECT_EQ(Pixel(0, 49), topLeft);
    EXPECT_EQ(Pixel(0, 0), bottomLeft);
    // Orientation from the header: no sky coordinates here, so both flips go off.
    viewer->orientFromHeader();
    EXPECT_FALSE(viewer->zoom.flipVertical);
    EXPECT_FALSE(viewer->controls.flipVerticalShown);
    EXPECT_EQ(Pixel(0, 0), topLeft);
}

TEST_F(Render, FlipButtonsWithoutImageOnlyToggle) {
    viewer->toggleFlipHorizontal();
    EXPECT_TRUE(viewer->zoom.flipHorizontal);
    EXPECT_TRUE(viewer->controls.flipHorizontalShown);
    EXPECT_EQ(busyCount, 0);
    EXPECT_EQ(viewer->displayBitmap.width(), 1);
}

TEST_F(Render, FastPathsMatchThePixelByPixelAlgorithm) {
    std::mt19937 rng(12345);
    for (int bitpix : {8, 16, 32, -32, -64}) {
        std::uniform_real_distribution<double> any(-40000, 40000);
        ShowImage(
            bitpix, 37, 53,
            [&](int, int) {
                switch (bitpix) {
                    case 8:
                        return static_cast<double>(rng() % 256);
                    case 16:
                        return static_cast<double>(static_cast<std::int16_t>(rng()));
                    case 32:
                        return static_cast<double>(static_cast<std::int32_t>(rng()));
                    default:
                        return any(rng);
                }
            },
            bitpix == 16 ? 1.5L : 1, bitpix == 8 ? -3.25L : 32768);
        for (int trial = 0; trial < 12; ++trial) {
            std::uniform_real_distribution<double> th(viewer->image.dataMin, viewer->image.dataMax);
            viewer->levels.low = th(rng);
            viewer->levels.high = trial % 4 == 3 ? viewer->levels.low : th(rng);  // equal ones too
            viewer->zoom.flipHorizontal = trial & 1;
            viewer->zoom.flipVertical = trial & 2;
            viewer->zoom.colStart = trial;
            viewer->zoom.cols = 53 - 2 * trial;
            viewer->zoom.rowStart = trial / 2;
            viewer->zoom.rows = 37 - trial;
            for (int i = 0; i < 256; ++i)
                viewer->itt[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(rng());
            viewer->renderDisplay();
            const Bitmap expected = ReferenceRender(*viewer);
            ASSERT_EQ(viewer->displayBitmap.width(), expected.width());
            for (int y = 0; y < expected.height(); ++y)
                for (int x = 0; x < expected.width(); ++x)
                    ASSERT_EQ(Pixel(x, y), expected.row(y)[x])
                        << "bitpix " << bitpix << " trial " << trial << " at " << x << "," << y;
        }
    }
}

TEST_F(Render, ExtremeValuesAndNegativeScalesMatch) {
    const double specials[] = {0.0,
                               -0.0,
                               1e308,
                               -1e308,
                               4.9e-324,
                               -4.9e-324,
                               1e-300,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::nan(""),
                               3.5,
                               -7.25};
    for (int bitpix : {32, 64, -32, -64}) {
        for (auto [bscale, bzero] : {std::pair{1.0L, 10.0L},
                                     {-2.5L, 10.0L},
                                     {1e-30L, 10.0L},
                                     {0.0L, 10.0L},
                                     {1.0L, 0.0L},
                                     {-1.0L, 0.0L}}) {
            ShowImage(
                bitpix, 3, 4,
                [&](int r, int c) {
                    const double v = specials[(r * 4 + c) % 12];
                    if (bitpix > 0)
                        return std::isfinite(v) ? std::clamp(v, -2147483648.0, 2147483647.0) : 5.0;
                    return v;
                },
                bscale, bzero);
            for (auto [low, high] : {std::pair{-5.0, 20.0},
                                     {20.0, -5.0},
                                     {3.0, 3.0},
                                     {-1e300, 1e300},
                                     // Thresholds a subnormal apart: an infinite slope, whose level
                                     // estimate at the low threshold itself is 0 x infinity.
                                     {0.0, 1e-310},
                                     {4.9e-324, 0.0},
                                     {-1.797e308, 1.797e308}}) {
                viewer->levels.low = low;
                viewer->levels.high = high;
                viewer->renderDisplay();
                const Bitmap expected = ReferenceRender(*viewer);
                ASSERT_TRUE(viewer->displayBitmap.bits() == expected.bits())
                    << bitpix << " " << static_cast<double>(bscale) << " " << low << " " << high;
            }
        }
    }
}

TEST_F(Render, LargeWindowSplitAcrossThreadsMatches) {
    // Above the size where rows are shared between workers.
    ShowImage(32, 1100, 1000,
              [](int r, int c) { return (r * 7919 + c * 104729) % 100000 - 50000; });
    viewer->levels.low = -20000;
    viewer->levels.high = 30000;
    viewer->zoom.flipVertical = true;
    viewer->renderDisplay();
    const Bitmap expected = ReferenceRender(*viewer);
    EXPECT_TRUE(viewer->displayBitmap.bits() == expected.bits());
}

TEST_F(Render, ClearDisplayAndUnsupportedFormat) {
    ShowImage(8, 3, 3, [](int, int) { return 9; });
    viewer->image.errorText = "Mot clé \"NAXIS < 2\"";
    viewer->showUnsupportedFormat();
    EXPECT_FALSE(viewer->image.loaded);
    EXPECT_EQ(viewer->controls.status, "Format non supporté.Mot clé \"NAXIS < 2\"");
    EXPECT_EQ(viewer->controls.readout, " ");
    EXPECT_EQ(viewer->displayBitmap.width(), 1);
    EXPECT_EQ(viewer->displayBitmap.pixelColour(0, 0), (RgbColour{0, 0, 0}));
    EXPECT_EQ(viewer->image.pixels8.rows(), 1);
    EXPECT_EQ(viewer->image.source8.cols(), 1);
    EXPECT_EQ(viewer->colourBarBitmap.pixelColour(200, 0), (RgbColour{0, 0, 0}));
    // Nothing may redraw the stale window now.
    busyCount = 0;
    viewer->zoomWhole();
    viewer->redrawTimerExpired();
    EXPECT_EQ(viewer->displayBitmap.width(), 1);
}

TEST_F(Render, DisablingControlsBlanksBarAndTexts) {
    ShowImage(8, 3, 3, [](int r, int) { return r; });
    viewer->setDisplayControlsEnabled(false);
    EXPECT_FALSE(viewer->controls.displayControlsEnabled);
    EXPECT_EQ(viewer->controls.status, " ");
    EXPECT_EQ(viewer->colourBarBitmap.row(0)[100], 0);
}
