// Ordinary pictures: shown in their own colours, or turned into 8-bit pixel data.
#include "ViewerFixture.h"
#include "base/Errors.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

// Stands in for the outside decoder: every picture decodes to the same 24-bit bitmap.
class FakeDecoder : public PictureDecoder {
  public:
    explicit FakeDecoder(Bitmap b) : bitmap_(std::move(b)) {}
    bool decode(const std::string&, Bitmap& out) override {
        ++calls;
        out = bitmap_;
        return true;
    }
    Header pictureHeader(const std::string&) override {
        return Header{claimedSide > 0, claimedSide, claimedSide, beyondLimits};
    }
    int calls = 0;
    std::uint64_t claimedSide = 0;  // what the header announces; 0: cannot tell
    bool beyondLimits = false;

  private:
    Bitmap bitmap_;
};

Bitmap OnePixel(int bpp, std::initializer_list<std::uint8_t> bytes) {
    Bitmap b;
    b.create(2, 1, bpp);
    std::size_t i = 0;
    for (std::uint8_t v : bytes)
        b.row(0)[i++] = v;
    // Second pixel: same bytes again.
    for (std::uint8_t v : bytes)
        b.row(0)[i++] = v;
    return b;
}

}  // namespace

using Pictures = ViewerTest;

TEST_F(Pictures, TwentyFourBitPlanes) {
    Bitmap b;
    b.create(1, 1, 24);
    b.row(0)[0] = 30;  // blue
    b.row(0)[1] = 20;  // green
    b.row(0)[2] = 11;  // red
    b.saveBmpFile(dir.file("c.bmp"));
    const std::pair<const char*, int> cases[] = {{"0", 20}, {"1", 11}, {"2", 20},
                                                 {"3", 30}, {"7", 30}, {"-2", 20}};
    for (const auto& [plane, value] : cases) {
        viewer->controls.planeText = plane;
        Click("c.bmp");
        EXPECT_EQ(viewer->image.pixels8[0][0], value) << plane;
        EXPECT_EQ(viewer->controls.planeCount, "/3");
    }
    EXPECT_EQ(viewer->controls.planeText, "0");  // -2 limited to 0 and written back
    EXPECT_EQ(viewer->image.bitpix, 8);
    EXPECT_EQ(viewer->image.headerHigh, 255);
    EXPECT_EQ(viewer->controls.status, "c.bmp  1x1  8 bits");
}

TEST_F(Pictures, EightFifteenAndThirtyTwoBitConversions) {
    Bitmap pal;
    pal.create(2, 1, 8);
    std::vector<RgbColour> colours(256, RgbColour{200, 10, 10});
    pal.setPalette(colours);
    pal.row(0)[0] = 3;
    pal.row(0)[1] = 250;
    pal.saveBmpFile(dir.file("p8.bmp"));
    Click("p8.bmp");
    // Palette indices, not the colours' brightness.
    EXPECT_EQ(viewer->image.pixels8[0][0], 3);
    EXPECT_EQ(viewer->image.pixels8[0][1], 250);
    EXPECT_EQ(viewer->image.dataMax, 250);

    OnePixel(15, {0x1F, 0x7C}).saveBmpFile(dir.file("p15.bmp"));
    Click("p15.bmp");
    EXPECT_EQ(viewer->image.pixels8[0][0], 77);
    EXPECT_EQ(viewer->image.sigma, 0);
    EXPECT_EQ(viewer->image.mean, 77);

    OnePixel(32, {10, 20, 30, 255}).saveBmpFile(dir.file("p32.bmp"));
    Click("p32.bmp");
    EXPECT_EQ(viewer->image.pixels8[0][1], 78);
}

TEST_F(Pictures, OneAndFourBitPicturesInBothModes) {
    for (int bpp : {1, 4}) {
        Bitmap b;
        b.create(8, 2, bpp);
        std::vector<RgbColour> colours(static_cast<std::size_t>(1 << bpp),
                                       RgbColour{255, 255, 255});
        b.setPalette(colours);
        const std::string name = "low" + std::to_string(bpp) + ".bmp";
        b.saveBmpFile(dir.file(name));
        viewer->controls.pictureColours = PictureColours::Adjustable;
        Click(name);
        EXPECT_EQ(viewer->controls.status, "Format non supporté.") << bpp;
        EXPECT_FALSE(viewer->image.loaded);
        viewer->controls.pictureColours = PictureColours::Own;
        Click(name);
        EXPECT_EQ(viewer->controls.status, name + "  8x2  " + std::to_string(bpp) + " bits");
        EXPECT_TRUE(viewer->image.loaded);
        EXPECT_TRUE(viewer->image.pictureShown);
        EXPECT_EQ(viewer->image.bitpix, bpp);
        EXPECT_FALSE(viewer->controls.displayControlsEnabled);
        EXPECT_EQ(viewer->displayBitmap.bitsPerPixel(), bpp);
        EXPECT_EQ(viewer->controls.previewWidth, 320);
        EXPECT_EQ(viewer->controls.previewHeight, 80);
    }
    // Nothing that needs pixel data reacts to a picture shown in its own colours.
    const Bitmap shown = viewer->displayBitmap;
    viewer->toggleFlipHorizontal();
    viewer->zoomWhole();
    viewer->previewMouseMove(kLeftButton, 5, 5);
    viewer->redrawTimerExpired();
    EXPECT_EQ(viewer->displayBitmap, shown);
    EXPECT_FALSE(viewer->band.shown);
}

TEST_F(Pictures, OtherFormatsNeedTheDecoder) {
    WriteFile(dir.file("m31.jpg"), std::string("\xFF\xD8 not really"));
    Click("m31.jpg");
    EXPECT_FALSE(viewer->decoderAvailable());
    EXPECT_EQ(viewer->controls.status, "Format non supporté.");

    Bitmap decoded;
    decoded.create(4, 3, 24);
    auto fake = std::make_unique<FakeDecoder>(decoded);
    FakeDecoder* f = fake.get();
    viewer = std::make_unique<Viewer>(dir.path().string(), std::move(fake));
    viewer->paletteFallbacks.clear();
    viewer->startUp();
    Click("m31.jpg");
    EXPECT_EQ(f->calls, 1);
    EXPECT_EQ(viewer->controls.status, "m31.jpg  4x3  8 bits");
    EXPECT_EQ(viewer->controls.planeCount, "/3");
    viewer->controls.pictureColours = PictureColours::Own;
    Click("m31.jpg");
    EXPECT_EQ(viewer->controls.status, "m31.jpg  4x3  24 bits");
    EXPECT_EQ(viewer->colourBarBitmap.row(0)[128], 0);

    // A picture whose header claims too much for its file is refused before decoding.
    f->claimedSide = 4096;
    Click("m31.jpg");
    EXPECT_EQ(f->calls, 2);
    EXPECT_EQ(viewer->controls.status,
              "Format non supporté.Image trop grande pour son fichier : 4096 x 4096 pixels pour 13 "
              "octets.");
    f->beyondLimits = true;
    Click("m31.jpg");
    EXPECT_EQ(viewer->controls.status,
              "Format non supporté.Image trop grande : plus de 67108864 pixels.");
    EXPECT_EQ(f->calls, 2);
}

TEST_F(Pictures, InvalidBmpRaisesAndClears) {
    WriteFile(dir.file("bad.bmp"), std::string("BMxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"));
    EXPECT_THROW(Click("bad.bmp"), OperationError);
    EXPECT_FALSE(viewer->image.loaded);
}
