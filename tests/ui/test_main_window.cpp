// The main window driven through its widgets: start-up state, loading, thresholds and the
// deferred redraw, errors at the event boundary, flips, zoom and readout, planes, the file
// list and the BMP copy.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "UiTestSupport.h"
#include "ui/BigImaForm.h"
#include "ui/MainForm.h"

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
    QTimer* timer() { return h_->widget<QTimer>("Timer1"); }
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
    QImage preview() { return h_->widget("Image1")->grab().toImage(); }

    Workspace ws_;
    std::unique_ptr<Harness> h_;
    int redraws_ = 0;
};

TEST_F(MainWindow, StartsWithItsCaptionsAndOnlyTheFileControlsEnabled) {
    Harness& h = *h_;
    const std::pair<const char*, const char*> captions[] = {
        {"BitBtn5", "Tout selectionner"},
        {"BitBtn6", "Rien selectionner"},
        {"BitBtn1", "Sauvegarde BMP"},
        {"BitBtn4", "Abandon"},
        {"CheckBox1", "Force le format BMP 24 bits"},
        {"SpeedButton1", "Taille réelle"},
        {"SpeedButton4", "Zoom 1:1"},
        {"SpeedButton5", "Zoom prec."},
        {"Label3", "Coul."},
        {"Label4", "Intensité"},
        {"Label5", "0"},
        {"Label6", "255"},
        {"Label7", "Min:"},
        {"Label8", "Max:"},
        {"Label9", "Inversion de l'image"},
        {"Label10", "/1"},
        {"Label11", "Couche"},
        {"Label12", "Filtre"},
        {"Label13", "Seuil"},
        {"Label14", "Copie vers"},
        {"Edit4", "0"},
        {"Edit5", "9E99"},
        {"Edit1", ""},
        {"Edit2", ""},
        {"Label1", " "},
        {"Label2", " "},
        {"DirectoryEdit1", "./"}};
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(h.text(name), QString::fromUtf8(caption)) << name;
    EXPECT_EQ(h.widget<QGroupBox>("RadioGroup2")->title(), QStringLiteral("Intensité min/max"));
    EXPECT_EQ(h.widget<QGroupBox>("RadioGroup1")->title(), QStringLiteral("Couleur des images"));
    const char* modes[] = {"en-tête", "data", "1 sig.", "2 sig.", "70%", "fixe"};
    for (int i = 0; i < 6; ++i) {
        auto* r = h.widget<QRadioButton>(QStringLiteral("RadioGroup2Item%1").arg(i).toLatin1());
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->text(), QString::fromUtf8(modes[i]));
        EXPECT_EQ(r->isChecked(), i == 0);
        // All six in one row.
        EXPECT_EQ(r->y(), h.widget("RadioGroup2Item0")->y());
    }
    EXPECT_TRUE(h.widget<QRadioButton>("RadioGroup1Item1")->isChecked());
    EXPECT_EQ(h.widget<QRadioButton>("RadioGroup1Item0")->text(),
              QStringLiteral("Palette du bitmap"));
    EXPECT_EQ(h.widget<QRadioButton>("RadioGroup1Item1")->text(),
              QStringLiteral("Palette modifiable"));
    EXPECT_EQ(h.text("Edit3"), QStringLiteral("*.fit;*.fts;*.pic;*.bmp;*.dib;*.jpg;*.jpeg;*.jif;"
                                              "*.gif;*.tga;*.rle;*.pcx"));

    for (const char* name :
         {"Edit1", "Edit2", "ScrollBar1", "ScrollBar2", "SpeedButton4", "SpeedButton5", "ComboBox1",
          "ComboBox2", "SpeedButton2", "SpeedButton3", "SpeedButton6", "SpeedButton7",
          "SpeedButton8", "Edit4", "UpDown1Up", "UpDown1Down"})
        EXPECT_FALSE(h.enabled(name)) << name;
    for (const char* name :
         {"RadioGroup2", "SpeedButton1", "BitBtn1", "BitBtn4", "BitBtn5", "BitBtn6", "RadioGroup1",
          "CheckBox1", "ComboBox3", "Edit5", "FileListBox1", "SystemTreeView1", "DirectoryEdit1"})
        EXPECT_TRUE(h.enabled(name)) << name;

    auto* filters = h.widget<QComboBox>("ComboBox3");
    ASSERT_EQ(filters->count(), 15);
    EXPECT_EQ(filters->itemText(14), QStringLiteral("Gradient 4"));
    EXPECT_EQ(filters->currentText(), QStringLiteral("None"));
    EXPECT_FALSE(timer()->isActive());

    // Nothing loaded: a black preview 320 x 240 and a black colour bar.
    EXPECT_EQ(h.widget("Image1")->size(), QSize(320, 240));
    EXPECT_EQ(h.widget("Image2")->size(), QSize(297, 15));
    const QImage p = preview();
    for (QPoint at : {QPoint(0, 0), QPoint(160, 120), QPoint(319, 239)})
        EXPECT_EQ(p.pixel(at) & 0xFFFFFF, 0u);
    EXPECT_EQ(h.widget("Image2")->grab().toImage().pixel(290, 7) & 0xFFFFFF, 0u);
}

