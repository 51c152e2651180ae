// The second window: the header view opened by a right click in the file list, and the
// full-size view of "Taille réelle", with their captions, sizes and zoom keys.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "UiTestSupport.h"
#include "ui/BitmapImage.h"
#include "ui/FullSizeWindow.h"
#include "ui/MainWindow.h"

namespace pelorin::uitest {
namespace {

using ui::FullSizeWindow;

std::vector<std::uint8_t> Flat(int w, int h, std::int16_t value,
                               const std::vector<std::string>& cards = {}) {
    return Fits16(w, h, std::vector<std::int16_t>(static_cast<std::size_t>(w) * h, value), cards);
}

std::vector<std::uint8_t> SmallBmp() {
    Bitmap b;
    b.create(2, 2, 24);
    return b.toBmpBytes();
}

std::vector<std::uint8_t> WithoutSimple() {
    return test::FitsFile({test::Card("BITPIX", "16"), test::Card("NAXIS", "2"),
                           test::Card("NAXIS1", "2"), test::Card("NAXIS2", "2")},
                          std::vector<std::uint8_t>(8, 0));
}

class SecondWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        // The object name has an e acute in Windows-1252.
        ws_.write("obj.fit", Flat(64, 32, 7, {test::Card("OBJECT", "'Cr\xE9pe'")}));
        ws_.write("big.fit", Flat(900, 20, 3));
        ws_.write("sky.fit",
                  Flat(64, 32, 7,
                       {test::Card("CTYPE1", "'RA---TAN'"), test::Card("CTYPE2", "'DEC--TAN'"),
                        test::Card("CRPIX1", "32.5"), test::Card("CRPIX2", "16.5"),
                        test::Card("CRVAL1", "150"), test::Card("CRVAL2", "30"),
                        test::Card("CD1_1", "-0.001"), test::Card("CD2_2", "0.001")}));
        ws_.write("pic.bmp", SmallBmp());
        ws_.write("nosimple.fit", WithoutSimple());
        h_ = std::make_unique<Harness>();
        ASSERT_TRUE(h_->form().selectFolder(QString::fromStdString(ws_.images().string())));
    }
    FullSizeWindow& big() { return h_->big(); }

    Workspace ws_;
    std::unique_ptr<Harness> h_;
};

