// The main window driven through its widgets: start-up state, loading, thresholds and the
// deferred redraw, errors at the event boundary, flips, zoom and readout, planes, the file
// list and the BMP copy.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>

#include "UiTestSupport.h"
#include "ui/FullSizeWindow.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

namespace pelorin::uitest {
namespace {

namespace fs = std::filesystem;

// A w x h image whose stored value at file row r, column c is r * 100 + c.
std::vector<std::uint8_t> Gradient(int w, int h) {
    std::vector<std::int16_t> values;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            values.push_back(static_cast<std::int16_t>(r * 100 + c));
    return Fits16(w, h, values);
}

// A w x h image brighter to the right: value = column, the same on every row.
std::vector<std::uint8_t> ColumnRamp(int w, int h) {
    std::vector<std::int16_t> values;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            values.push_back(static_cast<std::int16_t>(c));
    return Fits16(w, h, values);
}

// A w x h image brighter to the top of the display: the file's last rows are the brightest.
std::vector<std::uint8_t> RowRamp(int w, int h) {
    std::vector<std::int16_t> values;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            values.push_back(static_cast<std::int16_t>(r));
    return Fits16(w, h, values);
}

std::vector<std::uint8_t> Naxis1() {
    return test::FitsFile({test::Card("SIMPLE", "T"), test::Card("BITPIX", "16"),
                           test::Card("NAXIS", "1"), test::Card("NAXIS1", "10")},
                          std::vector<std::uint8_t>(20, 0));
}

int Grey(QRgb c) {
    return qGray(c);
}

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ws_.write("a.fit", Gradient(64, 64));
        ws_.write("wide.fit", ColumnRamp(64, 32));
        ws_.write("tall.fts", RowRamp(16, 32));
        ws_.write("bad.fit", Naxis1());
        ws_.write("cube.fit", Fits16Cube(8, 8, 3));
        ws_.write("notes.txt", std::vector<std::uint8_t>{'x'});
        WritePalettes(ws_.root() / "palettes", {"red"});
        h_ = std::make_unique<Harness>();
    }
    void openImages() {
        ASSERT_TRUE(h_->form().selectFolder(QString::fromStdString(ws_.images().string())));
    }
    Viewer& viewer() { return h_->form().viewer(); }
    QTimer* timer() { return h_->widget<QTimer>("redrawTicker"); }
    void fireTimer() {
        ASSERT_TRUE(timer()->isActive());
        timer()->stop();
        ASSERT_TRUE(QMetaObject::invokeMethod(timer(), "timeout"));
    }
    // Counts the redraws: every rendering shows the hourglass once.
    void countRedraws() {
        auto previous = viewer().onBusy;
        viewer().onBusy = [this, previous](bool busy) {
            if (busy) ++redraws_;
            if (previous) previous(busy);
        };
    }
    QImage preview() { return h_->widget("preview")->grab().toImage(); }

    Workspace ws_;
    std::unique_ptr<Harness> h_;
    int redraws_ = 0;
};

TEST_F(MainWindow, StartsWithItsCaptionsAndOnlyTheFileControlsEnabled) {
    Harness& h = *h_;
    const std::pair<const char*, const char*> captions[] = {
        {"selectAllButton", "Tout selectionner"},
        {"selectNoneButton", "Rien selectionner"},
        {"saveBmpButton", "Sauvegarde BMP"},
        {"closeButton", "Abandon"},
        {"force24BitBox", "Force le format BMP 24 bits"},
        {"fullSizeButton", "Taille réelle"},
        {"zoomWholeButton", "Zoom 1:1"},
        {"zoomPreviousButton", "Zoom prec."},
        {"lutCaption", "Coul."},
        {"ittCaption", "Intensité"},
        {"barLowCaption", ""},
        {"barHighCaption", ""},
        {"lowCaption", "Min:"},
        {"highCaption", "Max:"},
        {"flipCaption", "Inversion de l'image"},
        {"planeCountLabel", "/1"},
        {"planeCaption", "Couche"},
        {"filterCaption", "Filtre"},
        {"filterThresholdCaption", "Seuil"},
        {"destinationCaption", "Copie vers"},
        {"planeEdit", "0"},
        {"filterThresholdEdit", "9E99"},
        {"lowEdit", ""},
        {"highEdit", ""},
        {"readoutLabel", " "},
        {"statusLabel", " "},
        {"destinationEdit", "./"}};
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(h.text(name), QString::fromUtf8(caption)) << name;
    EXPECT_EQ(h.widget<QGroupBox>("thresholdModeGroup")->title(),
              QStringLiteral("Intensité min/max"));
    EXPECT_EQ(h.widget<QGroupBox>("pictureColoursGroup")->title(),
              QStringLiteral("Couleur des images"));
    const char* modes[] = {"en-tête", "data", "1 sig.", "2 sig.", "70%", "fixe", "zscale"};
    for (int i = 0; i < 7; ++i) {
        auto* r = h.widget<QRadioButton>(QStringLiteral("thresholdModeItem%1").arg(i).toLatin1());
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->text(), QString::fromUtf8(modes[i]));
        EXPECT_EQ(r->isChecked(), i == 0);
        // Two rows: four, then three under the first three.
        EXPECT_EQ(r->y(), h.widget(i < 4 ? "thresholdModeItem0" : "thresholdModeItem4")->y());
        EXPECT_EQ(r->x(),
                  h.widget(QStringLiteral("thresholdModeItem%1").arg(i % 4).toLatin1())->x());
    }
    EXPECT_TRUE(h.widget<QRadioButton>("pictureColoursItem1")->isChecked());
    EXPECT_EQ(h.widget<QRadioButton>("pictureColoursItem0")->text(),
              QStringLiteral("Palette du bitmap"));
    EXPECT_EQ(h.widget<QRadioButton>("pictureColoursItem1")->text(),
              QStringLiteral("Palette modifiable"));
    EXPECT_EQ(h.text("fileField"),
              QStringLiteral("*.fit;*.fits;*.fts;*.fit.gz;*.fits.gz;*.fts.gz;*.fz;*.pic;*.bmp;"
                             "*.dib;*.jpg;*.jpeg;*.jif;*.gif;*.tga;*.rle;*.pcx"));

    for (const char* name :
         {"lowEdit", "highEdit", "lowBarWidget", "highBarWidget", "zoomWholeButton",
          "zoomPreviousButton", "lutChooser", "ittChooser", "flipVerticalButton",
          "flipHorizontalButton", "orientButton", "applyFilterButton", "restoreButton", "planeEdit",
          "planeUp", "planeDown", "fullSizeButton"})
        EXPECT_FALSE(h.enabled(name)) << name;
    for (const char* name :
         {"thresholdModeGroup", "saveBmpButton", "closeButton", "selectAllButton",
          "selectNoneButton", "pictureColoursGroup", "force24BitBox", "filterChooser",
          "filterThresholdEdit", "fileList", "folderTree", "destinationEdit"})
        EXPECT_TRUE(h.enabled(name)) << name;

    auto* filters = h.widget<QComboBox>("filterChooser");
    ASSERT_EQ(filters->count(), 15);
    EXPECT_EQ(filters->itemText(14), QStringLiteral("Gradient 4"));
    EXPECT_EQ(filters->currentText(), QStringLiteral("None"));
    EXPECT_FALSE(timer()->isActive());

    // Nothing loaded: a black preview 320 x 240 and a black colour bar.
    EXPECT_EQ(h.widget("preview")->size(), QSize(320, 240));
    EXPECT_EQ(h.widget("colourBar")->size(), QSize(297, 15));
    const QImage p = preview();
    for (QPoint at : {QPoint(0, 0), QPoint(160, 120), QPoint(319, 239)})
        EXPECT_EQ(p.pixel(at) & 0xFFFFFF, 0u);
    EXPECT_EQ(h.widget("colourBar")->grab().toImage().pixel(290, 7) & 0xFFFFFF, 0u);
}

