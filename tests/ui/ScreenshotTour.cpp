// Walks the windows through a typical session and saves what they look like, for a person
// to look at: the main window at start, after loading a FITS file, after a rectangle zoom,
// the header view and the full-size view. Not a test: it asserts nothing.
//
// Usage: ui_screenshots <folder with images> <output folder>
// Run it from a folder that holds "palettes" (the source tree's root).
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextStream>
#include <cstdio>

#include "ui/FullSizeWindow.h"
#include "ui/MainWindow.h"
#include "ui/StartWindow.h"

using namespace pelorin::ui;

namespace {

void Save(QWidget& w, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name);
    w.grab().save(path);
    std::printf("%s  %dx%d\n", qPrintable(path), w.width(), w.height());
}

int RowOf(QListWidget* list, const QString& name) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == name) return i;
    return -1;
}

void Click(QListWidget* list, int row, Qt::MouseButton button = Qt::LeftButton) {
    const QRect r = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), button, {}, r.center());
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelorin"));
    if (argc < 3) {
        std::fprintf(stderr, "usage: ui_screenshots <images folder> <output folder>\n");
        return 2;
    }
    const QString images = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);

    StartWindow start;
    start.setFixedSize(start.size());
    start.show();
    Save(start, out, QStringLiteral("start.png"));
    start.hide();

    MainWindow form;
    FullSizeWindow big;
    form.setFullSizeViewer(&big);
    form.show();
    std::printf("main window minimum size %dx%d\n", form.minimumSizeHint().width(),
                form.minimumSizeHint().height());
    if (QLayout* root = form.layout()) {
        for (int i = 0; i < root->count(); ++i) {
            QLayout* column = root->itemAt(i)->layout();
            if (!column) continue;
            std::printf("column %d minimum %d\n", i, column->minimumSize().width());
            for (int j = 0; j < column->count(); ++j)
                std::printf("  row %d minimum %d\n", j, column->itemAt(j)->minimumSize().width());
        }
    }
    form.selectFolder(images);
    QApplication::processEvents();
    Save(form, out, QStringLiteral("main_start.png"));

    auto* list = form.findChild<QListWidget*>(QStringLiteral("fileList"));
    const QString fits = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("m51_sim.fit");
    const int row = RowOf(list, fits);
    if (row < 0) {
        std::fprintf(stderr, "%s not in the list\n", qPrintable(fits));
        return 1;
    }
    Click(list, row);
    QApplication::processEvents();
    Save(form, out, QStringLiteral("main_loaded.png"));

    QWidget* preview = form.findChild<QWidget*>(QStringLiteral("preview"));
    QTest::mouseMove(preview, QPoint(120, 140));
    QApplication::processEvents();
    Save(form, out, QStringLiteral("main_readout.png"));

    QTest::mousePress(preview, Qt::LeftButton, {}, QPoint(60, 50));
    for (int i = 1; i <= 10; ++i) {
        QMouseEvent move(QEvent::MouseMove, QPointF(60 + 10 * i, 50 + 8 * i),
                         preview->mapToGlobal(QPointF(60 + 10 * i, 50 + 8 * i)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(preview, &move);
    }
    QTest::mouseRelease(preview, Qt::LeftButton, {}, QPoint(160, 130));
    QApplication::processEvents();
    Save(form, out, QStringLiteral("main_band.png"));
    QTest::mouseClick(preview, Qt::LeftButton, {}, QPoint(100, 90));
    QApplication::processEvents();
    Save(form, out, QStringLiteral("main_zoomed.png"));

    big.setModalRunner([&](QDialog& d) {
        d.show();
        QApplication::processEvents();
        Save(d, out, QStringLiteral("header.png"));
        d.done(QDialog::Rejected);
        return 0;
    });
    Click(list, row, Qt::RightButton);

    int shot = 0;
    big.setModalRunner([&](QDialog& d) {
        d.show();
        QApplication::processEvents();
        Save(d, out, QStringLiteral("fullsize_%1.png").arg(shot++));
        QTest::keyClick(&d, '+');
        QTest::mouseMove(big.image(), QPoint(40, 30));  // the readout line under the picture
        QApplication::processEvents();
        Save(d, out, QStringLiteral("fullsize_%1.png").arg(shot++));
        std::printf("caption: %s\n", qPrintable(d.windowTitle()));
        std::printf(
            "scroll %d %d of %d %d; focus %s\n", big.scrollArea()->horizontalScrollBar()->value(),
            big.scrollArea()->verticalScrollBar()->value(),
            big.scrollArea()->horizontalScrollBar()->maximum(),
            big.scrollArea()->verticalScrollBar()->maximum(),
            QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                        : "none");
        d.done(QDialog::Rejected);
        return 0;
    });
    QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("fullSizeButton")), Qt::LeftButton);
    return 0;
}