TEST(MainWindowPalettes, ListsAreSortedAndChooseRampAndFourRampOverTheFirstNames) {
    Workspace ws;
    WritePalettes(ws.root() / "palettes", {"aaa", "Heat.Old"}, {"0_first", "neg"});
    Harness h;
    auto* luts = h.widget<QComboBox>("ComboBox1");
    auto* itts = h.widget<QComboBox>("ComboBox2");
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
    EXPECT_EQ(h.errors.front(), QStringLiteral("Invalid numeric input"));
    // The window goes on with its lists.
    EXPECT_EQ(h.widget<QComboBox>("ComboBox1")->currentText(), QStringLiteral("ramp"));
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

    auto* masks = h_->widget<QComboBox>("FilterComboBox1");
    ASSERT_EQ(masks->count(), 10);
    masks->setCurrentIndex(masks->findData(QStringLiteral("*.fit;*.fts")));
    names.clear();
    for (int i = 0; i < h_->list()->count(); ++i)
        names << h_->list()->item(i)->text();
    EXPECT_EQ(names,
              (QStringList{"a.fit", "bad.fit", "cube.fit", "tall.fts", "UPPER.FIT", "wide.fit"}));
    EXPECT_EQ(h_->text("Edit3"), QStringLiteral("*.fit;*.fts"));
    masks->setCurrentIndex(masks->findData(QStringLiteral("*.pic")));
    EXPECT_EQ(h_->list()->count(), 0);
    // A mask typed under the tree filters the list too.
    auto* edit3 = h_->widget<QLineEdit>("Edit3");
    edit3->setText(QStringLiteral("*.FTS"));
    QTest::keyClick(edit3, Qt::Key_Return);
    ASSERT_EQ(h_->list()->count(), 1);
    EXPECT_EQ(h_->list()->item(0)->text(), QStringLiteral("tall.fts"));
}