TEST(MainWindowPalettes, ListsAreSortedAndChooseRampAndFourRampOverTheFirstNames) {
    Workspace ws;
    WritePalettes(ws.root() / "palettes", {"aaa", "Heat.Old"}, {"0_first", "neg"});
    Harness h;
    auto* luts = h.widget<QComboBox>("lutChooser");
    auto* itts = h.widget<QComboBox>("ittChooser");
    QStringList lutNames, ittNames;
    for (int i = 0; i < luts->count(); ++i)
        lutNames << luts->itemText(i);
    for (int i = 0; i < itts->count(); ++i)
        ittNames << itts->itemText(i);
    EXPECT_EQ(lutNames, (QStringList{"aaa", "heat", "ramp"}));
    EXPECT_EQ(ittNames, (QStringList{"0_first", "4_ramp", "neg"}));
    EXPECT_EQ(luts->currentText(), QStringLiteral("ramp"));
    EXPECT_EQ(itts->currentText(), QStringLiteral("4_ramp"));
}

TEST(MainWindowPalettes, AStartUpErrorIsShownOnceTheWindowIsUp) {
    Workspace ws;
    test::WriteFile((ws.root() / "palettes" / "ramp.lut").string(), std::string("0.5 abc 1\n"));
    Harness h;                        // shows the window once its error box is captured
    EXPECT_TRUE(h.errors.isEmpty());  // not during the show itself
    QApplication::processEvents();
    ASSERT_EQ(h.errors.size(), 1);
    EXPECT_TRUE(h.errors.front().startsWith(QStringLiteral("Invalid numeric input (")));
    EXPECT_TRUE(h.errors.front().endsWith(QStringLiteral("ramp.lut, ligne 1)")));
    // The window goes on with its lists.
    EXPECT_EQ(h.widget<QComboBox>("lutChooser")->currentText(), QStringLiteral("ramp"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindow, ListShowsTheFolderThroughItsMaskCaseInsensitivelyAndSorted) {
    ws_.write("UPPER.FIT", Gradient(4, 4));
    openImages();
    QStringList names;
    for (int i = 0; i < h_->list()->count(); ++i)
        names << h_->list()->item(i)->text();
    EXPECT_EQ(names,
              (QStringList{"a.fit", "bad.fit", "cube.fit", "tall.fts", "UPPER.FIT", "wide.fit"}));
    EXPECT_EQ(fs::current_path(), ws_.images());

    auto* masks = h_->widget<QComboBox>("maskChooser");
    ASSERT_EQ(masks->count(), 10);
    const QString fits = QStringLiteral("*.fit;*.fits;*.fts;*.fit.gz;*.fits.gz;*.fts.gz;*.fz");
    masks->setCurrentIndex(masks->findData(fits));
    names.clear();
    for (int i = 0; i < h_->list()->count(); ++i)
        names << h_->list()->item(i)->text();
    EXPECT_EQ(names,
              (QStringList{"a.fit", "bad.fit", "cube.fit", "tall.fts", "UPPER.FIT", "wide.fit"}));
    EXPECT_EQ(h_->text("fileField"), fits);
    masks->setCurrentIndex(masks->findData(QStringLiteral("*.pic")));
    EXPECT_EQ(h_->list()->count(), 0);
    // A mask typed under the tree filters the list too.
    auto* fileFieldText = h_->widget<QLineEdit>("fileField");
    fileFieldText->setText(QStringLiteral("*.FTS"));
    QTest::keyClick(fileFieldText, Qt::Key_Return);
    ASSERT_EQ(h_->list()->count(), 1);
    EXPECT_EQ(h_->list()->item(0)->text(), QStringLiteral("tall.fts"));
}

TEST_F(MainWindow, ClickingAFitsFileShowsItsCaptionAndItsRendering) {
    openImages();
    h_->click(QStringLiteral("wide.fit"));
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("wide.fit  64x32  16 bits"));
    EXPECT_EQ(h_->text("fileField"), QStringLiteral("wide.fit"));
    EXPECT_EQ(h_->text("planeEdit"), QStringLiteral("1"));
    // 64 x 32 is wider than the box: shown whole, 320 wide and 160 high.
    EXPECT_EQ(h_->widget("preview")->size(), QSize(320, 160));
    for (const char* name : {"lowEdit", "highEdit", "lowBarWidget", "zoomWholeButton", "lutChooser",
                             "flipHorizontalButton", "planeEdit", "planeUp"})
        EXPECT_TRUE(h_->enabled(name)) << name;
    EXPECT_FALSE(h_->text("lowEdit").isEmpty());

    // What is drawn is the display bitmap stretched by nearest pixel: each preview pixel
    // has the colour of the bitmap pixel under its centre.
    const Bitmap& bitmap = viewer().displayBitmap;
    ASSERT_EQ(bitmap.width(), 64);
    ASSERT_EQ(bitmap.height(), 32);
    const QImage p = preview();
    for (QPoint at :
         {QPoint(0, 0), QPoint(7, 3), QPoint(8, 100), QPoint(200, 159), QPoint(319, 17)}) {
        const int sx = (2 * at.x() + 1) * 64 / (2 * 320);
        const int sy = (2 * at.y() + 1) * 32 / (2 * 160);
        const RgbColour c = bitmap.pixelColour(sx, sy);
        EXPECT_EQ(p.pixel(at) & 0xFFFFFF, qRgb(c.red, c.green, c.blue) & 0xFFFFFF)
            << at.x() << "," << at.y();
    }
    // Brighter to the right, and the colour bar is a grey ramp.
    EXPECT_LT(Grey(p.pixel(2, 120)), Grey(p.pixel(300, 120)));
    const QImage bar = h_->widget("colourBar")->grab().toImage();
    EXPECT_LT(Grey(bar.pixel(1, 7)), 8);
    EXPECT_GT(Grey(bar.pixel(296, 7)), 247);
}

TEST_F(MainWindow, ARejectedFileBlanksTheDisplayWithTheReason) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    h_->click(QStringLiteral("bad.fit"));
    EXPECT_EQ(h_->text("statusLabel"),
              QString::fromUtf8("Format non supporté.Mot clé \"NAXIS < 2\""));
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral(" "));
    const QImage p = preview();
    for (QPoint at : {QPoint(0, 0), QPoint(100, 100), QPoint(239, 239)})
        EXPECT_EQ(p.pixel(at) & 0xFFFFFF, 0u);
    EXPECT_TRUE(h_->errors.isEmpty());
}

