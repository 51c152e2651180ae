// Loading the focused file by its extension: planes, failures, the "fixe" carry-over, the
// filter at load, and the header listing on a right click.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>

#include <filesystem>

#include "PicFiles.h"
#include "ViewerFixture.h"
#include "base/Errors.h"
#include "image/Readers.h"

using namespace pelorin;
using namespace pelorin::test;

namespace {

// Stored value number i of plane p (from 1): p * 1000 + i.
std::vector<std::uint8_t> Cube(int cols, int rows, int planes,
                               const std::vector<std::string>& extra = {}) {
    return FitsInt16(
        cols, rows, planes, [](int p, int i) { return p * 1000 + i; }, extra);
}

}  // namespace

using Load = ViewerTest;

TEST_F(Load, UpperCaseExtensionLoadsAsFits) {
    WriteFile(dir.file("image.FITS"), Cube(4, 3, 1));
    Click("image.FITS");
    EXPECT_TRUE(viewer->image.loaded);
    EXPECT_EQ(viewer->controls.status, "image.FITS  4x3  16 bits");
    EXPECT_EQ(viewer->zoom.cols, 4);
    EXPECT_EQ(viewer->zoom.prevRowEnd, 3);
    // The as-loaded copy for the filters is only made when a filter first runs.
    EXPECT_EQ(viewer->image.source16.size(), 1u);
    EXPECT_EQ(viewer->image.sourceDataMax, viewer->image.dataMax);
    EXPECT_TRUE(viewer->controls.displayControlsEnabled);
}

TEST_F(Load, PlanesFromTheLayerEdit) {
    WriteFile(dir.file("cube.fit"), Cube(3, 2, 3));
    Click("cube.fit");
    EXPECT_EQ(viewer->image.currentPlane, 1);
    EXPECT_EQ(viewer->controls.planeText, "1");
    EXPECT_EQ(viewer->controls.planeCount, "/3");
    EXPECT_EQ(viewer->image.dataMin, 1000);
    viewer->setPlaneText("2");
    EXPECT_EQ(viewer->image.dataMin, 2000);
    EXPECT_EQ(viewer->controls.planeText, "2");
    viewer->setPlaneText("9");
    EXPECT_EQ(viewer->image.currentPlane, 3);
    EXPECT_EQ(viewer->controls.planeText, "3");
    EXPECT_EQ(viewer->image.dataMin, 3000);
    // A non-number asks for plane 0, read as the first.
    viewer->setPlaneText("x");
    EXPECT_EQ(viewer->image.dataMin, 1000);
}

TEST_F(Load, UnselectedFocusClearsQuietlyAndUnknownExtensionsAreUnsupported) {
    WriteFile(dir.file("a.fit"), Cube(2, 2, 1));
    WriteFile(dir.file("x."), Cube(2, 2, 1));
    WriteFile(dir.file("x.f"), Cube(2, 2, 1));
    Focus("a.fit");
    viewer->controls.fileList.entries[static_cast<std::size_t>(viewer->controls.fileList.focused)]
        .selected = false;
    viewer->openFocusedFile();
    // The file was taken out of the selection: nothing shown, and nothing said against it.
    EXPECT_EQ(viewer->controls.status, " ");
    EXPECT_FALSE(viewer->image.loaded);
    EXPECT_FALSE(viewer->controls.displayControlsEnabled);
    // Extensions are whole: "x." and "x.f" are no FITS files.
    for (const char* name : {"x.", "x.f"}) {
        Click(name);
        EXPECT_EQ(viewer->controls.status, "Format non supporté.") << name;
    }
}

