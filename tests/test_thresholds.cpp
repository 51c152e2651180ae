// Display thresholds: the six modes, the scroll bars, the edits and the delayed redraw.
#include "ViewerFixture.h"
#include "base/Errors.h"
#include "display/Levels.h"

using namespace pelorin;
using pelorin::test::ViewerTest;

namespace {

// Sets the statistics directly and runs the threshold computation in `mode`.
void Compute(Viewer& v, int mode, double dmin, double dmax, long double mean, long double sigma,
             double headerLow = 0, double headerHigh = 0) {
    v.levels.mode = mode;
    v.image.dataMin = dmin;
    v.image.dataMax = dmax;
    v.image.mean = mean;
    v.image.sigma = sigma;
    v.image.headerLow = headerLow;
    v.image.headerHigh = headerHigh;
    v.computeThresholds();
}

}  // namespace

using Thresholds = ViewerTest;

TEST_F(Thresholds, FlatImageWidensRangeByOne) {
    Compute(*viewer, kModeData, 5, 5, 5, 0);
    EXPECT_EQ(viewer->image.dataMax, 6);
    EXPECT_EQ(viewer->levels.low, 5);
    EXPECT_EQ(viewer->levels.high, 6);
    EXPECT_EQ(viewer->levels.range, 1);
    EXPECT_DOUBLE_EQ(viewer->levels.step, 0.0001);
    EXPECT_EQ(viewer->controls.lowText, "5.000");
    EXPECT_EQ(viewer->controls.highText, "6.000");
    // The bars take the start-up computation's range.
    EXPECT_EQ(viewer->controls.lowBar.min(), 0);
    EXPECT_EQ(viewer->controls.lowBar.max(), 30000);
    EXPECT_EQ(viewer->controls.lowBar.largeChange, 3000);
    EXPECT_EQ(viewer->controls.highBar.smallChange, 100);
    EXPECT_FALSE(viewer->levels.settingScrollBars);
}

TEST_F(Thresholds, HeaderModeWithoutAndWithEqualHeaderThresholds) {
    Compute(*viewer, kModeHeader, -20, 300, 10, 5);
    EXPECT_EQ(viewer->levels.low, -20);
    EXPECT_EQ(viewer->levels.high, 300);
    EXPECT_EQ(viewer->image.headerLow, -20);

    Compute(*viewer, kModeHeader, 0, 1000, 10, 5, 100, 100);
    EXPECT_EQ(viewer->image.headerHigh, 101);
    EXPECT_EQ(viewer->levels.low, 100);
    EXPECT_EQ(viewer->levels.high, 101);
    EXPECT_EQ(viewer->levels.range, 1000);
}

TEST_F(Thresholds, SigmaAndSeventyPercentModes) {
    Compute(*viewer, kModeOneSigma, 0, 65535, 1000, 200);
    const double a = 2000.0 / 65535;
    EXPECT_NEAR(viewer->levels.low, 1000 - 200 * a, 1e-9);
    EXPECT_NEAR(viewer->levels.high, 1000 + 200 * (2 - a), 1e-9);
    EXPECT_EQ(viewer->controls.lowText, "993.896");
    EXPECT_EQ(viewer->controls.highText, "1393.896");

    Compute(*viewer, kModeTwoSigma, 0, 65535, 1000, 200);
    EXPECT_NEAR(viewer->levels.low, 1000 - 400 * a, 1e-9);

    // The band is cut at the data range.
    Compute(*viewer, kModeTwoSigma, 0, 100, 50, 1000);
    EXPECT_EQ(viewer->levels.low, 0);
    EXPECT_EQ(viewer->levels.high, 100);

    Compute(*viewer, kMode70, 0, 1000, 100, 10);
    EXPECT_EQ(viewer->levels.low, 30);
    EXPECT_EQ(viewer->levels.high, 730);
    EXPECT_EQ(viewer->controls.lowText, "30.000");
    EXPECT_EQ(viewer->controls.highText, "730.000");
    EXPECT_EQ(viewer->controls.lowBar.position(), viewer->positionOf(30));
}