TEST_F(MainWindow, UnselectingTheFocusedFileByControlClickClearsWithoutComplaint) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    h_->click(QStringLiteral("wide.fit"), Qt::ControlModifier);
    ASSERT_EQ(h_->text("statusLabel"), QStringLiteral("wide.fit  64x32  16 bits"));
    EXPECT_TRUE(h_->enabled("fullSizeButton"));
    h_->click(QStringLiteral("wide.fit"), Qt::ControlModifier);
    EXPECT_FALSE(h_->list()->item(h_->rowOf("wide.fit"))->isSelected());
    EXPECT_TRUE(h_->list()->item(h_->rowOf("a.fit"))->isSelected());
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral(" "));
    EXPECT_EQ(preview().pixel(100, 100) & 0xFFFFFF, 0u);
    EXPECT_FALSE(h_->enabled("fullSizeButton"));
    EXPECT_FALSE(h_->enabled("lowEdit"));
    EXPECT_TRUE(h_->enabled("thresholdModeGroup"));
}

TEST_F(MainWindow, ScrollBarMovesRedrawOnlyWhenTheTimerFires) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    countRedraws();
    auto* bar = h_->widget<QScrollBar>("lowBarWidget");
    const int start = bar->value();
    for (int i = 1; i <= 5; ++i)
        bar->setValue(start - 100 * i);  // as a drag does
    EXPECT_EQ(redraws_, 0);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 1000);
    EXPECT_EQ(viewer().controls.lowBar.position(), start - 500);
    EXPECT_EQ(h_->text("lowEdit"),
              QString::fromStdString(Viewer::ThresholdText(viewer().levels.low, 1)));
    fireTimer();
    EXPECT_EQ(redraws_, 1);
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(MainWindow, ScrollBarKeysMoveTheWayOfAValueSlider) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    auto* bar = h_->widget<QScrollBar>("highBarWidget");
    bar->setValue(15000);
    const ScrollBarModel& model = viewer().controls.highBar;
    ASSERT_EQ(model.position(), 15000);
    const std::pair<Qt::Key, int> keys[] = {{Qt::Key_Right, 100},     {Qt::Key_Down, 100},
                                            {Qt::Key_PageDown, 3000}, {Qt::Key_Left, -100},
                                            {Qt::Key_Up, -100},       {Qt::Key_PageUp, -3000}};
    for (const auto& [key, delta] : keys) {
        const int before = model.position();
        QTest::keyClick(bar, key);
        EXPECT_EQ(model.position(), before + delta) << key;
        EXPECT_EQ(bar->value(), model.position());
    }
}

TEST_F(MainWindow, DraggingOntoTheOtherBarPushesOnePositionFurther) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    auto* bar1 = h_->widget<QScrollBar>("lowBarWidget");
    const int other = viewer().controls.highBar.position();
    bar1->setValue(other);
    // The core nudged its model; the widget follows it without running the handler again.
    EXPECT_EQ(viewer().controls.lowBar.position(), other + 1);
    EXPECT_EQ(bar1->value(), other + 1);
}

TEST_F(MainWindow, EnterAppliesTypedThresholdsAtOnceAndPressesNoButton) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    countRedraws();
    h_->typeAndEnter("lowEdit", QStringLiteral("10"));
    EXPECT_EQ(redraws_, 1);
    h_->typeAndEnter("highEdit", QStringLiteral("1e3"));
    EXPECT_EQ(redraws_, 2);
    EXPECT_EQ(viewer().levels.low, 10);
    EXPECT_EQ(viewer().levels.high, 1000);
    EXPECT_EQ(h_->text("highEdit"), QStringLiteral("1e3"));  // left as typed
    EXPECT_EQ(viewer().controls.highBar.position(), viewer().positionOf(1000));
    EXPECT_EQ(h_->widget<QScrollBar>("highBarWidget")->value(), viewer().positionOf(1000));
    EXPECT_FALSE(timer()->isActive());
    // Enter in a field must not reach "Sauvegarde BMP" or any other button ("Tout
    // selectionner" would have selected every file).
    EXPECT_FALSE(fs::exists(ws_.image("a.bmp")));
    EXPECT_EQ(h_->list()->selectedItems().size(), 1);
    EXPECT_TRUE(h_->form().isVisible());
    EXPECT_TRUE(h_->errors.isEmpty());
}

