// "Sauvegarde BMP": every selected entry loaded as a click loads it and written as a BMP.
#include <filesystem>
#include <fstream>

#include "ViewerFixture.h"
#include "base/Errors.h"

using namespace pelorin;
using namespace pelorin::test;
namespace fs = std::filesystem;

namespace {

// Stored value number i of plane p (from 1): base + (p - 1) * 50 + i.
std::vector<std::uint8_t> Fits16(int cols, int rows, int planes, int base = 0) {
    return FitsInt16(cols, rows, planes, [base](int p, int i) { return base + (p - 1) * 50 + i; });
}

// A 24-bit BMP picture of w x h where every pixel is (blue, green, red).
Bitmap Rgb(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Bitmap bmp;
    bmp.create(w, h, 24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bmp.row(y)[3 * x] = b;
            bmp.row(y)[3 * x + 1] = g;
            bmp.row(y)[3 * x + 2] = r;
        }
    return bmp;
}

}  // namespace

class Batch : public ViewerTest {
  protected:
    void List(const std::vector<std::string>& selected) {
        viewer->setFolder(src.path().string(), "*.*");
        for (auto& e : viewer->controls.fileList.entries)
            e.selected = std::find(selected.begin(), selected.end(), e.name) != selected.end();
        viewer->controls.destination = out.path().string();
    }
    TempDir src, out;
};

TEST_F(Batch, NoSelectionWritesNothing) {
    WriteFile(src.file("a.fit"), Fits16(4, 4, 1));
    List({});
    viewer->saveSelectedAsBmp();
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_FALSE(viewer->image.loaded);
}

TEST_F(Batch, WritesEachRenderingAndKeepsTheLastLoaded) {
    WriteFile(src.file("a.fit"), Fits16(6, 4, 1));
    WriteFile(src.file("b.fts"), Fits16(3, 5, 1, 100));
    WriteFile(src.file("c.fit"), Fits16(2, 2, 1));
    List({"a.fit", "b.fts"});
    std::vector<std::string> started;
    BatchObserver obs;
    obs.onFileStart = [&](int i, int n, const std::string& name) {
        started.push_back(std::to_string(i) + "/" + std::to_string(n) + " " + name);
    };
    int repaints = 0;
    viewer->onRepaint = [&] { ++repaints; };
    viewer->saveSelectedAsBmp(&obs);
    EXPECT_EQ(started, (std::vector<std::string>{"0/2 a.fit", "1/2 b.fts"}));
    EXPECT_EQ(repaints, 2);
    const Bitmap a = Bitmap::ReadBmpFile(out.file("a.bmp"));
    EXPECT_EQ(a.width(), 6);
    EXPECT_EQ(a.height(), 4);
    EXPECT_EQ(a.bitsPerPixel(), 8);
    const Bitmap b = Bitmap::ReadBmpFile(out.file("b.bmp"));
    EXPECT_EQ(b.width(), 3);
    EXPECT_FALSE(fs::exists(out.file("c.bmp")));
    // What was written is what the display shows for the last file.
    EXPECT_EQ(viewer->controls.status, "b.fts  3x5  16 bits");
    EXPECT_TRUE(b.bits() == viewer->displayBitmap.bits());
    EXPECT_EQ(b.palette(), viewer->displayBitmap.palette());
}

TEST_F(Batch, ZoomIsNotWhatIsSavedAndSeparatorIsOptional) {
    WriteFile(src.file("a.fit"), Fits16(8, 8, 1));
    List({"a.fit"});
    const std::string withSep = out.path().string() + "/";
    EXPECT_EQ(viewer->destinationPath("a.fit"), out.file("a.bmp"));
    viewer->controls.destination = withSep;
    EXPECT_EQ(viewer->destinationPath("a.fit"), out.file("a.bmp"));
    EXPECT_EQ(viewer->destinationPath("ngc 7000.fts"), out.file("ngc 7000.bmp"));
    EXPECT_EQ(viewer->destinationPath("a.b.jpeg"), out.file("a.b.bmp"));
    EXPECT_EQ(viewer->destinationPath("flat"), out.file("flat.bmp"));
    // A relative destination is taken from the listed folder.
    viewer->controls.destination = std::string(".") + kPathSeparator;
    EXPECT_EQ(viewer->destinationPath("a.fit"), src.file("a.bmp"));
    viewer->controls.destination = withSep;
    viewer->saveSelectedAsBmp();
    EXPECT_EQ(Bitmap::ReadBmpFile(out.file("a.bmp")).width(), 8);
}