TEST_F(Load, RejectedFileBlanksDisplayAndFreezesLayerEdit) {
    WriteFile(dir.file("good.fit"), Cube(5, 4, 2));
    std::vector<std::string> cards = {Card("SIMPLE", "T"), Card("BITPIX", "24"), Card("NAXIS", "2"),
                                      Card("NAXIS1", "2"), Card("NAXIS2", "2")};
    WriteFile(dir.file("bad.fit"), FitsFile(cards, std::vector<std::uint8_t>(12, 0)));
    Click("good.fit");
    ASSERT_TRUE(viewer->image.loaded);
    Click("bad.fit");
    EXPECT_EQ(viewer->controls.status, "Format non supporté.Mot clé \"BITPIX = 24\" ?");
    EXPECT_FALSE(viewer->image.loaded);
    EXPECT_EQ(viewer->displayBitmap.width(), 1);
    EXPECT_EQ(viewer->image.pixels16.rows(), 1);
    busyCount = 0;
    viewer->setPlaneText("2");
    EXPECT_EQ(busyCount, 0);
    EXPECT_FALSE(viewer->image.loaded);
}

TEST_F(Load, ErrorDuringLoadClearsDisplayAndPropagates) {
    WriteFile(dir.file("good.fit"), Cube(5, 4, 1));
    WriteFile(dir.file("num.fit"), Cube(5, 4, 1, {Card("BZERO", "abc")}));
    Click("good.fit");
    Focus("num.fit");
    try {
        viewer->openFocusedFile();
        FAIL();
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
    }
    EXPECT_FALSE(viewer->image.loaded);
    EXPECT_EQ(viewer->image.height, 0);
    EXPECT_EQ(viewer->displayBitmap.width(), 1);
    // Nothing can read the stale window any more.
    viewer->zoomWhole();
    viewer->previewMouseMove(0, 10, 10);
    EXPECT_EQ(viewer->controls.readout, " ");
}

TEST_F(Load, NothingOfAFailedLoadReachesTheNextFile) {
    // Refused after its header set a scale, an offset and a size; then one whose header
    // number does not convert, ending its load with an error.
    WriteFile(dir.file("a.fit"),
              FitsFile({Card("SIMPLE", "T"), Card("BITPIX", "12"), Card("NAXIS", "2"),
                        Card("NAXIS1", "8"), Card("NAXIS2", "200"), Card("BZERO", "32768"),
                        Card("BSCALE", "2")},
                       std::vector<std::uint8_t>(3200)));
    WriteFile(dir.file("b.fit"),
              FitsFile({Card("SIMPLE", "T"), Card("BITPIX", "16"), Card("NAXIS", "2"),
                        Card("NAXIS1", "8"), Card("NAXIS2", "200"), Card("BZERO", "x")},
                       std::vector<std::uint8_t>(3200)));
    WriteFile(dir.file("c.fit"), Cube(10, 10, 1, {Card("OBJECT", "'small'")}));
    Click("c.fit");
    const std::string alone = viewer->controls.status;
    const double minimum = viewer->image.dataMin;
    const auto bmp = viewer->displayBitmap.toBmpBytes();
    // A file cut short, then a PIC file: the PIC has no header cards and is not cut.
    auto cut = Cube(300, 200, 1);
    cut.resize(2880 + 5000);
    WriteFile(dir.file("cut.fit"), cut);
    auto pic = PicHeader(3, 2, 2);
    pic.resize(pic.size() + 12, 1);
    WriteFile(dir.file("p.pic"), pic);
    Click("a.fit");
    EXPECT_FALSE(viewer->image.loaded);
    EXPECT_THROW(Click("b.fit"), OperationError);
    Click("cut.fit");
    EXPECT_GT(viewer->image.missingBytes, 0);
    Click("p.pic");
    EXPECT_EQ(viewer->controls.status, "p.pic  3x2  16 bits");
    EXPECT_TRUE(viewer->image.cards.empty());
    Click("c.fit");
    EXPECT_EQ(viewer->controls.status, alone);
    EXPECT_EQ(viewer->image.dataMin, minimum);
    EXPECT_EQ(viewer->image.bzero, 0);
    EXPECT_EQ(viewer->image.bscale, 1);
    EXPECT_TRUE(viewer->displayBitmap.toBmpBytes() == bmp);
    // The cards and axes are those of the file shown.
    EXPECT_EQ(viewer->image.axes, (std::vector<std::int64_t>{10, 10}));
    ASSERT_NE(FindCard(viewer->image.cards, "OBJECT"), nullptr);
    EXPECT_EQ(FindCard(viewer->image.cards, "OBJECT")->value, "'small'");
    EXPECT_EQ(viewer->image.missingBytes, 0);
    Click("cut.fit");
    EXPECT_EQ(viewer->controls.status,
              "cut.fit  300x200  16 bits (tronqué : 115000 octets manquants)");
}