TEST_F(MainWindow, LettersInMaxShowTheErrorBoxAndTheBarsKeepWorking) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    countRedraws();
    h_->widget<QLineEdit>("lowEdit")->setText(QStringLiteral("5"));
    h_->typeAndEnter("highEdit", QStringLiteral("abc"));
    ASSERT_EQ(h_->errors.size(), 1);
    EXPECT_EQ(h_->errors.front(), QStringLiteral("'abc' is not a valid floating point value"));
    EXPECT_EQ(redraws_, 0);
    EXPECT_EQ(viewer().levels.low, 5);  // Min was taken before the failure
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(viewer().levels.settingScrollBars);

    auto* bar = h_->widget<QScrollBar>("lowBarWidget");
    bar->setValue(bar->value() + 700);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(h_->text("lowEdit"),
              QString::fromStdString(Viewer::ThresholdText(viewer().levels.low, 1)));
    fireTimer();
    EXPECT_EQ(redraws_, 1);
}

TEST_F(MainWindow, ModeButtonsRecomputeTheThresholds) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    // Without header thresholds "data" gives what "en-tête" gave: no bar moves, nothing to
    // redraw.
    h_->widget<QRadioButton>("thresholdModeItem1")->click();
    EXPECT_EQ(viewer().controls.thresholdMode, 1);
    EXPECT_EQ(viewer().levels.mode, 1);
    EXPECT_FALSE(timer()->isActive());
    // "70%" narrows both: the bars move, snap the thresholds to their grid, and schedule
    // the redraw.
    h_->widget<QRadioButton>("thresholdModeItem4")->click();
    EXPECT_EQ(viewer().levels.mode, 4);
    EXPECT_TRUE(timer()->isActive());
    const int p1 = viewer().controls.lowBar.position();
    EXPECT_EQ(h_->widget<QScrollBar>("lowBarWidget")->value(), p1);
    EXPECT_DOUBLE_EQ(viewer().levels.low, viewer().valueOf(p1));
    EXPECT_EQ(h_->text("lowEdit"),
              QString::fromStdString(Viewer::ThresholdText(viewer().levels.low, 1)));
}

TEST_F(MainWindow, ChoosingAnotherPaletteRedrawsInItsColours) {
    openImages();
    h_->click(QStringLiteral("wide.fit"));
    QRgb before = preview().pixel(300, 120);
    ASSERT_EQ(qRed(before), qGreen(before));
    auto* luts = h_->widget<QComboBox>("lutChooser");
    luts->setCurrentIndex(luts->findText(QStringLiteral("red")));
    EXPECT_EQ(viewer().controls.lutList.text, "red");
    const QRgb after = preview().pixel(300, 120);
    EXPECT_GT(qRed(after), 100);
    EXPECT_EQ(qGreen(after), 0);
    const QImage bar = h_->widget("colourBar")->grab().toImage();
    EXPECT_EQ(qGreen(bar.pixel(296, 7)), 0);
    EXPECT_GT(qRed(bar.pixel(296, 7)), 247);
}

TEST_F(MainWindow, FilterListAndPictureColoursReachTheModel) {
    auto* filters = h_->widget<QComboBox>("filterChooser");
    filters->setCurrentIndex(6);  // as picked from the list
    h_->clickButton("pictureColoursItem0");
    EXPECT_EQ(viewer().controls.filterList.index, 6);
    EXPECT_EQ(viewer().controls.filterList.text, "Gauss");
    EXPECT_EQ(viewer().controls.pictureColours, PictureColours::Own);

    // A typed name is not a choice from the list.
    filters->lineEdit()->selectAll();
    QTest::keyClicks(filters->lineEdit(), QStringLiteral("Edge x"));
    h_->clickButton("selectNoneButton");  // any event brings the model in step
    EXPECT_EQ(viewer().controls.filterList.index, -1);
    EXPECT_EQ(viewer().controls.filterList.text, "Edge x");
    EXPECT_EQ(filters->currentText(), QStringLiteral("Edge x"));

    // Enter on an item's name picks that item.
    filters->lineEdit()->selectAll();
    QTest::keyClicks(filters->lineEdit(), QStringLiteral("Focus 2"));
    QTest::keyClick(filters->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(viewer().controls.filterList.index, 8);
    EXPECT_EQ(filters->count(), 15);  // nothing inserted
}

TEST_F(MainWindow, FlipButtonsMirrorThePreviewAndFollowTheModel) {
    openImages();
    h_->click(QStringLiteral("wide.fit"));
    auto* flipH = h_->widget<QAbstractButton>("flipHorizontalButton");
    auto* flipV = h_->widget<QAbstractButton>("flipVerticalButton");
    QImage p = preview();
    ASSERT_LT(Grey(p.pixel(2, 120)), Grey(p.pixel(300, 120)));
    h_->clickButton("flipHorizontalButton");
    EXPECT_TRUE(flipH->isChecked());
    EXPECT_TRUE(viewer().zoom.flipHorizontal);
    p = preview();
    // The right end of the image (bright) is now at the left; the frame shows the left
    // 320 of 480 columns, so the darkest part is out of view.
    EXPECT_GT(Grey(p.pixel(2, 120)), Grey(p.pixel(300, 120)));

    h_->click(QStringLiteral("tall.fts"));
    EXPECT_FALSE(flipH->isChecked());  // every load raises both buttons
    p = preview();
    ASSERT_GT(Grey(p.pixel(60, 2)), Grey(p.pixel(60, 237)));
    h_->clickButton("flipVerticalButton");
    EXPECT_TRUE(flipV->isChecked());
    p = preview();
    EXPECT_LT(Grey(p.pixel(60, 2)), Grey(p.pixel(60, 237)));

    h_->clickButton("orientButton");  // no sky coordinates: both off
    EXPECT_FALSE(flipH->isChecked());
    EXPECT_FALSE(flipV->isChecked());
    EXPECT_FALSE(viewer().zoom.flipVertical);
}

TEST_F(MainWindow, ReadoutShowsThePixelUnderThePointer) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    ASSERT_EQ(h_->widget("preview")->width(), 240);
    // The pixel drawn there: column floor(120.5 / 240 * 64) = 32, row floor(60.5 / 240 * 64)
    // = 16 from the top, which is row 63 - 16 = 47 of the file: 47 * 100 + 32.
    h_->moveOver(QPoint(120, 60));
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral("X:    32   Y:    16   I: 4732"));
    // The first column of the preview reads nothing.
    h_->moveOver(QPoint(0, 100));
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral("X:    32   Y:    16   I: 4732"));
    h_->moveOver(QPoint(3, 237));  // the first image column is drawn 3.75 preview pixels wide
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral("X:     0   Y:    63   I: 0"));
    h_->moveOver(QPoint(4, 237));
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral("X:     1   Y:    63   I: 1"));
}

