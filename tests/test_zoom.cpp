// Rectangle zoom on the preview, the two zoom buttons and the pixel readout.
#include "ViewerFixture.h"

using namespace pelorin;
using pelorin::test::ViewerTest;

class Zoom : public ViewerTest {
  protected:
    // A 320 x 240 image (preview 320 wide: one preview pixel per image pixel).
    void SetUp() override {
        ViewerTest::SetUp();
        ShowImage(16, 240, 320, [](int r, int c) { return r * 10 + c % 10; });
    }
    void Drag(int x0, int y0, int x1, int y1) {
        viewer->previewMouseDown(kLeftButton, x0, y0);
        viewer->previewMouseMove(kLeftButton, x1, y1);
    }
};

TEST_F(Zoom, BandThenClickInsideZooms) {
    ASSERT_EQ(viewer->controls.previewWidth, 320);
    Drag(10, 10, 100, 80);
    EXPECT_TRUE(viewer->band.shown);
    viewer->previewMouseDown(kLeftButton, 50, 50);
    EXPECT_FALSE(viewer->band.shown);
    const ZoomWindow& z = viewer->zoom;
    EXPECT_EQ(z.colStart, 10);
    EXPECT_EQ(z.colEnd, 100);
    EXPECT_EQ(z.rowStart, 10);
    EXPECT_EQ(z.rowEnd, 80);
    EXPECT_EQ(z.cols, 90);
    EXPECT_EQ(z.rows, 70);
    EXPECT_EQ(z.prevColEnd, 320);
    EXPECT_EQ(viewer->controls.status, "synthetic.fit  90x70  16 bits");
    EXPECT_EQ(viewer->displayBitmap.width(), 90);
    EXPECT_EQ(viewer->controls.previewWidth, 309);  // Round(90 / 70 * 240)
    // The click is the anchor of the next band.
    EXPECT_EQ(viewer->band.left, 50);
    EXPECT_EQ(viewer->band.top, 50);

    // A second zoom inside the first keeps the first window as the history.
    Drag(1, 1, 100, 100);
    viewer->previewMouseDown(kLeftButton, 50, 50);
    EXPECT_EQ(viewer->zoom.colStart, 10);
    EXPECT_EQ(viewer->zoom.colEnd, 39);
    EXPECT_EQ(viewer->zoom.rowEnd, 39);
    EXPECT_EQ(viewer->zoom.prevColEnd, 100);
    // "Zoom 1:1" leaves the history alone; "Zoom prec." twice shows the same window.
    viewer->zoomWhole();
    EXPECT_EQ(viewer->zoom.cols, 320);
    viewer->zoomPrevious();
    EXPECT_EQ(viewer->zoom.cols, 90);
    viewer->zoomPrevious();
    EXPECT_EQ(viewer->zoom.cols, 90);
    EXPECT_EQ(viewer->zoom.rowStart, 10);
}

TEST_F(Zoom, PreviousRightAfterLoadIsTheWholeImage) {
    viewer->zoomPrevious();
    EXPECT_EQ(viewer->zoom.cols, 320);
    EXPECT_EQ(viewer->zoom.rows, 240);
}

TEST_F(Zoom, ClicksOutsideOrReversedBandsNeverZoom) {
    Drag(10, 10, 100, 80);
    viewer->previewMouseDown(kLeftButton, 5, 50);
    EXPECT_FALSE(viewer->band.shown);
    EXPECT_EQ(viewer->zoom.cols, 320);
    Drag(100, 80, 10, 10);
    viewer->previewMouseDown(kLeftButton, 50, 50);
    EXPECT_EQ(viewer->zoom.cols, 320);
    // A click without a band only moves the anchor.
    viewer->previewMouseDown(kLeftButton, 70, 60);
    EXPECT_EQ(viewer->band.left, 70);
    EXPECT_EQ(viewer->zoom.cols, 320);
    // Moves on the first row or column neither extend the band nor read out.
    viewer->controls.readout = "before";
    viewer->previewMouseMove(kLeftButton, 0, 30);
    viewer->previewMouseMove(kLeftButton, 30, 0);
    EXPECT_FALSE(viewer->band.shown);
    EXPECT_EQ(viewer->controls.readout, "before");
    // Other buttons or modifiers do not drag a band.
    viewer->previewMouseMove(kLeftButton | kShiftKey, 90, 90);
    EXPECT_FALSE(viewer->band.shown);
}

TEST_F(Zoom, FlippedBandSelectsTheMirroredColumns) {
    viewer->toggleFlipHorizontal();
    Drag(220, 10, 310, 80);
    viewer->previewMouseDown(kLeftButton, 250, 50);
    EXPECT_EQ(viewer->zoom.colStart, 10);
    EXPECT_EQ(viewer->zoom.colEnd, 100);
    EXPECT_EQ(viewer->zoom.rowStart, 10);
}