TEST_F(Load, TallImagesAreShownWholeAtTheirSkyPosition) {
    // The same field centre, on 10 rows and on 4500 (cut to 4000 rows, the centre of a tall
    // image moved by 500 rows, half a degree here).
    for (const int rows : {10, 4500}) {
        const std::string name = "f" + std::to_string(rows) + ".fit";
        WriteFile(dir.file(name),
                  FitsFile({Card("SIMPLE", "T"), Card("BITPIX", "8"), Card("NAXIS", "2"),
                            Card("NAXIS1", "3"), Card("NAXIS2", std::to_string(rows)),
                            Card("CTYPE1", "'RA---TAN'"), Card("CTYPE2", "'DEC--TAN'"),
                            Card("CRVAL1", "150.0"), Card("CRVAL2", "30.0"), Card("CRPIX1", "1.5"),
                            Card("CRPIX2", std::to_string(rows / 2)), Card("CDELT1", "-0.001"),
                            Card("CDELT2", "0.001")},
                           std::vector<std::uint8_t>(static_cast<std::size_t>(3 * rows), 7)));
    }
    Click("f10.fit");
    const double ra = viewer->wcs.centreRa, dec = viewer->wcs.centreDec;
    Click("f4500.fit");
    EXPECT_EQ(viewer->controls.status.substr(0, 26), "f4500.fit  3x4500  8 bits ");
    EXPECT_EQ(viewer->displayBitmap.height(), 4500);
    EXPECT_NEAR(viewer->wcs.centreDec, dec, 1e-9);
    EXPECT_NEAR(viewer->wcs.centreRa, ra, 1e-9);
}

TEST_F(Load, FixedModeCarriesThresholdsToTheNextImage) {
    WriteFile(dir.file("a.fit"), Cube(4, 4, 1, {Card("DATAMIN", "1002"), Card("DATAMAX", "1010")}));
    WriteFile(dir.file("b.fit"), Cube(4, 4, 2));
    viewer->setThresholdMode(kModeFixed);
    Click("a.fit");
    // The first image after start-up uses its own header thresholds.
    EXPECT_EQ(viewer->levels.low, 1002);
    EXPECT_EQ(viewer->levels.high, 1010);
    Click("b.fit");
    EXPECT_EQ(viewer->levels.low, 1002);
    EXPECT_EQ(viewer->levels.high, 1010);
    EXPECT_EQ(viewer->controls.lowText, "1002.000");
}

TEST_F(Load, SelectedFilterIsAppliedAtLoad) {
    WriteFile(dir.file("f.fit"), Cube(5, 5, 1));
    viewer->controls.filterList.select(10);  // Edge
    Click("f.fit");
    // A linear ramp has no edges: every interior pixel becomes 0, the border stays.
    EXPECT_EQ(viewer->image.pixels16[2][2], 0);
    EXPECT_EQ(viewer->image.pixels16[0][0], viewer->image.source16[0][0]);
    // Every filtered value is 0; the threshold step widens the flat range by one.
    EXPECT_EQ(viewer->image.dataMin, 0);
    EXPECT_EQ(viewer->image.dataMax, 1);
    // A typed filter name (no item) is not applied at load.
    viewer->controls.filterList.index = -1;
    Click("f.fit");
    EXPECT_EQ(viewer->image.pixels16[2][2], 2 * 5 + 2 + 1000);
}