TEST_F(MainWindow, BandDragAndClickZoomAndZoomButtonsGoBack) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    h_->drag(QPoint(10, 10), QPoint(100, 80));
    ASSERT_TRUE(viewer().band.shown);
    // The band is drawn over the picture: pixels of its top edge differ from the picture
    // alone, the inside does not.
    {
        const QImage withBand = preview();
        viewer().band.shown = false;
        h_->form().syncFromModel();
        const QImage plain = preview();
        viewer().band.shown = true;
        h_->form().syncFromModel();
        int changed = 0;
        for (int x = 10; x < 100; ++x)
            changed += withBand.pixel(x, 10) != plain.pixel(x, 10);
        EXPECT_GT(changed, 20);
        EXPECT_EQ(withBand.pixel(50, 50), plain.pixel(50, 50));
    }
    // A click outside the band only removes it.
    h_->pressOn(QPoint(5, 50));
    EXPECT_FALSE(viewer().band.shown);
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  64x64  16 bits"));

    h_->drag(QPoint(10, 10), QPoint(100, 80));
    h_->pressOn(QPoint(50, 50));
    // Columns Round(10 / 240 * 64) = 3 to Round(100 / 240 * 64) = 27, rows 3 to 21.
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  24x18  16 bits"));
    EXPECT_EQ(h_->widget("preview")->width(), 320);
    EXPECT_FALSE(viewer().band.shown);

    h_->drag(QPoint(40, 30), QPoint(200, 150));
    h_->pressOn(QPoint(100, 100));
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  12x9  16 bits"));

    // One level of history: "Zoom prec." twice shows the same window.
    h_->clickButton("zoomPreviousButton");
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  24x18  16 bits"));
    h_->clickButton("zoomPreviousButton");
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  24x18  16 bits"));
    h_->clickButton("zoomWholeButton");
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  64x64  16 bits"));
    EXPECT_EQ(h_->widget("preview")->width(), 240);
}

TEST_F(MainWindow, LayerEditAndItsSpinnerChooseThePlane) {
    openImages();
    // Nothing loaded: typing in the field loads nothing.
    h_->widget<QLineEdit>("planeEdit")->setText(QStringLiteral("2"));
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral(" "));
    h_->widget<QLineEdit>("planeEdit")->setText(QStringLiteral("0"));

    h_->click(QStringLiteral("cube.fit"));
    EXPECT_EQ(h_->text("planeEdit"), QStringLiteral("1"));
    EXPECT_EQ(h_->text("planeCountLabel"), QStringLiteral("/3"));
    h_->moveOver(QPoint(100, 100));
    EXPECT_TRUE(h_->text("readoutLabel").endsWith(QStringLiteral("I: 100")));

    h_->clickButton("planeUp");
    EXPECT_EQ(h_->text("planeEdit"), QStringLiteral("2"));
    EXPECT_EQ(viewer().image.currentPlane, 2);
    h_->moveOver(QPoint(101, 100));
    EXPECT_TRUE(h_->text("readoutLabel").endsWith(QStringLiteral("I: 200")))
        << h_->text("readoutLabel").toStdString();

    // Typing loads nothing and nothing is written back meanwhile, even as other events
    // come; Enter loads the plane, clamped to the last, and the field shows the plane read.
    auto* edit = h_->widget<QLineEdit>("planeEdit");
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("1"));
    h_->moveOver(QPoint(100, 100));
    QTest::keyClicks(edit, QStringLiteral("2"));
    EXPECT_EQ(edit->text(), QStringLiteral("12"));
    EXPECT_EQ(viewer().image.currentPlane, 2);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(viewer().image.currentPlane, 3);
    EXPECT_EQ(h_->text("planeEdit"), QStringLiteral("3"));
    h_->moveOver(QPoint(102, 100));
    EXPECT_TRUE(h_->text("readoutLabel").endsWith(QStringLiteral("I: 300")));

    h_->clickButton("planeDown");
    EXPECT_EQ(viewer().image.currentPlane, 2);
}

TEST_F(MainWindow, SelectAllAndNoneMarkEveryItemWithoutLoading) {
    openImages();
    h_->clickButton("selectAllButton");
    for (int i = 0; i < h_->list()->count(); ++i)
        EXPECT_TRUE(h_->list()->item(i)->isSelected());
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral(" "));
    h_->clickButton("selectNoneButton");
    for (int i = 0; i < h_->list()->count(); ++i)
        EXPECT_FALSE(h_->list()->item(i)->isSelected());
    for (const auto& e : viewer().controls.fileList.entries)
        EXPECT_FALSE(e.selected);
}

TEST_F(MainWindow, SaveWritesEverySelectedFileAndRepaintsAfterEach) {
    openImages();
    fs::create_directories(ws_.images() / "out");
    int repaints = 0;
    auto previous = viewer().onRepaint;
    viewer().onRepaint = [&] {
        ++repaints;
        previous();
    };
    h_->click(QStringLiteral("a.fit"));
    h_->click(QStringLiteral("wide.fit"), Qt::ControlModifier);
    h_->click(QStringLiteral("bad.fit"), Qt::ControlModifier);
    auto* dest = h_->widget<QLineEdit>("destinationEdit");
    dest->setText(QStringLiteral("out"));
    h_->clickButton("force24BitBox");
    h_->clickButton("saveBmpButton");
    ASSERT_TRUE(h_->errors.isEmpty()) << h_->errors.join("; ").toStdString();
    EXPECT_EQ(repaints, 3);

    const auto header = [](const std::string& path) { return test::ReadFile(path); };
    const auto a = header(ws_.image("out/a.bmp"));
    const auto wide = header(ws_.image("out/wide.bmp"));
    const auto bad = header(ws_.image("out/bad.bmp"));
    for (const auto* bmp : {&a, &wide, &bad}) {
        ASSERT_GT(bmp->size(), 54u);
        EXPECT_EQ((*bmp)[0], 'B');
        EXPECT_EQ((*bmp)[28], 24);  // forced to 24 bits
    }
    EXPECT_EQ(wide[18], 64);  // width
    EXPECT_EQ(wide[22], 32);  // height
    EXPECT_EQ(bad[18], 1);
    EXPECT_FALSE(fs::exists(ws_.image("out/tall.bmp")));
    EXPECT_FALSE(fs::exists(ws_.image("out/cube.bmp")));
    // The last one stays on display, its entry focused.
    EXPECT_EQ(h_->list()->currentRow(), h_->rowOf("wide.fit"));
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("wide.fit  64x32  16 bits"));
}