TEST_F(MainWindow, ClickingAFitsFileShowsItsCaptionAndItsRendering) {
    openImages();
    h_->click(QStringLiteral("wide.fit"));
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("wide.fit  64x32  16 bits"));
    EXPECT_EQ(h_->text("Edit3"), QStringLiteral("wide.fit"));
    EXPECT_EQ(h_->text("Edit4"), QStringLiteral("1"));
    // 64 x 32 keeps its proportions at 240 high; the frame shows its first 320 columns.
    EXPECT_EQ(h_->widget("Image1")->size(), QSize(480, 240));
    for (const char* name : {"Edit1", "Edit2", "ScrollBar1", "SpeedButton4", "ComboBox1",
                             "SpeedButton3", "Edit4", "UpDown1Up"})
        EXPECT_TRUE(h_->enabled(name)) << name;
    EXPECT_FALSE(h_->text("Edit1").isEmpty());

    // What is drawn is the display bitmap stretched by nearest pixel: each preview pixel
    // has the colour of the bitmap pixel under its centre.
    const Bitmap& bitmap = viewer().displayBitmap;
    ASSERT_EQ(bitmap.width(), 64);
    ASSERT_EQ(bitmap.height(), 32);
    const QImage p = preview();
    for (QPoint at :
         {QPoint(0, 0), QPoint(7, 3), QPoint(8, 100), QPoint(200, 239), QPoint(319, 17)}) {
        const int sx = (2 * at.x() + 1) * 64 / (2 * 480);
        const int sy = (2 * at.y() + 1) * 32 / (2 * 240);
        const RgbColour c = bitmap.pixelColour(sx, sy);
        EXPECT_EQ(p.pixel(at) & 0xFFFFFF, qRgb(c.red, c.green, c.blue) & 0xFFFFFF)
            << at.x() << "," << at.y();
    }
    // Brighter to the right, and the colour bar is a grey ramp.
    EXPECT_LT(Grey(p.pixel(2, 120)), Grey(p.pixel(300, 120)));
    const QImage bar = h_->widget("Image2")->grab().toImage();
    EXPECT_LT(Grey(bar.pixel(1, 7)), 8);
    EXPECT_GT(Grey(bar.pixel(296, 7)), 247);
}

TEST_F(MainWindow, ARejectedFileBlanksTheDisplayWithTheReason) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    h_->click(QStringLiteral("bad.fit"));
    EXPECT_EQ(h_->text("Label2"), QString::fromUtf8("Format non supporté.Mot clé \"NAXIS < 2\""));
    EXPECT_EQ(h_->text("Label1"), QStringLiteral(" "));
    const QImage p = preview();
    for (QPoint at : {QPoint(0, 0), QPoint(100, 100), QPoint(239, 239)})
        EXPECT_EQ(p.pixel(at) & 0xFFFFFF, 0u);
    EXPECT_TRUE(h_->errors.isEmpty());
}

TEST_F(MainWindow, UnselectingTheFocusedFileByControlClickLoadsNothing) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    ASSERT_EQ(h_->text("Label2"), QStringLiteral("a.fit  64x64  16 bits"));
    h_->click(QStringLiteral("a.fit"), Qt::ControlModifier);
    EXPECT_FALSE(h_->list()->item(h_->rowOf("a.fit"))->isSelected());
    EXPECT_EQ(h_->text("Label2"), QString::fromUtf8("Format non supporté."));
}

TEST_F(MainWindow, ScrollBarMovesRedrawOnlyWhenTheTimerFires) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    countRedraws();
    auto* bar = h_->widget<QScrollBar>("ScrollBar1");
    const int start = bar->value();
    for (int i = 1; i <= 5; ++i)
        bar->setValue(start - 100 * i);  // as a drag does
    EXPECT_EQ(redraws_, 0);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 1000);
    EXPECT_EQ(viewer().controls.scrollBar1.position(), start - 500);
    EXPECT_EQ(h_->text("Edit1"),
              QString::fromStdString(Viewer::ThresholdText(viewer().levels.low, 1)));
    fireTimer();
    EXPECT_EQ(redraws_, 1);
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(MainWindow, ScrollBarKeysMoveTheWayOfAValueSlider) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    auto* bar = h_->widget<QScrollBar>("ScrollBar2");
    bar->setValue(15000);
    const ScrollBarModel& model = viewer().controls.scrollBar2;
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
    auto* bar1 = h_->widget<QScrollBar>("ScrollBar1");
    const int other = viewer().controls.scrollBar2.position();
    bar1->setValue(other);
    // The core nudged its model; the widget follows it without running the handler again.
    EXPECT_EQ(viewer().controls.scrollBar1.position(), other + 1);
    EXPECT_EQ(bar1->value(), other + 1);
}