TEST_F(SecondWindow, RightClickOnAFitsFileShowsItsHeader) {
    const QString path = QString::fromStdString(ws_.image("obj.fit"));
    int shown = 0;
    big().setModalRunner([&](QDialog& d) {
        ++shown;
        d.show();
        EXPECT_EQ(d.windowTitle(), path + QStringLiteral("Zoom +/-"));
        QPlainTextEdit* memo = big().memo();
        EXPECT_TRUE(memo->isVisible());
        EXPECT_FALSE(big().image()->isVisible());
        EXPECT_TRUE(memo->isReadOnly());
        EXPECT_EQ(memo->geometry(), QRect(8, 8, 585, 360));
        EXPECT_EQ(d.size(), QSize(605, 380));
        EXPECT_TRUE(memo->font().fixedPitch() || QFontInfo(memo->font()).fixedPitch());
        // One line per card of the block holding END, blank cards included.
        const QStringList lines = memo->toPlainText().split(QLatin1Char('\n'));
        EXPECT_EQ(lines.size(), 36);
        EXPECT_TRUE(lines.front().startsWith(QStringLiteral("SIMPLE  =")));
        EXPECT_EQ(lines.front().size(), 80);
        EXPECT_TRUE(memo->toPlainText().contains(QStringLiteral("'Crépe'")));
        // The text pane shares the zoom keys of the window.
        QTest::keyClick(memo, '+');
        EXPECT_EQ(big().zoomLevel(), 1);
        EXPECT_EQ(d.windowTitle(), path + QStringLiteral("  Zoom x2"));
        QTest::keyClick(memo, '-');
        QTest::keyClick(memo, '-');
        EXPECT_EQ(d.windowTitle(), path + QStringLiteral("  Zoom x0.5"));
        QTest::keyClick(memo, Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
        return 0;
    });
    h_->rightClick(QStringLiteral("obj.fit"));
    EXPECT_EQ(shown, 1);
    // Back to the picture, at level 0, and the list's selection untouched by the click.
    EXPECT_FALSE(big().memo()->isVisibleTo(&big()));
    EXPECT_TRUE(big().image()->isVisibleTo(&big()));
    EXPECT_EQ(big().zoomLevel(), 0);
    EXPECT_TRUE(h_->list()->selectedItems().isEmpty());
    EXPECT_TRUE(h_->errors.isEmpty());
}

TEST_F(SecondWindow, RightClicksThatListNothingOpenNothing) {
    h_->click(QStringLiteral("obj.fit"));
    ASSERT_NE(h_->text("statusLabel").trimmed(), QString());
    h_->rightClick(QStringLiteral("pic.bmp"));
    EXPECT_EQ(h_->modalShowings, 0);
    EXPECT_EQ(h_->text("statusLabel").trimmed(), QString());  // blanked

    h_->rightClick(QStringLiteral("nosimple.fit"));
    EXPECT_EQ(h_->modalShowings, 0);
    EXPECT_EQ(h_->text("statusLabel"), QString::fromUtf8("Mot clé \"SIMPLE = T\" manquant"));

    // Below the last item.
    QTest::mousePress(h_->list()->viewport(), Qt::RightButton, {},
                      QPoint(5, h_->list()->viewport()->height() - 2));
    EXPECT_EQ(h_->modalShowings, 0);
}

TEST_F(SecondWindow, FullSizeViewShowsTheRenderingAndZoomsByPowersOfTwo) {
    h_->click(QStringLiteral("obj.fit"));
    const QString caption = h_->text("statusLabel");
    int shown = 0;
    big().setModalRunner([&](QDialog& d) {
        ++shown;
        d.show();
        EXPECT_EQ(d.windowTitle(), caption + QStringLiteral("Zoom +/-"));
        // The bitmap plus its frame, or wider where the caption needs it, and the readout
        // line under them.
        EXPECT_EQ(d.height(), 32 + 40 + big().readout()->maximumHeight());
        EXPECT_GE(d.width(), d.fontMetrics().horizontalAdvance(d.windowTitle()));
        EXPECT_EQ(big().image()->size(), QSize(64, 32));
        const QImage expected =
            ui::ToQImage(h_->form().viewer().displayBitmap).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(big().image()->picture(), expected);
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(&d, '+');
        EXPECT_EQ(big().zoomLevel(), 3);
        EXPECT_EQ(big().image()->size(), QSize(512, 256));
        EXPECT_TRUE(d.windowTitle().endsWith(QStringLiteral("  Zoom x8")));
        EXPECT_TRUE(d.windowTitle().startsWith(caption));
        for (int i = 0; i < 6; ++i)
            QTest::keyClick(&d, '-');
        EXPECT_EQ(big().zoomLevel(), -3);
        EXPECT_EQ(big().image()->size(), QSize(8, 4));
        EXPECT_TRUE(d.windowTitle().endsWith(QStringLiteral("  Zoom x0.125")));
        QTest::keyClick(&d, 'x');  // other keys do nothing
        EXPECT_EQ(big().zoomLevel(), -3);
        d.done(QDialog::Rejected);
        return 0;
    });
    h_->clickButton("fullSizeButton");
    ASSERT_EQ(shown, 1);

    // Every showing starts again at the bitmap's own size.
    big().setModalRunner([&](QDialog& d) {
        ++shown;
        d.show();
        EXPECT_EQ(big().zoomLevel(), 0);
        EXPECT_EQ(big().image()->size(), QSize(64, 32));
        EXPECT_EQ(d.windowTitle(), caption + QStringLiteral("Zoom +/-"));
        QTest::keyClick(&d, '+');
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
        return 0;
    });
    h_->clickButton("fullSizeButton");
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(big().zoomLevel(), 0);
    EXPECT_EQ(big().image()->size(), QSize(64, 32));
}

TEST_F(SecondWindow, FullSizeViewWheelZoomsAboutThePointerAndDragsThePicture) {
    h_->click(QStringLiteral("obj.fit"));  // 64 x 32
    int shown = 0;
    big().setModalRunner([&](QDialog& d) {
        ++shown;
        d.show();
        d.resize(200, 150);
        QWidget* view = big().scrollArea()->viewport();
        QScrollBar* across = big().scrollArea()->horizontalScrollBar();
        QScrollBar* down = big().scrollArea()->verticalScrollBar();
        // Six steps of the square root of two: x8, the point under the pointer kept there.
        h_->wheel(QPoint(40, 10), 6, view);
        EXPECT_EQ(big().image()->size(), QSize(512, 256));
        EXPECT_TRUE(d.windowTitle().endsWith(QStringLiteral("  Zoom x8")));
        EXPECT_EQ(across->value(), 40 * 8 - 40);
        EXPECT_EQ(down->value(), 10 * 8 - 10);
        // Dragging with the left button moves the picture with the pointer.
        h_->dragWith(Qt::LeftButton, QPoint(100, 100), QPoint(80, 80), view);
        EXPECT_EQ(across->value(), 280 + 20);
        EXPECT_EQ(down->value(), 70 + 20);
        h_->wheel(QPoint(40, 10), -1, view);
        EXPECT_TRUE(d.windowTitle().endsWith(QStringLiteral("  Zoom x5.66")));
        QTest::keyClick(&d, '0');
        EXPECT_EQ(big().image()->size(), QSize(64, 32));
        EXPECT_EQ(big().zoomLevel(), 0);
        d.done(QDialog::Rejected);
        return 0;
    });
    h_->clickButton("fullSizeButton");
    EXPECT_EQ(shown, 1);
}

// The readout line names the pixel under the pointer, with its sky position, at every
// magnification of the view.
TEST_F(SecondWindow, FullSizeViewReadsThePixelUnderThePointer) {
    h_->click(QStringLiteral("sky.fit"));
    QStringList texts;
    big().setModalRunner([&](QDialog& d) {
        d.show();
        EXPECT_EQ(big().readout()->text(), QStringLiteral(" "));
        QTest::mouseMove(big().image(), QPoint(5, 3));
        texts << big().readout()->text();
        QTest::keyClick(&d, '+');
        QTest::mouseMove(big().image(), QPoint(11, 7));  // the same pixel, drawn 2 x 2
        texts << big().readout()->text();
        QTest::mouseMove(big().image(), QPoint(12, 7));  // the next one
        texts << big().readout()->text();
        d.done(QDialog::Rejected);
        return 0;
    });
    h_->clickButton("fullSizeButton");
    ASSERT_EQ(texts.size(), 3);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("X:     5   Y:     3   I: 7\nar: 10h00m")))
        << texts[0].toStdString();
    EXPECT_EQ(texts[1], texts[0]);
    EXPECT_TRUE(texts[2].startsWith(QStringLiteral("X:     6   Y:     3   I: 7\nar: 10h00m")))
        << texts[2].toStdString();
}