// A bias frame far from zero: the bars are anchored at the data minimum, so they sit inside
// their track, a small step moves a threshold by 1 % of the spread, and every mode change
// shows its thresholds.
TEST_F(Thresholds, PedestalFrameBarsSitInsideTheirTrackAndEveryModeShows) {
    ShowImage(16, 2, 2, [](int r, int c) { return (r + c) > 0 ? 1164 : 837; });
    viewer->setThresholdMode(kModeData);
    busyCount = 0;
    viewer->controls.redrawTimer.enabled = false;
    Compute(*viewer, kModeData, 837, 1164, 1082.25, 141.6);
    EXPECT_DOUBLE_EQ(viewer->levels.step, 0.0327);
    EXPECT_EQ(viewer->controls.lowBar.position(), 10000);
    EXPECT_EQ(viewer->controls.highBar.position(), 20000);
    EXPECT_EQ(viewer->positionOf(837 - 327), 0);          // the track: dataMin - range ...
    EXPECT_EQ(viewer->positionOf(837 + 2 * 327), 30000);  // ... dataMin + 2 * range
    EXPECT_EQ(viewer->valueOf(10000), 837);

    // "data" again: neither bar moves, yet both edits show the exact thresholds and the
    // preview is redrawn at once.
    viewer->controls.lowText = viewer->controls.highText = "typed";
    viewer->setThresholdMode(kModeData);
    EXPECT_EQ(viewer->controls.lowText, "837.000");
    EXPECT_EQ(viewer->controls.highText, "1164.000");
    EXPECT_FALSE(viewer->controls.redrawTimer.enabled);
    EXPECT_EQ(busyCount, 1);

    // "1 sig." moves both bars: thresholds snapped, one decimal, redraw through the timer.
    viewer->setThresholdMode(kModeOneSigma);
    EXPECT_TRUE(viewer->controls.redrawTimer.enabled);
    EXPECT_EQ(busyCount, 1);
    EXPECT_DOUBLE_EQ(viewer->levels.low, viewer->valueOf(viewer->controls.lowBar.position()));
    EXPECT_GT(viewer->levels.low, 837);

    // One small step moves a threshold by 1 % of the spread.
    viewer->controls.lowBar.setPosition(10100);
    EXPECT_DOUBLE_EQ(viewer->levels.low, 840.27);
    EXPECT_EQ(viewer->controls.lowText, "840.3");
}

TEST_F(Thresholds, ModeChangeSnapsMovedBarsOnly) {
    ShowImage(16, 10, 10, [](int r, int c) { return r * 10 + c; });
    viewer->setThresholdMode(kMode70);
    // Both bars moved: thresholds snapped to the grid, edits with one decimal.
    EXPECT_EQ(viewer->levels.low, viewer->valueOf(viewer->controls.lowBar.position()));
    EXPECT_EQ(viewer->levels.high, viewer->valueOf(viewer->controls.highBar.position()));
    EXPECT_EQ(viewer->controls.lowText, Viewer::ThresholdText(viewer->levels.low, 1));
    EXPECT_TRUE(viewer->controls.redrawTimer.enabled);
    // "fixe" does nothing at all.
    const double low = viewer->levels.low;
    viewer->controls.redrawTimer.enabled = false;
    viewer->setThresholdMode(kModeFixed);
    EXPECT_EQ(viewer->levels.low, low);
    EXPECT_FALSE(viewer->controls.redrawTimer.enabled);
    EXPECT_EQ(viewer->levels.mode, kModeFixed);
}

TEST_F(Thresholds, BarMovedOntoTheOtherIsNudged) {
    ShowImage(16, 4, 4, [](int r, int c) { return r * 4 + c; });
    auto& b1 = viewer->controls.lowBar;
    auto& b2 = viewer->controls.highBar;
    b2.setPosition(15000);
    b1.setPosition(15000);
    EXPECT_EQ(b1.position(), 15001);
    EXPECT_EQ(viewer->levels.low, viewer->valueOf(15001));
    b2.setPosition(15001);
    EXPECT_EQ(b2.position(), 15000);
    // At the clamped end the nudge cannot happen.
    b2.setPosition(30000);
    b1.setPosition(30000);
    EXPECT_EQ(b1.position(), 30000);
}

TEST_F(Thresholds, EnterAppliesBothEditsAndRedrawsAtOnce) {
    ShowImage(16, 4, 4, [](int r, int c) { return r * 100 + c; });
    busyCount = 0;
    viewer->controls.lowText = "12.5";
    viewer->controls.highText = "1e3";
    viewer->applyThresholdEdits();
    EXPECT_EQ(viewer->levels.low, 12.5);
    EXPECT_EQ(viewer->levels.high, 1000);
    EXPECT_EQ(viewer->controls.lowText, "12.5");  // left as typed
    EXPECT_EQ(viewer->controls.lowBar.position(), viewer->positionOf(12.5));
    EXPECT_EQ(busyCount, 1);
    EXPECT_FALSE(viewer->controls.redrawTimer.enabled);
}