TEST_F(MainWindow, EnterAppliesTypedThresholdsAtOnceAndPressesNoButton) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    countRedraws();
    h_->typeAndEnter("Edit1", QStringLiteral("10"));
    EXPECT_EQ(redraws_, 1);
    h_->typeAndEnter("Edit2", QStringLiteral("1e3"));
    EXPECT_EQ(redraws_, 2);
    EXPECT_EQ(viewer().levels.low, 10);
    EXPECT_EQ(viewer().levels.high, 1000);
    EXPECT_EQ(h_->text("Edit2"), QStringLiteral("1e3"));  // left as typed
    EXPECT_EQ(viewer().controls.scrollBar2.position(), viewer().positionOf(1000));
    EXPECT_EQ(h_->widget<QScrollBar>("ScrollBar2")->value(), viewer().positionOf(1000));
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
    h_->widget<QLineEdit>("Edit1")->setText(QStringLiteral("5"));
    h_->typeAndEnter("Edit2", QStringLiteral("abc"));
    ASSERT_EQ(h_->errors.size(), 1);
    EXPECT_EQ(h_->errors.front(), QStringLiteral("'abc' is not a valid floating point value"));
    EXPECT_EQ(redraws_, 0);
    EXPECT_EQ(viewer().levels.low, 5);  // Min was taken before the failure
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(viewer().levels.settingScrollBars);

    auto* bar = h_->widget<QScrollBar>("ScrollBar1");
    bar->setValue(bar->value() + 700);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(h_->text("Edit1"),
              QString::fromStdString(Viewer::ThresholdText(viewer().levels.low, 1)));
    fireTimer();
    EXPECT_EQ(redraws_, 1);
}

TEST_F(MainWindow, ModeButtonsRecomputeTheThresholds) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    // Without header thresholds "data" gives what "en-tête" gave: no bar moves, nothing to
    // redraw.
    h_->widget<QRadioButton>("RadioGroup2Item1")->click();
    EXPECT_EQ(viewer().controls.radioGroup2, 1);
    EXPECT_EQ(viewer().levels.mode, 1);
    EXPECT_FALSE(timer()->isActive());
    // "70%" narrows both: the bars move, snap the thresholds to their grid, and schedule
    // the redraw.
    h_->widget<QRadioButton>("RadioGroup2Item4")->click();
    EXPECT_EQ(viewer().levels.mode, 4);
    EXPECT_TRUE(timer()->isActive());
    const int p1 = viewer().controls.scrollBar1.position();
    EXPECT_EQ(h_->widget<QScrollBar>("ScrollBar1")->value(), p1);
    EXPECT_DOUBLE_EQ(viewer().levels.low, viewer().valueOf(p1));
    EXPECT_EQ(h_->text("Edit1"),
              QString::fromStdString(Viewer::ThresholdText(viewer().levels.low, 1)));
}

TEST_F(MainWindow, ChoosingAnotherPaletteRedrawsInItsColours) {
    openImages();
    h_->click(QStringLiteral("wide.fit"));
    QRgb before = preview().pixel(300, 120);
    ASSERT_EQ(qRed(before), qGreen(before));
    auto* luts = h_->widget<QComboBox>("ComboBox1");
    luts->setCurrentIndex(luts->findText(QStringLiteral("red")));
    EXPECT_EQ(viewer().controls.comboBox1.text, "red");
    const QRgb after = preview().pixel(300, 120);
    EXPECT_GT(qRed(after), 100);
    EXPECT_EQ(qGreen(after), 0);
    const QImage bar = h_->widget("Image2")->grab().toImage();
    EXPECT_EQ(qGreen(bar.pixel(296, 7)), 0);
    EXPECT_GT(qRed(bar.pixel(296, 7)), 247);
}

