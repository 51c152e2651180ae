#include "ui/FullSizeWindow.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ui/BitmapImage.h"
#include "ui/Widgets.h"

namespace pelorin::ui {
namespace {

constexpr int kMemoLeft = 8;
constexpr int kMemoTop = 8;
constexpr int kMemoWidth = 585;
constexpr int kMemoHeight = 360;

QString FromModel(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

FullSizeImage::FullSizeImage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("preview"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
}

void FullSizeImage::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    emit pointerMoved(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
}

void FullSizeImage::setPicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void FullSizeImage::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (picture_.isNull() || width() <= 0 || height() <= 0) {
        p.fillRect(event->rect(), Qt::black);
        return;
    }
    // Only the exposed part is scaled: the picture may be eight times a 4000-pixel bitmap.
    const QRect target = event->rect();
    const double sx = static_cast<double>(picture_.width()) / width();
    const double sy = static_cast<double>(picture_.height()) / height();
    const QRectF source(target.x() * sx, target.y() * sy, target.width() * sx,
                        target.height() * sy);
    p.drawImage(QRectF(target), picture_, source);
}

FullSizeWindow::FullSizeWindow(QWidget* parent) : QDialog(parent), runModal_(DefaultModalRunner()) {
    setObjectName(QStringLiteral("fullSizeWindow"));
    setWindowTitle(QStringLiteral("Taille réelle"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_->setBackgroundRole(QPalette::Window);
    content_ = new QWidget;
    image_ = new FullSizeImage(content_);
    image_->move(0, 0);
    memo_ = new QPlainTextEdit(content_);
    memo_->setObjectName(QStringLiteral("headerView"));
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(11);
    memo_->setFont(fixed);
    memo_->setGeometry(kMemoLeft, kMemoTop, kMemoWidth, kMemoHeight);
    memo_->hide();
    memo_->installEventFilter(this);
    scroll_->setWidget(content_);
    scroll_->viewport()->installEventFilter(this);
    scroll_->viewport()->setCursor(Qt::OpenHandCursor);
    layout->addWidget(scroll_);
    // The readout of the pixel under the pointer, in the main window's fixed-pitch face, with
    // the sky position on its second line.
    readout_ = new QLabel(QStringLiteral(" "), this);
    readout_->setObjectName(QStringLiteral("fullSizeReadout"));
    readout_->setTextFormat(Qt::PlainText);
    readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    readout_->setContentsMargins(4, 1, 4, 1);
    QFont mono = readout_->font();
    mono.setFamily(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    readout_->setFont(mono);
    readout_->setFixedHeight(2 * QFontMetrics(mono).lineSpacing() + 4);
    layout->addWidget(readout_);
    connect(image_, &FullSizeImage::pointerMoved, this, [this](int x, int y) {
        if (readoutSource_)
            readout_->setText(readoutSource_(x, y, image_->width(), image_->height()));
    });
    resize(613, 404);
}

QSize FullSizeWindow::HeaderClientSize() {
    return {kMemoWidth + 20, kMemoHeight + 20};
}

void FullSizeWindow::showFullSize(const QString& caption, const Bitmap& bitmap) {
    memo_->hide();
    image_->show();
    setWindowTitle(caption);
    QImage picture = ToQImage(bitmap);
    if (!picture.isNull()) picture = picture.convertToFormat(QImage::Format_RGB32);
    bitmapSize_ = picture.isNull() ? QSize(0, 0) : picture.size();
    image_->setPicture(std::move(picture));
    zoom_ = InitialViewerZoom(bitmapSize_.width(), bitmapSize_.height());
    applyZoom();

    // The window is sized frame included, against the whole screen. Its frame is known once
    // it has been shown; before that the frame of the window it opens over stands in.
    QSize screenSize(bitmapSize_.width() + 20, bitmapSize_.height() + 40);
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        screenSize = s->geometry().size();
    QSize frame = frameGeometry().size() - size();
    if (frame.width() <= 0 && frame.height() <= 0) {
        if (const QWidget* over = QApplication::activeWindow())
            frame = over->frameGeometry().size() - over->size();
    }
    // Wide enough for the caption with its zoom hint, plus the frame's buttons. Window
    // managers often draw titles in a bold face, a little wider than the window's own.
    QFont titleFont = font();
    titleFont.setBold(true);
    const QString title = FromModel(ViewerShownCaption(caption.toStdString()));
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(title) * 11 / 10 + 120;
    const WindowSize size =
        FullSizeClientSize(bitmapSize_.width(), bitmapSize_.height(), screenSize.width(),
                           screenSize.height(), frame.width(), frame.height(), titleWidth);
    // The readout line below the picture, as long as the screen has room for it.
    readout_->setText(QStringLiteral(" "));
    readout_->show();
    const int line = readout_->maximumHeight();
    const int room = std::max(size.height, screenSize.height() - std::max(0, frame.height()));
    resize(size.width, std::min(size.height + line, room));
    centreOnScreen();
    runModal_(*this);
}

void FullSizeWindow::showHeader(const QString& path, const QStringList& lines) {
    memo_->setPlainText(lines.join(QLatin1Char('\n')));
    memo_->moveCursor(QTextCursor::Start);
    setWindowTitle(path);
    image_->hide();
    readout_->hide();
    memo_->show();
    content_->resize(kMemoLeft + kMemoWidth + kMemoLeft, kMemoTop + kMemoHeight + kMemoTop);
    resize(HeaderClientSize());
    centreOnScreen();
    memo_->setFocus();
    runModal_(*this);
    memo_->hide();
    image_->show();
    applyZoom();
}

void FullSizeWindow::centreOnScreen() {
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) return;
    const QRect area = s->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void FullSizeWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        baseCaption_ = windowTitle();
        setWindowTitle(FromModel(ViewerShownCaption(baseCaption_.toStdString())));
    }
}

void FullSizeWindow::done(int result) {
    // Every showing starts again at the bitmap's own size.
    zoom_ = InitialViewerZoom(bitmapSize_.width(), bitmapSize_.height());
    applyZoom();
    QDialog::done(result);
}

void FullSizeWindow::applyZoom() {
    image_->resize(zoom_.pictureWidth, zoom_.pictureHeight);
    if (image_->isVisibleTo(this) || !memo_->isVisibleTo(this))
        content_->resize(zoom_.pictureWidth, zoom_.pictureHeight);
}

bool FullSizeWindow::handleZoomKey(const QKeyEvent* event) {
    const QString text = event->text();
    if (text.size() != 1) return false;
    const char key = text.at(0).toLatin1();
    if (key != '+' && key != '-' && key != '0') return false;
    zoom_.scrollX = scroll_->horizontalScrollBar()->value();
    zoom_.scrollY = scroll_->verticalScrollBar()->value();
    if (key == '0') {
        ResetViewerZoom(zoom_, bitmapSize_.width(), bitmapSize_.height());
        showZoom(FromModel(ViewerZoomCaption(baseCaption_.toStdString(), zoom_.level)));
    } else if (ApplyViewerZoomKey(zoom_, key, bitmapSize_.width(), bitmapSize_.height())) {
        showZoom(FromModel(ViewerZoomCaption(baseCaption_.toStdString(), zoom_.level)));
    }
    return true;
}

void FullSizeWindow::showZoom(const QString& caption) {
    applyZoom();
    // The scroll area takes the new picture size into its bars' ranges later on; the
    // positions asked for must not be clamped to the ranges of the old size meanwhile.
    const QSize view = scroll_->maximumViewportSize();
    scroll_->horizontalScrollBar()->setRange(0, std::max(0, zoom_.pictureWidth - view.width()));
    scroll_->verticalScrollBar()->setRange(0, std::max(0, zoom_.pictureHeight - view.height()));
    scroll_->horizontalScrollBar()->setValue(zoom_.scrollX);
    scroll_->verticalScrollBar()->setValue(zoom_.scrollY);
    setWindowTitle(caption);
}

bool FullSizeWindow::handleViewportEvent(QEvent* event) {
    if (!image_->isVisibleTo(this)) return false;
    switch (event->type()) {
        case QEvent::Wheel: {
            auto* wheel = static_cast<QWheelEvent*>(event);
            const int steps = TakeWheelSteps(wheelRest_, wheel->angleDelta().y());
            const QPoint at = wheel->position().toPoint();
            zoom_.scrollX = scroll_->horizontalScrollBar()->value();
            zoom_.scrollY = scroll_->verticalScrollBar()->value();
            if (steps != 0 && ApplyViewerWheel(zoom_, steps, at.x(), at.y(), bitmapSize_.width(),
                                               bitmapSize_.height()))
                showZoom(FromModel(ViewerScaleCaption(baseCaption_.toStdString(), zoom_.scale)));
            return true;
        }
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(event);
            if (press->button() != Qt::LeftButton && press->button() != Qt::MiddleButton)
                return false;
            dragging_ = true;
            dragFrom_ = press->position().toPoint();
            scrollFrom_ = {scroll_->horizontalScrollBar()->value(),
                           scroll_->verticalScrollBar()->value()};
            scroll_->viewport()->setCursor(Qt::ClosedHandCursor);
            return true;
        }
        case QEvent::MouseMove: {
            if (!dragging_) return false;
            // The picture follows the pointer.
            const QPoint moved = static_cast<QMouseEvent*>(event)->position().toPoint() - dragFrom_;
            scroll_->horizontalScrollBar()->setValue(scrollFrom_.x() - moved.x());
            scroll_->verticalScrollBar()->setValue(scrollFrom_.y() - moved.y());
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (!dragging_) return false;
            dragging_ = false;
            scroll_->viewport()->setCursor(Qt::OpenHandCursor);
            return true;
        default:
            return false;
    }
}

void FullSizeWindow::keyPressEvent(QKeyEvent* event) {
    if (handleZoomKey(event)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);  // Escape closes
}

bool FullSizeWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scroll_->viewport() && handleViewportEvent(event)) return true;
    // The text pane shares the window's keys.
    if (watched == memo_ && event->type() == QEvent::KeyPress &&
        handleZoomKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

}  // namespace pelorin::ui