TEST_F(Thresholds, LettersInMaxEditStopAfterMinAndBarsStillWork) {
    ShowImage(16, 4, 4, [](int r, int c) { return r * 100 + c; });
    busyCount = 0;
    const double high = viewer->levels.high;
    viewer->controls.lowText = "7";
    viewer->controls.highText = "abc";
    try {
        viewer->applyThresholdEdits();
        FAIL() << "no error";
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
    }
    EXPECT_EQ(viewer->levels.low, 7);
    EXPECT_EQ(viewer->controls.lowBar.position(), viewer->positionOf(7));
    EXPECT_EQ(viewer->levels.high, high);
    EXPECT_EQ(busyCount, 0);
    EXPECT_FALSE(viewer->levels.settingScrollBars);
    viewer->controls.highBar.setPosition(viewer->controls.highBar.position() - 5);
    EXPECT_NE(viewer->levels.high, high);
}

TEST_F(Thresholds, NothingHappensBeforeAnImageIsLoaded) {
    viewer->setThresholdMode(kModeData);
    EXPECT_EQ(viewer->levels.mode, kModeData);
    EXPECT_EQ(viewer->controls.lowBar.position(), 0);
    viewer->controls.lowText = "x";
    EXPECT_NO_THROW(viewer->applyThresholdEdits());
    viewer->redrawTimerExpired();
    EXPECT_EQ(busyCount, 0);
}

// zscale against the limits astropy's ZScaleInterval gives for the same plane (computed once
// with astropy 5.2, the plane handed over in the file's order, bottom row first): a noisy
// sky with dark and bright outliers, then the same with every seventh pixel BLANK (NaN for
// astropy), which must be left out rather than counted as 0.
TEST_F(Thresholds, ZscaleMatchesAstropyAndSkipsBlankPixels) {
    constexpr int rows = 60, cols = 70;
    auto sky = [](int r, int c) {
        const long long k = static_cast<long long>(r) * cols + c;
        long long s = 0;
        for (long long i = 0; i < 4; ++i)
            s += ((k * 2654435761LL + i * 40503) >> 7) % 101;
        long long v = 800 + s;
        if (k % 29 == 5) v = 100 + k % 50;
        if (k % 31 == 7) v += 9000;
        return static_cast<double>(v);
    };
    viewer->setThresholdMode(kModeZscale);
    ShowImage(16, rows, cols, sky);
    EXPECT_NEAR(viewer->levels.low, 571.5255610095494, 1e-6);
    EXPECT_NEAR(viewer->levels.high, 1428.046574165092, 1e-6);
    EXPECT_EQ(viewer->controls.lowText, "571.526");
    EXPECT_EQ(viewer->controls.lowBar.position(), viewer->positionOf(viewer->levels.low));

    viewer->image.zeroMayBeBlank = true;
    ShowImage(16, rows, cols,
              [&](int r, int c) { return (r * cols + c) % 7 == 3 ? 0 : sky(r, c); });
    EXPECT_NEAR(viewer->levels.low, 572.659830208792, 1e-6);
    EXPECT_NEAR(viewer->levels.high, 1429.9145081634442, 1e-6);

    // Too few samples left after the rejection (a plane of 3 pixels): the samples' range;
    // no defined pixel at all: the data range.
    std::vector<double> low = {7, 1, 4};
    double lo = 0, hi = 0;
    EXPECT_TRUE(ZscaleOfSamples(low, lo, hi));
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 7);
    EXPECT_FALSE(ZscaleOfSamples({}, lo, hi));
    ShowImage(16, 2, 2, [](int, int) { return 0; });
    EXPECT_EQ(viewer->levels.low, 0);
    EXPECT_EQ(viewer->levels.high, 1);
}

// "fixe" keeps the thresholds in force for the next image, and its bars show them on that
// image's scale; values too long for the edit keep their leading digits.
TEST_F(Thresholds, FixedModeBarsFollowTheirEditsAndLongValuesStayReadable) {
    ShowImage(16, 4, 4, [](int r, int c) { return r * 100 + c; });
    viewer->setThresholdMode(kModeFixed);
    viewer->controls.lowText = "20";
    viewer->controls.highText = "250";
    viewer->applyThresholdEdits();
    ShowImage(32, 4, 4, [](int r, int c) { return r * 100000 + c; });
    EXPECT_EQ(viewer->levels.low, 20);
    EXPECT_EQ(viewer->controls.lowText, "20.000");
    EXPECT_EQ(viewer->controls.lowBar.position(), viewer->positionOf(20));
    EXPECT_EQ(viewer->controls.highBar.position(), viewer->positionOf(250));

    EXPECT_EQ(Viewer::ThresholdText(3e9, 3), "3000000000");
    EXPECT_EQ(Viewer::ThresholdText(-1234567.5, 3), "-1234567.500");
    EXPECT_EQ(Viewer::ThresholdText(-12345678901.5, 3), "-1.234568E10");
    EXPECT_EQ(Viewer::ThresholdText(1e300, 1), "1E300");
}