TEST_F(MainWindow, SaveIntoAMissingFolderStopsWithTheErrorBox) {
    openImages();
    h_->clickButton("selectAllButton");
    h_->widget<QLineEdit>("destinationEdit")->setText(QStringLiteral("missing/sub"));
    h_->clickButton("saveBmpButton");
    ASSERT_EQ(h_->errors.size(), 1);
    EXPECT_TRUE(h_->errors.front().startsWith(QStringLiteral("Cannot create file ")))
        << h_->errors.front().toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(h_->form().isVisible());
}

TEST_F(MainWindow, AFileGoneBeforeItsClickRaisesTheErrorAndRestoresTheCursor) {
    openImages();
    // The load runs under the hourglass, which the error must not leave behind.
    int hourglasses = 0;
    auto previous = viewer().onBusy;
    viewer().onBusy = [&](bool busy) {
        previous(busy);
        if (busy && QApplication::overrideCursor() &&
            QApplication::overrideCursor()->shape() == Qt::WaitCursor)
            ++hourglasses;
    };
    fs::remove(ws_.image("a.fit"));
    h_->click(QStringLiteral("a.fit"));
    EXPECT_EQ(hourglasses, 1);
    ASSERT_EQ(h_->errors.size(), 1);
    EXPECT_EQ(h_->errors.front(), QStringLiteral("File not found"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(viewer().image.loaded);
}

TEST_F(MainWindow, BrowsingForTheDestinationKeepsTheWorkingDirectory) {
    openImages();
    const fs::path elsewhere = ws_.root() / "elsewhere";
    fs::create_directories(elsewhere);
    QString askedFrom;
    h_->form().setDirectoryChooser([&](QWidget*, const QString&, const QString& start) {
        askedFrom = start;
        fs::current_path(elsewhere);  // a dialog may move around
        return QString::fromStdString(elsewhere.string());
    });
    h_->clickButton("destinationBrowse");
    EXPECT_EQ(fs::current_path(), ws_.images());
    EXPECT_EQ(h_->text("destinationEdit"), QString::fromStdString(elsewhere.string()));
    EXPECT_EQ(viewer().controls.destination, elsewhere.string());
    EXPECT_TRUE(h_->errors.isEmpty());

    // Cancelled: the field keeps its text.
    h_->form().setDirectoryChooser(
        [](QWidget*, const QString&, const QString&) { return QString(); });
    h_->clickButton("destinationBrowse");
    EXPECT_EQ(h_->text("destinationEdit"), QString::fromStdString(elsewhere.string()));
}

TEST_F(MainWindow, AWorkingDirectoryRemovedDuringTheDialogIsReported) {
    const fs::path doomed = ws_.root() / "doomed";
    fs::create_directories(doomed);
    ASSERT_TRUE(h_->form().selectFolder(QString::fromStdString(doomed.string())));
    h_->form().setDirectoryChooser([&](QWidget*, const QString&, const QString&) {
        fs::current_path(ws_.root());
        fs::remove(doomed);
        return QString();
    });
    h_->clickButton("destinationBrowse");
    ASSERT_EQ(h_->errors.size(), 1);
    EXPECT_EQ(h_->errors.front(), QStringLiteral("I/O error 2"));
    EXPECT_TRUE(h_->form().isVisible());
}

TEST_F(MainWindow, CancelButtonAndEscapeCloseTheWindow) {
    h_->clickButton("closeButton");
    EXPECT_FALSE(h_->form().isVisible());
    EXPECT_EQ(h_->form().result(), QDialog::Rejected);
    h_->form().show();
    QTest::keyClick(&h_->form(), Qt::Key_Escape);
    EXPECT_FALSE(h_->form().isVisible());
}

// ---- The window as a user meets it ----

TEST_F(MainWindow, AWideImageIsShownWholeAndReadAndZoomedToItsLastColumn) {
    openImages();
    h_->click(QStringLiteral("wide.fit"));  // 64 x 32, value = column; preview 320 x 160
    h_->moveOver(QPoint(319, 80));
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral("X:    63   Y:    16   I: 63"));
    h_->moveOver(QPoint(100, 170));  // below the preview: nothing read
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral("X:    63   Y:    16   I: 63"));
    h_->drag(QPoint(240, 40), QPoint(319, 120));
    h_->pressOn(QPoint(300, 100));
    const ZoomWindow& z = viewer().zoom;
    EXPECT_EQ((std::vector<int>{z.colStart, z.colEnd, z.rowStart, z.rowEnd}),
              (std::vector<int>{48, 64, 8, 24}));
    EXPECT_EQ(h_->widget("preview")->size(), QSize(240, 240));
}

TEST_F(MainWindow, FitsFilesListAndTheirHeaderFlipsShowOnTheButtons) {
    ws_.write("flipped.fits",
              Fits16(4, 4, std::vector<std::int16_t>(16, 7),
                     {test::Card("CDELT1", "1.0E-3"), test::Card("CDELT2", "-1.0E-3")}));
    openImages();
    h_->click(QStringLiteral("flipped.fits"));
    EXPECT_TRUE(h_->widget<QAbstractButton>("flipHorizontalButton")->isChecked());
    EXPECT_TRUE(h_->widget<QAbstractButton>("flipVerticalButton")->isChecked());
    h_->click(QStringLiteral("a.fit"));
    EXPECT_FALSE(h_->widget<QAbstractButton>("flipHorizontalButton")->isChecked());
}

TEST_F(MainWindow, OnAPedestalFrameAModeChangeShowsItsThresholdsAndRedraws) {
    std::vector<std::int16_t> values(16, 1164);
    values[0] = 837;
    ws_.write("bias.fit", Fits16(4, 4, values));
    openImages();
    h_->click(QStringLiteral("bias.fit"));
    EXPECT_EQ(h_->widget<QScrollBar>("lowBarWidget")->value(), 10000);
    EXPECT_EQ(h_->widget<QScrollBar>("highBarWidget")->value(), 20000);
    h_->widget<QLineEdit>("lowEdit")->setText(QStringLiteral("1"));
    countRedraws();
    // "data" gives the thresholds of "en-tête" here: no bar moves, yet all is shown at once.
    h_->widget<QRadioButton>("thresholdModeItem1")->click();
    EXPECT_EQ(h_->text("lowEdit"), QStringLiteral("837.000"));
    EXPECT_EQ(redraws_, 1);
    EXPECT_FALSE(timer()->isActive());
    h_->widget<QRadioButton>("thresholdModeItem2")->click();  // "1 sig." moves the bars
    EXPECT_TRUE(timer()->isActive());
    EXPECT_NE(h_->text("lowEdit"), QStringLiteral("837.000"));
}