TEST_F(Zoom, BandSmallerThanOneImagePixelIsRefused) {
    // Zoom to 2 x 2 image pixels, then a 1-pixel band that rounds to nothing.
    Drag(10, 10, 12, 12);
    viewer->previewMouseDown(kLeftButton, 11, 11);
    ASSERT_EQ(viewer->zoom.cols, 2);
    ASSERT_EQ(viewer->controls.previewWidth, 240);
    Drag(1, 1, 2, 2);
    viewer->previewMouseDown(kLeftButton, 2, 2);
    EXPECT_EQ(viewer->zoom.cols, 2);
    EXPECT_EQ(viewer->zoom.rows, 2);
}

TEST_F(Zoom, ReadoutText) {
    ShowImage(-64, 240, 320, [](int r, int c) { return (r == 7 && c == 12) ? 1523.5 : 0.25; });
    viewer->previewMouseMove(0, 12, 7);
    EXPECT_EQ(viewer->controls.readout, "X:    12   Y:     7   I: 1523.5");
    viewer->previewMouseMove(0, 13, 7);
    EXPECT_EQ(viewer->controls.readout, "X:    13   Y:     7   I: 0.25");
    viewer->toggleFlipVertical();  // flipped: preview row 232 shows image row 239 - 232
    viewer->previewMouseMove(0, 12, 232);
    EXPECT_EQ(viewer->controls.readout, "X:    12   Y:     7   I: 1523.5");
}

// The readout names the pixel drawn under the pointer: preview pixel x shows the window
// column whose extent holds its middle, floor((x + 1/2) * cols / W), whatever the zoom, the
// flips and the preview's fitted size.
TEST_F(Zoom, ReadoutNamesThePixelDrawnUnderThePointer) {
    struct Case {
        int rows, cols, previewWidth, previewHeight, x, y;
        const char* readout;
    };
    for (const Case& t : {Case{50, 100, 320, 160, 160, 80, "X:    50   Y:    25   I: 250050"},
                          Case{100, 50, 120, 240, 60, 120, "X:    25   Y:    50   I: 500025"},
                          Case{100, 4000, 320, 48, 160, 24, "X:  2006   Y:    51   I: 512006"},
                          Case{100, 100, 240, 240, 138, 138, "X:    57   Y:    57   I: 570057"},
                          Case{600, 600, 240, 240, 11, 77, "X:    28   Y:   193   I: 1930028"}}) {
        ShowImage(32, t.rows, t.cols, [](int r, int c) { return r * 10000 + c; });
        ASSERT_EQ(viewer->controls.previewWidth, t.previewWidth) << t.cols << " x " << t.rows;
        ASSERT_EQ(viewer->controls.previewHeight, t.previewHeight) << t.cols << " x " << t.rows;
        viewer->previewMouseMove(0, t.x, t.y);
        EXPECT_EQ(viewer->controls.readout, t.readout) << t.cols << " x " << t.rows;
    }

    // Zoomed on 2 x 2 pixels, each drawn 120 preview pixels wide: the readout changes pixel
    // where the drawing does, flipped or not.
    ShowImage(32, 240, 320, [](int r, int c) { return r * 1000 + c; });
    Drag(10, 20, 12, 22);
    viewer->previewMouseDown(kLeftButton, 11, 21);
    ASSERT_EQ(viewer->zoom.cols, 2);
    ASSERT_EQ(viewer->controls.previewWidth, 240);
    auto column = [this](int x) {
        viewer->previewMouseMove(0, x, 100);
        return viewer->controls.readout.substr(0, 8);
    };
    EXPECT_EQ(column(1), "X:    10");
    EXPECT_EQ(column(119), "X:    10");
    EXPECT_EQ(column(120), "X:    11");
    EXPECT_EQ(column(239), "X:    11");
    viewer->toggleFlipHorizontal();
    EXPECT_EQ(column(119), "X:    11");
    EXPECT_EQ(column(120), "X:    10");
}

TEST_F(Zoom, ReadoutUsesPhysicalValue) {
    ShowImage(
        16, 240, 320, [](int, int) { return -32768; }, 2, 32768);
    viewer->previewMouseMove(0, 5, 5);
    EXPECT_EQ(viewer->controls.readout, "X:     5   Y:     5   I: -32768");
}