TEST_F(Batch, RejectedFileInTheMiddleIsOnePixelBlackAndTheBatchGoesOn) {
    WriteFile(src.file("a.fit"), Fits16(4, 4, 1));
    WriteFile(src.file("b.fit"), std::string("not a fits file at all"));
    WriteFile(src.file("c.fit"), Fits16(5, 5, 1));
    List({"a.fit", "b.fit", "c.fit"});
    std::vector<BatchEntryReport> reports;
    BatchObserver obs;
    obs.onFileDone = [&](const BatchEntryReport& r) { reports.push_back(r); };
    viewer->saveSelectedAsBmp(&obs);
    const Bitmap b = Bitmap::ReadBmpFile(out.file("b.bmp"));
    EXPECT_EQ(b.width(), 1);
    EXPECT_EQ(b.height(), 1);
    EXPECT_EQ(b.pixelColour(0, 0), (RgbColour{0, 0, 0}));
    EXPECT_EQ(Bitmap::ReadBmpFile(out.file("c.bmp")).width(), 5);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(reports[1].rejected);
    EXPECT_EQ(reports[1].reason.rfind("Format non supporté.", 0), 0u);
    EXPECT_FALSE(reports[2].rejected);
}

TEST_F(Batch, TwentyFourBitKeepsTheRenderedColours) {
    WriteFile(src.file("a.fit"), Fits16(7, 3, 1));
    List({"a.fit"});
    viewer->saveSelectedAsBmp();
    const Bitmap eight = Bitmap::ReadBmpFile(out.file("a.bmp"));
    viewer->controls.force24Bit = true;
    viewer->saveSelectedAsBmp();
    const Bitmap full = Bitmap::ReadBmpFile(out.file("a.bmp"));
    EXPECT_EQ(full.bitsPerPixel(), 24);
    EXPECT_TRUE(full.palette().empty());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(full.pixelColour(x, y), eight.pixelColour(x, y));
    // A PNG in 24 bits is an RGB one (colour type 2), not the palette picture.
    viewer->controls.outputFormat = OutputFormat::Png;
    viewer->saveSelectedAsBmp();
    std::ifstream png(out.file("a.png"), std::ios::binary);
    char head[26] = {};
    png.read(head, sizeof head);
    EXPECT_EQ(head[25], 2);
}

TEST_F(Batch, PlaneFromLayerEditAndItsWriteBackBeforeAPicture) {
    WriteFile(src.file("cube.fit"), Fits16(4, 4, 3));
    Rgb(4, 2, 30, 20, 10).saveBmpFile(src.file("pic.bmp"));
    List({"cube.fit"});
    viewer->controls.planeText = "2";
    viewer->saveSelectedAsBmp();
    EXPECT_EQ(viewer->image.currentPlane, 2);
    EXPECT_EQ(viewer->image.dataMin, 50);

    // "Couche" at 0 for every file: the FITS reader raises it to 1 for the cube, but the
    // 24-bit picture after it is still read as the mean of its colours, not its red plane.
    // The field shows the plane of the last file read.
    List({"cube.fit", "pic.bmp"});
    viewer->controls.planeText = "0";
    viewer->saveSelectedAsBmp();
    EXPECT_EQ(viewer->controls.planeText, "0");
    EXPECT_EQ(viewer->image.pixels8[0][0], 20);
    EXPECT_EQ(viewer->controls.planeCount, "/3");
}

TEST_F(Batch, OneOutputNameForTwoSourcesKeepsTheFirstAndNeverTakesAPlaceholder) {
    WriteFile(src.file("m31.fit"), Fits16(6, 6, 1));
    WriteFile(src.file("m31.fts"), Fits16(4, 4, 1));
    WriteFile(src.file("n.fit"), Fits16(2, 2, 1));
    WriteFile(src.file("m31.jpg"), std::string("\xFF\xD8\xFF"));
    WriteFile(src.file("m42.jpg"), std::string("\xFF\xD8\xFF"));
    // The second source of m31.bmp is not converted, and the error ends the batch.
    List({"m31.fit", "m31.fts", "n.fit"});
    try {
        viewer->saveSelectedAsBmp();
        FAIL();
    } catch (const OperationError& e) {
        EXPECT_EQ(std::string(e.what()), "Non enregistré : " + out.file("m31.bmp") +
                                             " vient déjà de " + src.file("m31.fit") + ".");
    }
    EXPECT_EQ(Bitmap::ReadBmpFile(out.file("m31.bmp")).width(), 6);
    EXPECT_FALSE(fs::exists(out.file("n.bmp")));

    // No decoder here: the .jpg entries are refused. m31's 1 x 1 stand-in does not replace
    // the good rendering already there; m42's is written where nothing was.
    List({"m31.jpg", "m42.jpg"});
    std::vector<BatchEntryReport> reports;
    BatchObserver obs;
    obs.onFileDone = [&](const BatchEntryReport& r) { reports.push_back(r); };
    viewer->saveSelectedAsBmp(&obs);
    EXPECT_EQ(Bitmap::ReadBmpFile(out.file("m31.bmp")).width(), 6);
    EXPECT_EQ(Bitmap::ReadBmpFile(out.file("m42.bmp")).width(), 1);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].rejected && reports[0].skipped);
    EXPECT_EQ(reports[0].reason,
              "Format non supporté. Non enregistré : " + out.file("m31.bmp") + " existe déjà.");
    EXPECT_FALSE(reports[1].skipped);
}