TEST_F(MainWindow, ALoadClearsTheReadoutAndForgetsTheBand) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    h_->drag(QPoint(10, 10), QPoint(100, 80));
    ASSERT_TRUE(h_->widget<ui::PreviewImage>("preview")->band().shown);
    ASSERT_NE(h_->text("readoutLabel").trimmed(), QString());
    h_->click(QStringLiteral("bad.fit"));  // rejected: black preview, no band over it
    EXPECT_FALSE(h_->widget<ui::PreviewImage>("preview")->band().shown);
    h_->click(QStringLiteral("wide.fit"));
    EXPECT_EQ(h_->text("readoutLabel").trimmed(), QString());
}

TEST_F(MainWindow, FilesFoldersAndDropsOpenAsAClickWould) {
    const QString images = QString::fromStdString(ws_.images().string());
    EXPECT_TRUE(h_->form().openPaths({images}));  // a folder: listed, nothing loaded
    EXPECT_EQ(h_->form().listFolder(), images);
    EXPECT_FALSE(viewer().image.loaded);
    EXPECT_TRUE(h_->form().openPaths({images + QStringLiteral("/tall.fts")}));
    EXPECT_EQ(h_->form().listFolder(), images);
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("tall.fts  16x32  16 bits"));
    EXPECT_EQ(h_->text("fileField"), QStringLiteral("tall.fts"));

    // Several files: all selected, the first given shown; a missing one is reported.
    h_->form().openPaths({images + QStringLiteral("/wide.fit"), QStringLiteral("/no/such.fit"),
                          images + QStringLiteral("/a.fit")});
    EXPECT_EQ(h_->errors, QStringList{QStringLiteral("Fichier introuvable : /no/such.fit")});
    QStringList selected;
    for (QListWidgetItem* item : h_->list()->selectedItems())
        selected << item->text();
    selected.sort();
    EXPECT_EQ(selected, (QStringList{"a.fit", "wide.fit"}));
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("wide.fit  64x32  16 bits"));
    EXPECT_FALSE(h_->form().openPaths({QStringLiteral("/no/such/folder")}));

    // A dropped file opens the same way.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(images + QStringLiteral("/cube.fit"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&h_->form(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&h_->form(), &drop);
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("cube.fit  8x8  16 bits"));
}

TEST_F(MainWindow, PointerMovesAndTimerTicksLeaveTheListAndTheFieldAlone) {
    for (int i = 0; i < 80; ++i)
        ws_.write(QStringLiteral("s%1.fit").arg(i, 2, 10, QLatin1Char('0')).toStdString(),
                  Gradient(8, 8));
    openImages();
    h_->click(QStringLiteral("a.fit"));
    QScrollBar* scroll = h_->list()->verticalScrollBar();
    scroll->setValue(scroll->maximum());
    auto* field = h_->widget<QLineEdit>("fileField");
    field->setText(QStringLiteral("*.fts"));
    h_->moveOver(QPoint(50, 50));
    h_->widget<QScrollBar>("lowBarWidget")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    fireTimer();
    EXPECT_EQ(scroll->value(), scroll->maximum());
    EXPECT_EQ(field->text(), QStringLiteral("*.fts"));
}

// The preview takes the room of a grown window, the other controls keep their sizes, and
// the readout and the band zoom map through the preview's real size.
TEST_F(MainWindow, AGrownWindowGrowsThePreviewAndItsMappingFollows) {
    openImages();
    h_->form().show();
    const QSize first = h_->form().size();
    const int treeWidth = h_->widget("folderTree")->width();
    const int editWidth = h_->widget("lowEdit")->width();
    const int barWidth = h_->widget("lowBarWidget")->width();
    h_->click(QStringLiteral("a.fit"));  // 64 x 64
    EXPECT_EQ(h_->widget("preview")->size(), QSize(240, 240));
    h_->form().resize(first + QSize(400, 300));
    QApplication::processEvents();
    EXPECT_EQ(h_->widget("preview")->size(), QSize(540, 540));
    EXPECT_EQ(h_->widget("folderTree")->width(), treeWidth);
    EXPECT_EQ(h_->widget("lowEdit")->width(), editWidth);
    EXPECT_EQ(h_->widget("lowBarWidget")->width(), barWidth);
    EXPECT_EQ(h_->widget("colourBar")->size(), QSize(297, 15));
    // 270 / 540 of 64 columns: column 32; row 16 of the display is file row 47.
    h_->moveOver(QPoint(270, 135));
    EXPECT_EQ(h_->text("readoutLabel"), QStringLiteral("X:    32   Y:    16   I: 4732"));
    h_->drag(QPoint(10, 10), QPoint(270, 270));
    h_->pressOn(QPoint(100, 100));
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  31x31  16 bits"));
    h_->form().resize(first);
    QApplication::processEvents();
    EXPECT_EQ(h_->widget("preview")->size(), QSize(240, 240));
    EXPECT_EQ(h_->form().minimumWidth() <= first.width(), true);
}

// The wheel, the middle button, the keys and "Zoom prec." reach the viewer (whose windows
// are tested with it): a wheel step about the pointer, a drag, the keys, the history.
TEST_F(MainWindow, WheelZoomsAboutThePointerAndTheMiddleButtonPans) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    const ZoomWindow& z = viewer().zoom;
    h_->wheel(QPoint(60, 60), 1);
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  45x45  16 bits"));
    EXPECT_EQ(z.colStart, z.rowStart);
    EXPECT_LT(z.colStart, 64 - z.colEnd);  // about the pointer, not the middle
    const int colStart = z.colStart;
    h_->dragWith(Qt::MiddleButton, QPoint(148, 148), QPoint(100, 100));
    EXPECT_EQ(z.colStart, colStart + 9);  // 48 * 45 / 240 = 9 columns further right
    EXPECT_EQ(z.cols, 45);
    h_->clickButton("zoomPreviousButton");
    EXPECT_EQ(z.cols, 64);
    QWidget* preview = h_->widget("preview");
    QTest::keyClick(preview, Qt::Key_Plus);
    EXPECT_EQ(z.cols, 45);
    QTest::keyClick(preview, Qt::Key_Minus);
    EXPECT_EQ(z.cols, 64);
    QTest::keyClick(preview, Qt::Key_Plus);
    QTest::keyClick(preview, Qt::Key_0);
    EXPECT_EQ(h_->text("statusLabel"), QStringLiteral("a.fit  64x64  16 bits"));
}

