// The full-size view's magnification, its captions and sizes, and the placement of the
// main window at the mouse pointer.
#include <gtest/gtest.h>

#include "viewer/WindowGeometry.h"

namespace pelorin {
namespace {

TEST(ViewerZoom, FactorTextIsGeneralFormatOfEachLevel) {
    const char* expected[] = {"0.125", "0.25", "0.5", "1", "2", "4", "8"};
    for (int level = kViewerMinZoomLevel; level <= kViewerMaxZoomLevel; ++level)
        EXPECT_EQ(ZoomFactorText(level), expected[level - kViewerMinZoomLevel]) << level;
}

TEST(ViewerZoom, CaptionsAppendTheirPartToTheBase) {
    EXPECT_EQ(ViewerZoomCaption("m42.fit  512x512  16 bits", 3),
              "m42.fit  512x512  16 bits  Zoom x8");
    EXPECT_EQ(ViewerZoomCaption("", -3), "  Zoom x0.125");
    // The hint follows the base caption without a blank.
    EXPECT_EQ(ViewerShownCaption("Taille réelle"), "Taille réelleZoom +/-");
}

TEST(ViewerZoom, PlusFourTimesStopsAtEightThenMinusSixTimesAtOneEighth) {
    ViewerZoomState s = InitialViewerZoom(100, 80);
    EXPECT_EQ(s.level, 0);
    EXPECT_EQ(s.pictureWidth, 100);
    EXPECT_EQ(s.pictureHeight, 80);
    int changes = 0;
    for (int i = 0; i < 4; ++i)
        changes += ApplyViewerZoomKey(s, '+', 100, 80);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(s.level, 3);
    EXPECT_EQ(s.pictureWidth, 800);
    EXPECT_EQ(s.pictureHeight, 640);
    EXPECT_EQ(ViewerZoomCaption("x", s.level), "x  Zoom x8");

    changes = 0;
    for (int i = 0; i < 6; ++i)
        changes += ApplyViewerZoomKey(s, '-', 100, 80);
    EXPECT_EQ(changes, 6);
    EXPECT_EQ(s.level, -3);
    EXPECT_EQ(s.pictureWidth, 12);  // 100 / 8 cut toward zero
    EXPECT_EQ(s.pictureHeight, 10);
    EXPECT_FALSE(ApplyViewerZoomKey(s, '-', 100, 80));
    EXPECT_EQ(s.level, -3);
    EXPECT_EQ(ViewerZoomCaption("x", s.level), "x  Zoom x0.125");
}

TEST(ViewerZoom, OtherKeysChangeNothing) {
    ViewerZoomState s = InitialViewerZoom(10, 10);
    s.scrollX = 7;
    for (char key : {'a', '=', '_', '\x1b', '\0'}) {
        EXPECT_FALSE(ApplyViewerZoomKey(s, key, 10, 10));
        EXPECT_EQ(s.level, 0);
        EXPECT_EQ(s.pictureWidth, 10);
        EXPECT_EQ(s.scrollX, 7);
    }
}

TEST(ViewerZoom, ScrollPositionsDoubleAndHalveTowardZero) {
    ViewerZoomState s = InitialViewerZoom(1000, 1000);
    s.scrollX = 101;
    s.scrollY = 33;
    ASSERT_TRUE(ApplyViewerZoomKey(s, '+', 1000, 1000));
    EXPECT_EQ(s.scrollX, 202);
    EXPECT_EQ(s.scrollY, 66);
    ASSERT_TRUE(ApplyViewerZoomKey(s, '-', 1000, 1000));
    ASSERT_TRUE(ApplyViewerZoomKey(s, '-', 1000, 1000));
    EXPECT_EQ(s.scrollX, 50);
    EXPECT_EQ(s.scrollY, 16);
}

TEST(ViewerZoom, OddSidesComeBackToTheirOwnSizeAtLevelZero) {
    // Halving 101 gives 50; doubling that again must not leave the picture at 100.
    ViewerZoomState s = InitialViewerZoom(101, 7);
    ASSERT_TRUE(ApplyViewerZoomKey(s, '-', 101, 7));
    EXPECT_EQ(s.pictureWidth, 50);
    EXPECT_EQ(s.pictureHeight, 3);
    ASSERT_TRUE(ApplyViewerZoomKey(s, '+', 101, 7));
    EXPECT_EQ(s.pictureWidth, 101);
    EXPECT_EQ(s.pictureHeight, 7);
}

TEST(ViewerZoom, TinyPicturesNeverShrinkToNothing) {
    EXPECT_EQ(ZoomedSide(5, -3), 1);
    EXPECT_EQ(ZoomedSide(1, -1), 1);
    EXPECT_EQ(ZoomedSide(1, 3), 8);
    EXPECT_EQ(ZoomedSide(0, 2), 0);  // an empty bitmap stays empty
    ViewerZoomState s = InitialViewerZoom(5, 5);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ApplyViewerZoomKey(s, '-', 5, 5));
    EXPECT_EQ(s.pictureWidth, 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ApplyViewerZoomKey(s, '+', 5, 5));
    EXPECT_EQ(s.pictureWidth, 5);
}

TEST(ViewerZoom, LargestZoomOfTheLargestBitmapFitsAnInt) {
    EXPECT_EQ(ZoomedSide(4000, 3), 32000);
    EXPECT_EQ(ZoomedSide(4000, 99), 32000);  // levels out of range are clamped
    EXPECT_EQ(ZoomedSide(4000, -99), 500);
}

TEST(ViewerZoom, WheelStepsBySquareRootOfTwoAboutThePointer) {
    ViewerZoomState s = InitialViewerZoom(100, 80);
    ASSERT_TRUE(ApplyViewerWheel(s, 2, 10, 20, 100, 80));
    EXPECT_EQ(s.level, 1);
    EXPECT_EQ(s.pictureWidth, 200);
    EXPECT_EQ(s.scrollX, 10);  // the picture point at 10 is now at 20, scrolled by 10
    EXPECT_EQ(s.scrollY, 20);
    ASSERT_TRUE(ApplyViewerWheel(s, 1, 0, 0, 100, 80));
    EXPECT_EQ(s.pictureWidth, 283);
    EXPECT_EQ(ViewerScaleCaption("m42.fit", s.scale), "m42.fit  Zoom x2.83");
    EXPECT_TRUE(ApplyViewerWheel(s, 10, 0, 0, 100, 80));
    EXPECT_EQ(s.scale, 8);
    EXPECT_FALSE(ApplyViewerWheel(s, 1, 0, 0, 100, 80));
    // The keys go on from the level the wheel reached.
    ASSERT_TRUE(ApplyViewerZoomKey(s, '-', 100, 80));
    EXPECT_EQ(s.scale, 4);
    EXPECT_EQ(s.pictureWidth, 400);
}

TEST(FullSizeWindow, BitmapPlusFrameButNeverBeyondTheScreen) {
    EXPECT_EQ(FullSizeWindowSize(2000, 1500, 1024, 768), (WindowSize{1024, 768}));
    EXPECT_EQ(FullSizeWindowSize(100, 80, 1024, 768), (WindowSize{120, 120}));
    EXPECT_EQ(FullSizeWindowSize(1004, 700, 1024, 768), (WindowSize{1024, 740}));
    EXPECT_EQ(FullSizeWindowSize(1005, 729, 1024, 768), (WindowSize{1024, 768}));
    EXPECT_EQ(FullSizeWindowSize(1, 1, 1024, 768), (WindowSize{21, 41}));
}

TEST(FullSizeWindow, AThinPictureStillLeavesRoomForTheCaption) {
    EXPECT_EQ(FullSizeClientSize(50, 2000, 1920, 1080, 10, 30, 400), (WindowSize{400, 1050}));
    EXPECT_EQ(FullSizeClientSize(50, 2000, 300, 1080, 10, 30, 400), (WindowSize{290, 1050}));
}

TEST(FullSizeWindow, ClientAreaLeavesRoomForTheFrameAndNeverHidesASmallPicture) {
    // A frame of 10 x 30 is taken off the window's +20 / +40.
    EXPECT_EQ(FullSizeClientSize(100, 80, 1280, 1024, 10, 30), (WindowSize{110, 90}));
    EXPECT_EQ(FullSizeClientSize(2000, 1500, 1280, 1024, 10, 30), (WindowSize{1270, 994}));
    // 16 x 8 opens with room around it, not at a size the window system would have to widen.
    EXPECT_EQ(FullSizeClientSize(16, 8, 1280, 1024, 0, 0),
              (WindowSize{kFullSizeMinClientWidth, kFullSizeMinClientHeight}));
}

TEST(WindowPlacement, AtThePointerWhenTheWindowFits) {
    const ScreenRect screen{0, 0, 1280, 1024};
    EXPECT_EQ(PlaceWindowAtPointer({100, 200}, {663, 490}, screen), (WindowPoint{100, 200}));
    EXPECT_EQ(PlaceWindowAtPointer({0, 0}, {663, 490}, screen), (WindowPoint{0, 0}));
    // Exactly touching the right and bottom edges is still inside.
    EXPECT_EQ(PlaceWindowAtPointer({617, 534}, {663, 490}, screen), (WindowPoint{617, 534}));
}

TEST(WindowPlacement, PointerAtTheBottomRightCornerTouchesBothEdges) {
    const ScreenRect screen{0, 0, 1280, 1024};
    EXPECT_EQ(PlaceWindowAtPointer({1279, 1023}, {663, 490}, screen), (WindowPoint{617, 534}));
    EXPECT_EQ(PlaceWindowAtPointer({618, 100}, {663, 490}, screen), (WindowPoint{617, 100}));
    EXPECT_EQ(PlaceWindowAtPointer({100, 535}, {663, 490}, screen), (WindowPoint{100, 534}));
}

TEST(WindowPlacement, WindowLargerThanTheScreenStartsAtItsTopLeft) {
    const ScreenRect screen{0, 0, 640, 480};
    EXPECT_EQ(PlaceWindowAtPointer({300, 300}, {663, 490}, screen), (WindowPoint{0, 0}));
    EXPECT_EQ(PlaceWindowAtPointer({-50, -10}, {100, 100}, screen), (WindowPoint{0, 0}));
}

TEST(WindowPlacement, KeptOnAScreenThatDoesNotStartAtTheOrigin) {
    // A second monitor to the right of a 1280-wide first one.
    const ScreenRect screen{1280, 0, 1024, 768};
    EXPECT_EQ(PlaceWindowAtPointer({2300, 760}, {663, 490}, screen), (WindowPoint{1641, 278}));
    EXPECT_EQ(PlaceWindowAtPointer({1300, 10}, {663, 490}, screen), (WindowPoint{1300, 10}));
    const ScreenRect above{0, -768, 1024, 768};
    EXPECT_EQ(PlaceWindowAtPointer({10, -5}, {663, 490}, above), (WindowPoint{10, -490}));
}

}  // namespace
}  // namespace pelorin
