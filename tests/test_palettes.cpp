// Palette (LUT) and intensity (ITT) files: listing, reading rules, defaults and errors.
#include <filesystem>

#include "ViewerFixture.h"
#include "base/Errors.h"

using namespace pelorin;
using pelorin::test::TempDir;
using pelorin::test::WriteFile;

namespace {

std::string Lines(int count, const std::string& line) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += line + "\r\n";
    return s;
}

// A viewer whose palettes folder holds the given files.
std::unique_ptr<Viewer> ViewerWith(const TempDir& dir,
                                   const std::vector<std::pair<std::string, std::string>>& files) {
    std::filesystem::create_directories(dir.path() / "palettes");
    for (const auto& [name, text] : files)
        WriteFile((dir.path() / "palettes" / name).string(), text);
    auto v = std::make_unique<Viewer>(dir.path().string());
    v->paletteFallbacks.clear();
    v->startUp();
    return v;
}

}  // namespace

TEST(PaletteLists, NamesCutAtFirstDotLowerCasedSortedOnce) {
    TempDir dir;
    auto v = ViewerWith(dir, {{"Heat.LUT", "1\n"},
                              {"My.Pal.lut", "1\n"},
                              {"ramp.lut", "1\n"},
                              {"RAMP.lut", "1\n"},
                              {"aaa.lut", "1\n"},
                              {"4_ramp.itt", "1\n"},
                              {"Log.itt", "1\n"},
                              {"notes.txt", ""},
                              {".hidden.lut", "1\n"}});
    EXPECT_EQ(v->controls.lutList.items, (std::vector<std::string>{"aaa", "heat", "my", "ramp"}));
    EXPECT_EQ(v->controls.lutList.text, "ramp");
    EXPECT_EQ(v->controls.ittList.items, (std::vector<std::string>{"4_ramp", "log"}));
    EXPECT_EQ(v->controls.ittList.text, "4_ramp");
    EXPECT_EQ(v->controls.filterList.text, "None");
}

TEST(PaletteLists, FirstNameWhenNoRampAndEmptyWithoutFolder) {
    TempDir dir;
    auto v = ViewerWith(dir, {{"zeta.lut", "1\n"}, {"beta.lut", "1\n"}, {"neg.itt", "1\n"}});
    EXPECT_EQ(v->controls.lutList.text, "beta");
    EXPECT_EQ(v->controls.ittList.text, "neg");

    TempDir empty;
    Viewer none(empty.path().string());
    none.paletteFallbacks.clear();
    none.startUp();
    EXPECT_TRUE(none.controls.lutList.items.empty());
    EXPECT_EQ(none.controls.lutList.index, -1);
    EXPECT_EQ(none.itt[0], 1);
    EXPECT_EQ(none.itt[1], 1);
    EXPECT_EQ(none.itt[200], 200);
    EXPECT_EQ(none.lut[77].green, 77);
}

TEST(PaletteLists, InstalledPalettesWhenWorkingFolderHasNone) {
    TempDir work, installed;
    WriteFile((installed.path() / "heat.lut").string(), Lines(255, "1 0 0"));
    Viewer v(work.path().string());
    v.paletteFallbacks = {installed.path().string()};
    v.startUp();
    EXPECT_EQ(v.controls.lutList.items, (std::vector<std::string>{"heat"}));
    EXPECT_EQ(v.lut[9].red, 255);
    EXPECT_EQ(v.lut[9].green, 0);
}

TEST(PaletteFiles, LutEntriesFromLinesWithBlackEntryZero) {
    TempDir dir;
    auto v = ViewerWith(dir, {{"ramp.lut", "1 0 0\n" + Lines(99, "0 1 0")}});
    LutTable t = v->buildLutPalette();
    EXPECT_EQ(t[0].red, 0);
    EXPECT_EQ(t[1].red, 255);
    EXPECT_EQ(t[1].green, 0);
    EXPECT_EQ(t[100].green, 255);
    // Missing lines are black.
    EXPECT_EQ(t[101].green, 0);
    EXPECT_EQ(t[255].red, 0);
    EXPECT_EQ(t[50].flags, 1);
}