// A window wider than the box is read and zoomed through the preview's own width and height.
TEST_F(Zoom, WideWindowMapsThroughThePreviewsOwnSides) {
    ShowImage(32, 200, 400, [](int r, int c) { return r * 1000 + c; });
    viewer->zoomWhole();
    ASSERT_EQ(viewer->controls.previewWidth, 320);
    ASSERT_EQ(viewer->controls.previewHeight, 160);
    viewer->previewMouseMove(0, 318, 2);  // 318.5 * 400 / 320 = 398.1; 2.5 * 200 / 160 = 3.1
    EXPECT_EQ(viewer->controls.readout, "X:   398   Y:     3   I: 3398");
    viewer->previewMouseMove(0, 10, 170);  // below the preview
    EXPECT_EQ(viewer->controls.readout, "X:   398   Y:     3   I: 3398");
    Drag(160, 80, 319, 159);
    viewer->previewMouseDown(kLeftButton, 200, 100);
    const ZoomWindow& z = viewer->zoom;
    EXPECT_EQ(z.colStart, 200);
    EXPECT_EQ(z.colEnd, 399);  // 319 * 400 / 320 = 398.75
    EXPECT_EQ(z.rowStart, 100);
    EXPECT_EQ(z.rowEnd, 199);  // 159 * 200 / 160 = 198.75
}

// The windows of the wheel, the keys and panning: the point under the pointer stays, the
// window stays inside the image, and it never shrinks below one pixel nor grows past the image.
TEST(ZoomNavigation, WindowsKeepThePointAndStayInsideTheImage) {
    const ZoomRect whole{0, 320, 0, 240};
    EXPECT_EQ(ZoomAbout(whole, 160, 120, 2, 320, 240), (ZoomRect{80, 240, 60, 180}));
    EXPECT_EQ(ZoomAbout(whole, 0, 0, 2, 320, 240), (ZoomRect{0, 160, 0, 120}));
    EXPECT_EQ(ZoomAbout({80, 240, 60, 180}, 100, 100, 0.25, 320, 240), whole);
    EXPECT_EQ(ZoomAbout({10, 11, 10, 11}, 10.5, 10.5, 2, 320, 240), (ZoomRect{10, 11, 10, 11}));
    EXPECT_EQ(PanBy({80, 240, 60, 180}, -100, 10, 320, 240), (ZoomRect{0, 160, 70, 190}));
    EXPECT_EQ(PanBy({80, 240, 60, 180}, 1000, 1000, 320, 240), (ZoomRect{160, 320, 120, 240}));
}

TEST_F(Zoom, WheelPanAndKeysMakeOneHistoryStepAndFollowTheFlips) {
    const ZoomWindow& z = viewer->zoom;
    auto window = [&] { return std::vector<int>{z.colStart, z.colEnd, z.rowStart, z.rowEnd}; };
    viewer->previewWheel(2, 80, 60);  // twice the square root of two: half the sides
    EXPECT_EQ(window(), (std::vector<int>{40, 200, 30, 150}));
    EXPECT_EQ(viewer->controls.status, "synthetic.fit  160x120  16 bits");
    viewer->previewWheel(1, 80, 60);
    EXPECT_EQ(z.cols, 113);
    EXPECT_EQ(z.rows, 85);
    const int colStart = z.colStart;
    viewer->previewPanStart(100, 100);
    viewer->previewPanMove(140, 100);  // 40 of 319 preview columns: 14 image columns
    EXPECT_EQ(z.colStart, colStart - 14);
    EXPECT_EQ(z.cols, 113);
    // "Zoom prec." goes back to the window before the series.
    viewer->zoomPrevious();
    EXPECT_EQ(window(), (std::vector<int>{0, 320, 0, 240}));

    // Mirrored: the pointer at the preview's left edge is the image's right edge, and a drag
    // to the left shows columns further left.
    viewer->toggleFlipHorizontal();
    viewer->previewWheel(2, 0, 0);
    EXPECT_EQ(window(), (std::vector<int>{160, 320, 0, 120}));
    viewer->previewPanStart(100, 100);
    viewer->previewPanMove(90, 100);
    EXPECT_EQ(z.colStart, 155);
    viewer->previewKey('+');
    EXPECT_EQ(z.cols, 113);
    viewer->previewKey('0');
    EXPECT_EQ(window(), (std::vector<int>{0, 320, 0, 240}));

    // A larger box: the preview follows it, and so does the readout.
    viewer->setPreviewBox(640, 480);
    EXPECT_EQ(viewer->controls.previewWidth, 640);
    EXPECT_EQ(viewer->controls.previewHeight, 480);
    // Drawn 2 x 2 and still mirrored: preview column 321 shows image column 319 - 160.
    viewer->previewMouseMove(0, 321, 241);
    EXPECT_EQ(viewer->controls.readout, "X:   159   Y:   120   I: 1209");
}
