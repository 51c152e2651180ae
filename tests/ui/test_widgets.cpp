// The pieces under the windows: bitmap conversion and nearest-pixel stretching, header text
// decoding, the threshold scroll bars' keys, the plane spinner and the file list's clicks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "ui/BitmapImage.h"
#include "ui/Widgets.h"
#include "viewer/Viewer.h"

namespace pelorin::uitest {
namespace {

using namespace pelorin::ui;

Bitmap Indexed(int w, int h, std::vector<RgbColour> palette) {
    Bitmap b;
    b.create(w, h, 8);
    b.setPalette(std::move(palette));
    return b;
}

TEST(BitmapImage, EightBitBitmapsKeepTheirIndicesAndPalette) {
    Bitmap b = Indexed(3, 2, std::vector<RgbColour>(256));
    std::vector<RgbColour> palette(256);
    palette[7] = {10, 20, 30};
    palette[255] = {255, 128, 0};
    b.setPalette(palette);
    b.row(0)[1] = 7;
    b.row(1)[2] = 255;
    const QImage image = ToQImage(b);
    ASSERT_EQ(image.format(), QImage::Format_Indexed8);
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixelIndex(1, 0), 7);
    EXPECT_EQ(image.pixel(1, 0), qRgb(10, 20, 30));
    EXPECT_EQ(image.pixel(2, 1), qRgb(255, 128, 0));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
}

TEST(BitmapImage, AShortPaletteIsPaddedWithBlack) {
    Bitmap b = Indexed(2, 1, {{1, 2, 3}, {4, 5, 6}});
    b.row(0)[0] = 1;
    b.row(0)[1] = 200;  // beyond the bitmap's own table
    const QImage image = ToQImage(b);
    EXPECT_EQ(image.colorCount(), 256);
    EXPECT_EQ(image.pixel(0, 0), qRgb(4, 5, 6));
    EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(StretchNearest(b, 2, 1, 2).pixel(1, 0), qRgb(0, 0, 0));
}

TEST(BitmapImage, TrueColourBitmapsAreReadBlueGreenRed) {
    Bitmap b;
    b.create(2, 2, 24);
    std::uint8_t* row = b.row(1);
    row[3] = 30;  // blue of pixel (1, 1)
    row[4] = 20;  // green
    row[5] = 10;  // red
    const QImage image = ToQImage(b);
    EXPECT_EQ(image.pixel(1, 1), qRgb(10, 20, 30));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(StretchNearest(b, 4, 4, 4).pixel(3, 3), qRgb(10, 20, 30));
}

TEST(BitmapImage, EmptyBitmapsGiveNullImages) {
    EXPECT_TRUE(ToQImage(Bitmap()).isNull());
    EXPECT_TRUE(StretchNearest(Bitmap(), 10, 10, 10).isNull());
    EXPECT_TRUE(StretchNearest(Indexed(1, 1, {}), 0, 10, 10).isNull());
}

// The source column each target column samples.
std::vector<int> Columns(int sourceWidth, int targetWidth) {
    std::vector<RgbColour> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i), 0, 0};
    Bitmap b = Indexed(sourceWidth, 1, palette);
    for (int x = 0; x < sourceWidth; ++x)
        b.row(0)[x] = static_cast<std::uint8_t>(x);
    const QImage image = StretchNearest(b, targetWidth, 1, targetWidth);
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        columns.push_back(qRed(image.pixel(x, 0)));
    return columns;
}