TEST_F(Batch, NoOutputReplacesAnotherSourceOfTheBatch) {
    // photo.jpg would be written as photo.bmp, the other source, reached through a link.
    Rgb(4, 4, 9, 9, 9).saveBmpFile(src.file("photo.bmp"));
    WriteFile(src.file("photo.jpg"), std::string("\xFF\xD8\xFF"));
    WriteFile(src.file("photo.fit"), Fits16(2, 2, 1));
    fs::create_directory_symlink(src.path(), out.file("link"));
    const auto before = ReadFile(src.file("photo.bmp"));
    List({"photo.bmp", "photo.fit", "photo.jpg"});
    viewer->controls.destination = out.file("link");
    std::vector<BatchEntryReport> reports;
    BatchObserver obs;
    obs.onFileDone = [&](const BatchEntryReport& r) { reports.push_back(r); };
    viewer->saveSelectedAsBmp(&obs);
    EXPECT_EQ(ReadFile(src.file("photo.bmp")), before);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].reason,
              "Non enregistré : " + out.file("link/photo.bmp") + " est le fichier source.");
    for (int i : {1, 2}) {
        EXPECT_TRUE(reports[i].skipped);
        EXPECT_EQ(reports[i].reason, "Non enregistré : " + out.file("link/photo.bmp") +
                                         " est un fichier source de ce lot.");
    }
    EXPECT_EQ(viewer->controls.status, reports[2].reason);
}

TEST_F(Batch, NeverOverwritesItsOwnSourcePicture) {
    Rgb(4, 4, 9, 9, 9).saveBmpFile(src.file("x.bmp"));
    WriteFile(src.file("y.fit"), Fits16(2, 2, 1));
    const auto before = ReadFile(src.file("x.bmp"));
    List({"x.bmp", "y.fit"});
    viewer->controls.destination = std::string(".") + kPathSeparator;
    std::vector<BatchEntryReport> reports;
    BatchObserver obs;
    obs.onFileDone = [&](const BatchEntryReport& r) { reports.push_back(r); };
    viewer->saveSelectedAsBmp(&obs);
    EXPECT_EQ(ReadFile(src.file("x.bmp")), before);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].skipped);
    EXPECT_TRUE(fs::exists(src.file("y.bmp")));
}

TEST_F(Batch, ErrorsEndTheBatchAndKeepWhatWasWritten) {
    WriteFile(src.file("a.fit"), Fits16(3, 3, 1));
    WriteFile(src.file("b.fit"), Fits16(3, 3, 1));
    WriteFile(src.file("c.fit"), Fits16(3, 3, 1));
    List({"a.fit", "b.fit", "c.fit"});
    fs::remove(src.file("b.fit"));
    try {
        viewer->saveSelectedAsBmp();
        FAIL();
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "Invalid file name - b.fit");
    }
    EXPECT_TRUE(fs::exists(out.file("a.bmp")));
    EXPECT_FALSE(fs::exists(out.file("c.bmp")));

    // A destination that does not exist.
    List({"a.fit"});
    viewer->controls.destination = out.file("missing");
    try {
        viewer->saveSelectedAsBmp();
        FAIL();
    } catch (const OperationError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + out.file("missing/a.bmp") +
                                             " (No such file or directory)");
    }

    // A filter threshold that is not a number.
    List({"a.fit", "c.fit"});
    fs::remove(out.file("a.bmp"));
    viewer->controls.filterList.select(1);
    viewer->controls.filterThresholdText = "lots";
    EXPECT_THROW(viewer->saveSelectedAsBmp(), OperationError);
    EXPECT_FALSE(fs::exists(out.file("a.bmp")));
}