TEST_F(Load, FilterButtonsApplyAndRestore) {
    WriteFile(dir.file("f.fit"), Cube(6, 6, 1));
    Click("f.fit");
    const auto loaded = viewer->image.pixels16;
    viewer->restoreUnfiltered();  // before any filter: nothing to undo
    EXPECT_EQ(viewer->image.pixels16, loaded);
    viewer->controls.filterList.select(10);
    viewer->applySelectedFilter();
    EXPECT_EQ(viewer->image.pixels16[3][3], 0);
    viewer->restoreUnfiltered();
    EXPECT_EQ(viewer->image.pixels16, loaded);
    EXPECT_EQ(viewer->image.dataMax, viewer->image.sourceDataMax);
    // "None" applied is the restore.
    viewer->applySelectedFilter();
    viewer->controls.filterList.select(0);
    viewer->applySelectedFilter();
    EXPECT_EQ(viewer->image.pixels16, loaded);
    // A bad threshold changes nothing.
    viewer->controls.filterList.select(2);
    viewer->controls.filterThresholdText = "9,5";
    EXPECT_THROW(viewer->applySelectedFilter(), OperationError);
    EXPECT_EQ(viewer->image.pixels16, loaded);
}

TEST_F(Load, RightClickListsHeaderOrReportsWhy) {
    WriteFile(dir.file("h.fit"), Cube(2, 2, 1));
    std::string noSimple = HeaderBlocks({Card("BITPIX", "8"), Card("END", "")});
    WriteFile(dir.file("nosimple.fit"), noSimple);
    WriteFile(dir.file("p.bmp"), std::string("BM"));
    viewer->setFolder(dir.path().string(), "*.*");
    std::string shown;
    viewer->onShowHeader = [&](const std::string& path) { shown = path; };
    const auto& list = viewer->controls.fileList;
    auto indexOf = [&](const std::string& n) {
        for (int i = 0; i < list.count(); ++i)
            if (list.entries[static_cast<std::size_t>(i)].name == n) return i;
        return -1;
    };
    viewer->showHeaderOf(indexOf("h.fit"));
    EXPECT_EQ(shown, dir.file("h.fit"));
    EXPECT_EQ(viewer->headerText.front().substr(0, 6), "SIMPLE");
    shown.clear();
    viewer->showHeaderOf(indexOf("nosimple.fit"));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(viewer->controls.status, "Mot clé \"SIMPLE = T\" manquant");
    viewer->showHeaderOf(indexOf("p.bmp"));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(viewer->controls.status, "");
    viewer->showHeaderOf(-1);
    EXPECT_TRUE(shown.empty());
}