TEST(StretchNearest, EnlargingRepeatsAndShrinkingDropsWholePixels) {
    EXPECT_EQ(Columns(2, 5), (std::vector<int>{0, 0, 1, 1, 1}));
    EXPECT_EQ(Columns(4, 8), (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(Columns(6, 3), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(Columns(5, 5), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(StretchNearest, TheColourBarGivesEveryLevelOneOrTwoColumnsInOrder) {
    const std::vector<int> columns = Columns(256, 297);
    ASSERT_EQ(columns.size(), 297u);
    std::vector<int> count(256, 0);
    for (std::size_t x = 0; x < columns.size(); ++x) {
        ++count[static_cast<std::size_t>(columns[x])];
        if (x > 0) {
            EXPECT_GE(columns[x], columns[x - 1]);
        }
    }
    for (int level = 0; level < 256; ++level) {
        EXPECT_GE(count[static_cast<std::size_t>(level)], 1) << level;
        EXPECT_LE(count[static_cast<std::size_t>(level)], 2) << level;
    }
}

TEST(StretchNearest, OnlyTheVisibleColumnsAreProduced) {
    Bitmap b = Indexed(100, 10, std::vector<RgbColour>(256, RgbColour{9, 9, 9}));
    const QImage image = StretchNearest(b, 3200, 240, 320);
    EXPECT_EQ(image.size(), QSize(320, 240));
    EXPECT_EQ(image.pixel(319, 239), qRgb(9, 9, 9));
    EXPECT_EQ(StretchNearest(b, 100, 240, 320).width(), 100);
}

TEST(HeaderText, Windows1252BytesBecomeTheirCharacters) {
    EXPECT_EQ(DecodeHeaderLine("OBJECT  = 'Cr\xE9pe \x80 \x93x\x94'"),
              QString::fromUtf8("OBJECT  = 'Crépe € “x”'"));
    EXPECT_EQ(DecodeHeaderLine(std::string("A\tB", 3)), QStringLiteral("A\tB"));
}

TEST(HeaderText, ControlBytesStayOnTheirLineAsVisibleSymbols) {
    const QString line = DecodeHeaderLine(std::string("a\nb\rc\0d\x7F", 8));
    EXPECT_EQ(line.size(), 8);
    EXPECT_FALSE(line.contains(QLatin1Char('\n')));
    EXPECT_EQ(line.at(1), QChar(0x240A));
    EXPECT_EQ(line.at(3), QChar(0x240D));
    EXPECT_EQ(line.at(5), QChar(0x2400));
    EXPECT_EQ(line.at(7), QChar(0x2421));
}

TEST(ThresholdScrollBar, KeysMoveByTheStepsInTheirDirection) {
    ThresholdScrollBar bar;
    bar.setRange(0, 30000);
    bar.setSingleStep(100);
    bar.setPageStep(3000);
    bar.setValue(10000);
    QSignalSpy changes(&bar, &QScrollBar::valueChanged);
    const std::pair<Qt::Key, int> keys[] = {
        {Qt::Key_Right, 10100}, {Qt::Key_Down, 10200},  {Qt::Key_PageDown, 13200},
        {Qt::Key_Left, 13100},  {Qt::Key_Up, 13000},    {Qt::Key_PageUp, 10000},
        {Qt::Key_End, 30000},   {Qt::Key_Right, 30000}, {Qt::Key_Home, 0}};
    for (const auto& [key, expected] : keys) {
        QTest::keyClick(&bar, key);
        EXPECT_EQ(bar.value(), expected) << key;
    }
    EXPECT_EQ(changes.count(), 8);  // the clamped Right at the end changed nothing
}

TEST(PlaneEdit, ArrowsStepWithinZeroToNinetyNineWithoutWrapping) {
    PlaneEdit plane;
    QLineEdit* edit = plane.edit();
    EXPECT_EQ(edit->maxLength(), 2);
    QSignalSpy changes(edit, &QLineEdit::textChanged);
    edit->setText(QStringLiteral("98"));
    QTest::mouseClick(plane.upButton(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), QStringLiteral("99"));
    QTest::mouseClick(plane.upButton(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), QStringLiteral("99"));
    EXPECT_EQ(changes.count(), 2);  // typed 98, stepped to 99; the stop changes nothing

    edit->setText(QStringLiteral("0"));
    QTest::mouseClick(plane.downButton(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), QStringLiteral("0"));

    // A field that holds no number steps from 0.
    edit->setText(QStringLiteral("x"));
    QTest::mouseClick(plane.upButton(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), QStringLiteral("1"));
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), QStringLiteral("2"));
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text(), QStringLiteral("1"));
}

class FileListClicks : public ::testing::Test {
  protected:
    void SetUp() override {
        list_.addItems({"a.fit", "b.fit", "c.fit"});
        list_.resize(200, 300);
        list_.show();
    }
    QPoint centreOf(int row) { return list_.visualItemRect(list_.item(row)).center(); }
    FileListWidget list_;
};

TEST_F(FileListClicks, OneClickIsOneUserClickAndProgramChangesAreSilent) {
    QSignalSpy clicks(&list_, &FileListWidget::userClicked);
    QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, centreOf(1));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(list_.currentRow(), 1);
    // Clicking the file on display again reloads it.
    QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, centreOf(1));
    EXPECT_EQ(clicks.count(), 2);
    list_.setCurrentRow(2);
    list_.item(0)->setSelected(true);
    EXPECT_EQ(clicks.count(), 2);
    // Below the last item there is nothing to pick.
    QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, QPoint(5, 290));
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(FileListClicks, KeysThatMoveTheFocusCountAsClicks) {
    QSignalSpy clicks(&list_, &FileListWidget::userClicked);
    list_.setCurrentRow(0);
    list_.setFocus();
    QTest::keyClick(list_.viewport(), Qt::Key_Down);
    EXPECT_EQ(list_.currentRow(), 1);
    EXPECT_EQ(clicks.count(), 1);
    QTest::keyClick(&list_, Qt::Key_Up);
    QTest::keyClick(&list_, Qt::Key_Up);  // already at the top: nothing moves
    EXPECT_EQ(clicks.count(), 2);
}