TEST(PaletteFiles, RoundingWrappingAndNumbersAcrossLines) {
    TempDir dir;
    // Entry 1 spread over two lines, then the rest of entry 2's line (extra numbers) skipped.
    auto v = ViewerWith(dir, {{"ramp.lut", "0.5\n 1.2 -0.1\n0 0 1 9 9\n2.55e-1 .5 1"}});
    LutTable t = v->buildLutPalette();
    EXPECT_EQ(t[1].red, 128);   // 127.5 to even
    EXPECT_EQ(t[1].green, 50);  // 306 wraps
    EXPECT_EQ(t[1].blue, 230);  // -25.5 -> -26 wraps
    EXPECT_EQ(t[2].blue, 255);
    EXPECT_EQ(t[3].red, 65);  // 65.025
    EXPECT_EQ(t[3].green, 128);
}

TEST(PaletteFiles, IttAllHalfMapsEveryLevelTo128) {
    TempDir dir;
    auto v = ViewerWith(dir, {{"4_ramp.itt", Lines(255, "0.5")}});
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(v->itt[static_cast<std::size_t>(i)], 128) << i;
    // The colour bar is then one flat colour, palette entry 128.
    v->buildColourBar();
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(v->colourBarBitmap.pixelColour(x, 0), v->colourBarBitmap.pixelColour(0, 0));
    EXPECT_EQ(v->colourBarBitmap.row(0)[0], 128);
}

TEST(PaletteFiles, MyPalIsListedAsMyButNotFoundAsMyLut) {
    TempDir dir;
    auto v = ViewerWith(dir, {{"My.Pal.lut", Lines(255, "1 0 0")}});
    ASSERT_EQ(v->controls.lutList.text, "my");
    LutTable t = v->buildLutPalette();
    EXPECT_EQ(t[40].red, 40);
    EXPECT_EQ(t[40].green, 40);
}

TEST(PaletteFiles, CapitalisedFileIsFound) {
    TempDir dir;
    auto v = ViewerWith(dir, {{"Heat.LUT", Lines(255, "0 0 1")}});
    LutTable t = v->buildLutPalette();
    EXPECT_EQ(t[40].blue, 255);
    EXPECT_EQ(t[40].red, 0);
}

TEST(PaletteFiles, DecimalCommasFailWithInvalidNumericInput) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "palettes");
    WriteFile((dir.path() / "palettes" / "ramp.lut").string(), "0,5 0,5 0,5\n");
    Viewer v(dir.path().string());
    v.paletteFallbacks.clear();
    try {
        v.startUp();
        FAIL();
    } catch (const OperationError& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid numeric input (" +
                                             (dir.path() / "palettes" / "ramp.lut").string() +
                                             ", ligne 1)");
    }
    // The window still starts in its empty state, with the grey ramp.
    EXPECT_TRUE(v.controls.thresholdModeEnabled);
    EXPECT_FALSE(v.controls.displayControlsEnabled);
    EXPECT_EQ(v.controls.status.rfind("Aucune table d'intensité (.itt) trouvée", 0), 0u);
    EXPECT_EQ(v.displayBitmap.width(), 1);
    EXPECT_EQ(v.lut[30].red, 30);
}

TEST(PaletteFiles, BadIttNumberKeepsEntryZeroAndTheRest) {
    TempDir dir;
    auto v = ViewerWith(dir, {{"4_ramp.itt", Lines(255, "0.5")}, {"bad.itt", "1\n1\nx\n1\n"}});
    ASSERT_EQ(v->itt[10], 128);
    EXPECT_THROW(v->selectItt(1), OperationError);
    EXPECT_EQ(v->itt[1], 255);
    EXPECT_EQ(v->itt[2], 255);
    EXPECT_EQ(v->itt[3], 128);
    EXPECT_EQ(v->itt[0], 128);
}

TEST(PaletteFiles, PickingBeforeAnyImageRedrawsNothing) {
    TempDir dir;
    auto v = ViewerWith(
        dir, {{"ramp.lut", "1\n"}, {"heat.lut", Lines(255, "1 0 0")}, {"4_ramp.itt", "1\n"}});
    int busy = 0;
    v->onBusy = [&](bool on) { busy += on; };
    v->selectLut(0);
    v->selectItt(0);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(v->controls.lutList.text, "heat");
    EXPECT_EQ(v->displayBitmap.width(), 1);
}