// Faults of the window found in use, each kept fixed.
TEST_F(MainWindow, ThresholdsBarsCaptionsAndListStayReadable) {
    // Large values keep their leading digits; the bar's ends name the thresholds in force.
    std::vector<std::int16_t> values(16, 0);
    values[15] = 30000;
    ws_.write("big.fit", Fits16(4, 4, values, {test::Card("BSCALE", "100000.0")}));
    for (int i = 0; i < 40; ++i)
        ws_.write(QStringLiteral("s%1.fit").arg(i, 2, 10, QLatin1Char('0')).toStdString(),
                  Gradient(8, 8));
    openImages();
    h_->click(QStringLiteral("big.fit"));
    EXPECT_EQ(h_->text("highEdit"), QStringLiteral("3000000000"));
    auto* high = h_->widget<QLineEdit>("highEdit");
    EXPECT_GE(high->width(), high->fontMetrics().horizontalAdvance(high->text()) + 6);
    EXPECT_EQ(h_->text("barLowCaption"), QStringLiteral("0.000"));
    EXPECT_EQ(h_->text("barHighCaption"), QStringLiteral("3000000000"));
    h_->typeAndEnter("lowEdit", QStringLiteral("12.5"));
    EXPECT_EQ(h_->text("barLowCaption"), QStringLiteral("12.5"));

    // "fixe": the next image keeps the thresholds and its bars show them.
    h_->widget<QRadioButton>("thresholdModeItem5")->click();
    h_->click(QStringLiteral("a.fit"));
    EXPECT_EQ(h_->widget<QScrollBar>("lowBarWidget")->value(), viewer().positionOf(12.5));
    EXPECT_EQ(h_->widget<QScrollBar>("highBarWidget")->value(), viewer().positionOf(3e9));

    // A long name with a sky position: every part past the name is readable.
    auto* status = h_->widget<QLabel>("statusLabel");
    const QString caption = QStringLiteral(
        "a_very_long_file_name_from_an_archive_of_the_observatory_2026-12-09T03-14-15.fits  "
        "4096x4096  -32 bits  AD: 05h35m17.3s  Déc: -05°23'28\"  Champ: 30.5'");
    const QFontMetrics fm = status->fontMetrics();
    const QString fitted = ui::FitCaption(caption, fm, status->contentsRect().width(),
                                          status->contentsRect().height() / fm.lineSpacing());
    EXPECT_TRUE(fitted.endsWith(QStringLiteral("Champ: 30.5'"))) << fitted.toStdString();
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("a_very"))) << fitted.toStdString();
    EXPECT_TRUE(fitted.contains(QChar(0x2026)));
    EXPECT_EQ(ui::FitCaption(QStringLiteral("a.fit  8x8  16 bits"), fm, 300, 2),
              QStringLiteral("a.fit  8x8  16 bits"));

    // Another folder starts at the top of the list.
    QScrollBar* scroll = h_->list()->verticalScrollBar();
    scroll->setValue(scroll->maximum());
    ASSERT_GT(scroll->value(), 0);
    ASSERT_TRUE(h_->form().selectFolder(QString::fromStdString(ws_.root().string())));
    ASSERT_TRUE(h_->form().selectFolder(QString::fromStdString(ws_.images().string())));
    EXPECT_EQ(scroll->value(), 0);

    // The 24-bit box names both formats when PNG is chosen.
    h_->widget<QComboBox>("formatChooser")->setCurrentIndex(1);
    EXPECT_EQ(h_->text("force24BitBox"), QStringLiteral("Force le format BMP/PNG 24 bits"));
}

TEST_F(MainWindow, FilesOfOtherFoldersAreNamedAndAThinImageStaysReadable) {
    fs::create_directories(ws_.root() / "other");
    std::vector<std::int16_t> strip(50 * 2000, 7);
    ws_.write("strip.fit", Fits16(50, 2000, strip));
    const QString images = QString::fromStdString(ws_.images().string());
    const QString other = QString::fromStdString((ws_.root() / "other" / "b.fit").string());
    fs::copy_file(ws_.images() / "a.fit", ws_.root() / "other" / "b.fit");
    h_->form().openPaths({images + QStringLiteral("/a.fit"), other});
    EXPECT_EQ(h_->text("statusLabel"),
              QStringLiteral("Non ouverts, hors du dossier de a.fit : ") + other);
    EXPECT_TRUE(h_->errors.isEmpty());

    h_->click(QStringLiteral("strip.fit"));
    EXPECT_EQ(h_->widget("preview")->size(), QSize(Viewer::kPreviewMinSide, 240));
    h_->clickButton("fullSizeButton");
    EXPECT_GE(h_->big().width(), h_->big().fontMetrics().horizontalAdvance(
                                     QStringLiteral("strip.fit  50x2000  16 bits")));
}

TEST(MainWindowPalettes, EmptyListsSayWhereTheyLookedAndExtraFoldersAreSearched) {
    Workspace ws;
    fs::remove_all(ws.root() / "palettes");
    {
        ui::MainWindow form;
        EXPECT_TRUE(form.viewer().controls.lutList.items.empty());
        const QString status = form.findChild<QLabel*>(QStringLiteral("statusLabel"))->text();
        EXPECT_TRUE(status.startsWith(QStringLiteral("Aucune palette trouvée, cherché dans : ") +
                                      QString::fromStdString((ws.root() / "palettes").string())))
            << status.toStdString();
    }
    WritePalettes(ws.root() / "elsewhere");
    ui::MainWindow form(nullptr, nullptr,
                        {QString::fromStdString((ws.root() / "elsewhere").string())});
    EXPECT_EQ(form.viewer().controls.lutList.text, "ramp");
}

}  // namespace
}  // namespace pelorin::uitest