TEST_F(MainWindow, FilterListAndPictureColoursReachTheModel) {
    auto* filters = h_->widget<QComboBox>("ComboBox3");
    filters->setCurrentIndex(6);  // as picked from the list
    h_->clickButton("RadioGroup1Item0");
    EXPECT_EQ(viewer().controls.comboBox3.index, 6);
    EXPECT_EQ(viewer().controls.comboBox3.text, "Gauss");
    EXPECT_EQ(viewer().controls.radioGroup1, 0);

    // A typed name is not a choice from the list.
    filters->lineEdit()->selectAll();
    QTest::keyClicks(filters->lineEdit(), QStringLiteral("Edge x"));
    h_->clickButton("SpeedButton1");  // any event brings the model in step
    EXPECT_EQ(viewer().controls.comboBox3.index, -1);
    EXPECT_EQ(viewer().controls.comboBox3.text, "Edge x");
    EXPECT_EQ(filters->currentText(), QStringLiteral("Edge x"));

    // Enter on an item's name picks that item.
    filters->lineEdit()->selectAll();
    QTest::keyClicks(filters->lineEdit(), QStringLiteral("Focus 2"));
    QTest::keyClick(filters->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(viewer().controls.comboBox3.index, 8);
    EXPECT_EQ(filters->count(), 15);  // nothing inserted
}

TEST_F(MainWindow, FlipButtonsMirrorThePreviewAndFollowTheModel) {
    openImages();
    h_->click(QStringLiteral("wide.fit"));
    auto* flipH = h_->widget<QAbstractButton>("SpeedButton3");
    auto* flipV = h_->widget<QAbstractButton>("SpeedButton2");
    QImage p = preview();
    ASSERT_LT(Grey(p.pixel(2, 120)), Grey(p.pixel(300, 120)));
    h_->clickButton("SpeedButton3");
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
    h_->clickButton("SpeedButton2");
    EXPECT_TRUE(flipV->isChecked());
    p = preview();
    EXPECT_LT(Grey(p.pixel(60, 2)), Grey(p.pixel(60, 237)));

    h_->clickButton("SpeedButton6");  // no sky coordinates: both off
    EXPECT_FALSE(flipH->isChecked());
    EXPECT_FALSE(flipV->isChecked());
    EXPECT_FALSE(viewer().zoom.flipVertical);
}

TEST_F(MainWindow, ReadoutShowsThePixelUnderThePointer) {
    openImages();
    h_->click(QStringLiteral("a.fit"));
    ASSERT_EQ(h_->widget("Image1")->width(), 240);
    // Column Round(120 / 240 * 64) = 32, row Round(60 / 240 * 64) = 16 from the top, which
    // is row 63 - 16 = 47 of the file: 47 * 100 + 32.
    h_->moveOver(QPoint(120, 60));
    EXPECT_EQ(h_->text("Label1"), QStringLiteral("X:    32   Y:    16   I: 4732"));
    // The first column of the preview reads nothing.
    h_->moveOver(QPoint(0, 100));
    EXPECT_EQ(h_->text("Label1"), QStringLiteral("X:    32   Y:    16   I: 4732"));
    h_->moveOver(QPoint(3, 237));
    EXPECT_EQ(h_->text("Label1"), QStringLiteral("X:     1   Y:    63   I: 1"));
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
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("a.fit  64x64  16 bits"));

    h_->drag(QPoint(10, 10), QPoint(100, 80));
    h_->pressOn(QPoint(50, 50));
    // Columns Round(10 / 240 * 64) = 3 to Round(100 / 240 * 64) = 27, rows 3 to 21.
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("a.fit  24x18  16 bits"));
    EXPECT_EQ(h_->widget("Image1")->width(), 320);
    EXPECT_FALSE(viewer().band.shown);

    h_->drag(QPoint(40, 30), QPoint(200, 150));
    h_->pressOn(QPoint(100, 100));
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("a.fit  12x9  16 bits"));

    // One level of history: "Zoom prec." twice shows the same window.
    h_->clickButton("SpeedButton5");
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("a.fit  24x18  16 bits"));
    h_->clickButton("SpeedButton5");
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("a.fit  24x18  16 bits"));
    h_->clickButton("SpeedButton4");
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("a.fit  64x64  16 bits"));
    EXPECT_EQ(h_->widget("Image1")->width(), 240);
}