TEST_F(Load, OnlyRegularFilesAreOpened) {
    std::filesystem::create_directory(dir.file("x.fits"));
    ASSERT_EQ(mkfifo(dir.file("x.pic").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("x.bmp"));
    FileListModel& list = viewer->controls.fileList;
    list.folder = dir.path().string();
    list.entries = {{"x.bmp", true}, {"x.fits", true}, {"x.pic", true}};
    const std::string why[] = {"x.bmp est un périphérique", "x.fits est un dossier",
                               "x.pic est un tube nommé"};
    for (int i = 0; i < 3; ++i) {
        list.focused = i;
        viewer->loadSelectedFile();  // would block on the pipe, or read /dev/zero for ever
        EXPECT_EQ(viewer->controls.status,
                  "Format non supporté." + why[i] + ", pas un fichier ordinaire.");
    }
    EXPECT_FALSE(viewer->listHeader(dir.file("x.pic")));
    EXPECT_EQ(viewer->image.errorText, why[2] + ", pas un fichier ordinaire.");

    // A file swapped for a pipe between the viewer's look and the reader's open: the reader
    // judges what it has opened, and refuses the pipe instead of waiting for a writer.
    auto readAfterSwap = [&](const std::string& name, const std::function<void()>& read) {
        ASSERT_EQ(NotRegularFileReason(dir.file(name)), "");
        ASSERT_EQ(mkfifo(dir.file("swap").c_str(), 0600), 0);
        std::filesystem::rename(dir.file("swap"), dir.file(name));
        auto outcome = std::async(std::launch::async, [&]() -> std::string {
            try {
                read();
                return "read";
            } catch (const OperationError& e) {
                return e.what();
            }
        });
        if (outcome.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            const int writer = ::open(dir.file(name).c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);  // lets the blocked reader end
            ADD_FAILURE() << name << ": the reader waits on the pipe";
        }
        EXPECT_EQ(outcome.get(), name + " est un tube nommé, pas un fichier ordinaire.");
    };
    WriteFile(dir.file("a.fit"), FitsInt16(2, 2, 1, [](int, int i) { return i; }));
    readAfterSwap("a.fit", [&] {
        ReadFitsImage(dir.file("a.fit"), viewer->image, viewer->wcs, viewer->zoom, viewer->words);
    });
    Bitmap picture;
    picture.create(2, 2, 8);
    picture.saveBmpFile(dir.file("a.bmp"));
    readAfterSwap("a.bmp", [&] { Bitmap::ReadBmpFile(dir.file("a.bmp")); });
}

TEST_F(Load, FolderListingFollowsMasks) {
    for (const char* n : {"b.FIT", "a.fts", "c.pic", "d.txt", "e.jpeg"})
        WriteFile(dir.file(n), "x");
    viewer->setFolder(dir.path().string(), "*.fit;*.fts;*.pic");
    std::vector<std::string> names;
    for (const auto& e : viewer->controls.fileList.entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.fts", "b.FIT", "c.pic"}));
    viewer->selectAllFiles();
    EXPECT_TRUE(viewer->controls.fileList.entries[2].selected);
    viewer->selectNoFiles();
    EXPECT_FALSE(viewer->controls.fileList.entries[0].selected);
    EXPECT_TRUE(MatchesMasks("x.JPEG", "*.jpg;*.jpeg"));
    EXPECT_FALSE(MatchesMasks("x.jpgx", "*.jpg"));
    EXPECT_TRUE(MatchesMasks("ab", "?b"));
}

// The sky position belongs to the file shown: in the caption and under the pointer for a FITS
// file with a celestial system, gone for the next file without one.
TEST_F(Load, SkyPositionFollowsTheFileShown) {
    WriteFile(
        dir.file("sky.fit"),
        Cube(4, 3, 1,
             {Card("CTYPE1", "'RA---TAN'"), Card("CTYPE2", "'DEC--TAN'"), Card("CRPIX1", "2.5"),
              Card("CRPIX2", "2"), Card("CRVAL1", "150"), Card("CRVAL2", "30"),
              Card("CD1_1", "-0.001"), Card("CD2_2", "0.001"), Card("RADESYS", "'FK5'")}));
    WriteFile(dir.file("plain.fit"), Cube(4, 3, 1));
    Bytes pic = PicHeader(4, 3, 2);
    pic.resize(pic.size() + 24, 0);
    WriteFile(dir.file("a.pic"), pic);

    Click("sky.fit");
    // The window's centre, FITS pixel (2.5, 2), is the reference pixel.
    EXPECT_EQ(viewer->controls.status,
              "sky.fit  4x3  16 bits T ar: 10h00m00.0s de:+30\xC2\xB0"
              "00'00\" l:+00\xC2\xB0"
              "00'14\"");
    // The top left pixel is FITS pixel (1, 3), stored value number 8.
    ASSERT_EQ(viewer->controls.previewWidth, 320);
    viewer->previewMouseMove(0, 1, 1);
    EXPECT_EQ(viewer->controls.readout,
              "X:     0   Y:     0   I: 1008\nar: 10h00m00.4s de:+30\xC2\xB0"
              "00'04\"");

    for (const char* other : {"plain.fit", "a.pic"}) {
        Click("sky.fit");
        Click(other);
        ASSERT_TRUE(viewer->image.loaded) << other;
        EXPECT_EQ(viewer->controls.status.find(" ar:"), std::string::npos) << other;
        viewer->previewMouseMove(0, 1, 1);
        EXPECT_EQ(viewer->controls.readout.find("ar:"), std::string::npos) << other;
    }
}