TEST_F(SecondWindow, FullSizeViewNeverOpensLargerThanTheScreen) {
    h_->click(QStringLiteral("big.fit"));
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    ASSERT_LT(screen.width(), 920) << "the test needs a screen narrower than the picture";
    big().setModalRunner([&](QDialog& d) {
        EXPECT_EQ(d.size(), QSize(screen.width(), 60 + big().readout()->maximumHeight()));
        EXPECT_EQ(big().image()->size(), QSize(900, 20));
        return 0;
    });
    h_->clickButton("fullSizeButton");
}

TEST_F(SecondWindow, KeysTypedOverTheHeaderResizeTheHiddenPicture) {
    h_->click(QStringLiteral("obj.fit"));
    big().setModalRunner([](QDialog&) { return 0; });
    h_->clickButton("fullSizeButton");  // the picture is now the 64 x 32 rendering
    big().setModalRunner([&](QDialog& d) {
        d.show();
        QTest::keyClick(big().memo(), '+');
        EXPECT_EQ(big().image()->size(), QSize(128, 64));
        EXPECT_FALSE(big().image()->isVisible());
        d.done(QDialog::Rejected);
        return 0;
    });
    h_->rightClick(QStringLiteral("obj.fit"));
    EXPECT_EQ(big().image()->size(), QSize(64, 32));
}

TEST(FullSizeImage, DrawsEachBitmapPixelAsABlockOfTheZoom) {
    Bitmap b;
    b.create(3, 2, 8);
    std::vector<RgbColour> palette(256);
    palette[1] = {255, 0, 0};
    palette[2] = {0, 0, 255};
    b.setPalette(palette);
    b.row(0)[0] = 1;  // top left red
    b.row(1)[2] = 2;  // bottom right blue
    FullSizeWindow form;
    form.setModalRunner([&](QDialog& d) {
        d.show();
        QImage shot = form.image()->grab().toImage();
        EXPECT_EQ(shot.size(), QSize(3, 2));
        EXPECT_EQ(shot.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
        EXPECT_EQ(shot.pixel(2, 1) & 0xFFFFFF, 0x0000FFu);
        QTest::keyClick(&d, '+');
        shot = form.image()->grab().toImage();
        EXPECT_EQ(shot.size(), QSize(6, 4));
        for (QPoint at : {QPoint(0, 0), QPoint(1, 1)})
            EXPECT_EQ(shot.pixel(at) & 0xFFFFFF, 0xFF0000u);
        for (QPoint at : {QPoint(4, 2), QPoint(5, 3)})
            EXPECT_EQ(shot.pixel(at) & 0xFFFFFF, 0x0000FFu);
        EXPECT_EQ(shot.pixel(2, 0) & 0xFFFFFF, 0u);  // the next pixel, not a blend
        d.done(QDialog::Rejected);
        return 0;
    });
    form.showFullSize(QStringLiteral("x"), b);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("x  Zoom x2"));
}

}  // namespace
}  // namespace pelorin::uitest