TEST_F(FileListClicks, RightButtonReportsTheRowAndLeavesTheSelection) {
    list_.setCurrentRow(0);
    QSignalSpy rights(&list_, &FileListWidget::rightPressed);
    QSignalSpy clicks(&list_, &FileListWidget::userClicked);
    QTest::mouseClick(list_.viewport(), Qt::RightButton, {}, centreOf(2));
    QTest::mouseClick(list_.viewport(), Qt::RightButton, {}, QPoint(5, 290));
    ASSERT_EQ(rights.count(), 2);
    EXPECT_EQ(rights.at(0).at(0).toInt(), 2);
    EXPECT_EQ(rights.at(1).at(0).toInt(), -1);
    EXPECT_EQ(list_.currentRow(), 0);
    EXPECT_FALSE(list_.item(2)->isSelected());
    EXPECT_EQ(clicks.count(), 0);
}

TEST(PreviewImage, ReportsButtonsAndModifiersAsTheCoreFlags) {
    PreviewImage preview;
    preview.resize(320, 240);
    preview.show();
    QSignalSpy moves(&preview, &PreviewImage::mouseMoved);
    QSignalSpy presses(&preview, &PreviewImage::mousePressed);
    QSignalSpy pans(&preview, &PreviewImage::panStarted);
    QSignalSpy panMoves(&preview, &PreviewImage::panMoved);
    QMouseEvent move(QEvent::MouseMove, QPointF(10.7, 20.2),
                     preview.mapToGlobal(QPointF(10.7, 20.2)), Qt::NoButton,
                     Qt::LeftButton | Qt::RightButton, Qt::ShiftModifier | Qt::ControlModifier);
    QApplication::sendEvent(&preview, &move);
    QTest::mousePress(&preview, Qt::RightButton, Qt::AltModifier, QPoint(5, 6));
    ASSERT_EQ(moves.count(), 1);
    EXPECT_EQ(moves.at(0).at(0).toUInt(),
              unsigned(kLeftButton | kRightButton | kShiftKey | kControlKey));
    EXPECT_EQ(moves.at(0).at(1).toInt(), 10);  // pixels, not rounded up
    EXPECT_EQ(moves.at(0).at(2).toInt(), 20);
    ASSERT_EQ(presses.count(), 1);
    EXPECT_EQ(presses.at(0).at(0).toUInt(), unsigned(kRightButton));
    EXPECT_EQ(presses.at(0).at(1).toInt(), 5);
    EXPECT_EQ(presses.at(0).at(2).toInt(), 6);

    // The middle button drags the picture; a partial wheel turn waits for the rest of its
    // step, and '=' stands for '+' (the same key without Shift).
    QTest::mouseRelease(&preview, Qt::RightButton, {}, QPoint(5, 6));
    QTest::mousePress(&preview, Qt::MiddleButton, {}, QPoint(7, 8));
    QMouseEvent drag(QEvent::MouseMove, QPointF(9, 8), preview.mapToGlobal(QPointF(9, 8)),
                     Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
    QApplication::sendEvent(&preview, &drag);
    ASSERT_EQ(pans.count(), 1);
    ASSERT_EQ(panMoves.count(), 1);
    EXPECT_EQ(panMoves.at(0).at(0).toInt(), 9);
    EXPECT_EQ(presses.count(), 1);
    EXPECT_EQ(moves.count(), 1);
    int rest = 0;
    EXPECT_EQ(TakeWheelSteps(rest, 60), 0);
    EXPECT_EQ(TakeWheelSteps(rest, 60), 1);
    EXPECT_EQ(TakeWheelSteps(rest, -250), -2);
    EXPECT_EQ(rest, -10);
    EXPECT_EQ(ZoomKeyOf(QStringLiteral("=")), '+');
    EXPECT_EQ(ZoomKeyOf(QStringLiteral("a")), 0);
}

}  // namespace
}  // namespace pelorin::uitest