TEST_F(MainWindow, LayerEditAndItsSpinnerChooseThePlane) {
    openImages();
    // Nothing loaded: typing in the field loads nothing.
    h_->widget<QLineEdit>("Edit4")->setText(QStringLiteral("2"));
    EXPECT_EQ(h_->text("Label2"), QStringLiteral(" "));
    h_->widget<QLineEdit>("Edit4")->setText(QStringLiteral("0"));

    h_->click(QStringLiteral("cube.fit"));
    EXPECT_EQ(h_->text("Edit4"), QStringLiteral("1"));
    EXPECT_EQ(h_->text("Label10"), QStringLiteral("/3"));
    h_->moveOver(QPoint(100, 100));
    EXPECT_TRUE(h_->text("Label1").endsWith(QStringLiteral("I: 100")));

    h_->clickButton("UpDown1Up");
    EXPECT_EQ(h_->text("Edit4"), QStringLiteral("2"));
    EXPECT_EQ(viewer().image.currentPlane, 2);
    h_->moveOver(QPoint(101, 100));
    EXPECT_TRUE(h_->text("Label1").endsWith(QStringLiteral("I: 200")))
        << h_->text("Label1").toStdString();

    // A plane past the last is clamped, and the field shows the plane read.
    auto* edit = h_->widget<QLineEdit>("Edit4");
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("9"));
    EXPECT_EQ(viewer().image.currentPlane, 3);
    EXPECT_EQ(h_->text("Edit4"), QStringLiteral("3"));
    h_->moveOver(QPoint(102, 100));
    EXPECT_TRUE(h_->text("Label1").endsWith(QStringLiteral("I: 300")));

    h_->clickButton("UpDown1Down");
    EXPECT_EQ(viewer().image.currentPlane, 2);
}

TEST_F(MainWindow, SelectAllAndNoneMarkEveryItemWithoutLoading) {
    openImages();
    h_->clickButton("BitBtn5");
    for (int i = 0; i < h_->list()->count(); ++i)
        EXPECT_TRUE(h_->list()->item(i)->isSelected());
    EXPECT_EQ(h_->text("Label2"), QStringLiteral(" "));
    h_->clickButton("BitBtn6");
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
    auto* dest = h_->widget<QLineEdit>("DirectoryEdit1");
    dest->setText(QStringLiteral("out"));
    h_->clickButton("CheckBox1");
    h_->clickButton("BitBtn1");
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
    EXPECT_EQ(h_->text("Label2"), QStringLiteral("wide.fit  64x32  16 bits"));
}

TEST_F(MainWindow, SaveIntoAMissingFolderStopsWithTheErrorBox) {
    openImages();
    h_->clickButton("BitBtn5");
    h_->widget<QLineEdit>("DirectoryEdit1")->setText(QStringLiteral("missing/sub"));
    h_->clickButton("BitBtn1");
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
    h_->clickButton("DirectoryEdit1Button");
    EXPECT_EQ(fs::current_path(), ws_.images());
    EXPECT_EQ(h_->text("DirectoryEdit1"), QString::fromStdString(elsewhere.string()));
    EXPECT_EQ(viewer().controls.directoryEdit1, elsewhere.string());
    EXPECT_TRUE(h_->errors.isEmpty());

    // Cancelled: the field keeps its text.
    h_->form().setDirectoryChooser(
        [](QWidget*, const QString&, const QString&) { return QString(); });
    h_->clickButton("DirectoryEdit1Button");
    EXPECT_EQ(h_->text("DirectoryEdit1"), QString::fromStdString(elsewhere.string()));
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
    h_->clickButton("DirectoryEdit1Button");
    ASSERT_EQ(h_->errors.size(), 1);
    EXPECT_EQ(h_->errors.front(), QStringLiteral("I/O error 2"));
    EXPECT_TRUE(h_->form().isVisible());
}

TEST_F(MainWindow, CancelButtonAndEscapeCloseTheWindow) {
    h_->clickButton("BitBtn4");
    EXPECT_FALSE(h_->form().isVisible());
    EXPECT_EQ(h_->form().result(), QDialog::Rejected);
    h_->form().show();
    QTest::keyClick(&h_->form(), Qt::Key_Escape);
    EXPECT_FALSE(h_->form().isVisible());
}

}  // namespace
}  // namespace pelorin::uitest
