#include "ui/Widgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "base/NumberText.h"
#include "viewer/Viewer.h"

namespace pelorin::ui {
namespace {

unsigned ButtonFlags(Qt::MouseButtons buttons) {
    unsigned flags = 0;
    if (buttons & Qt::LeftButton) flags |= kLeftButton;
    if (buttons & Qt::RightButton) flags |= kRightButton;
    if (buttons & Qt::MiddleButton) flags |= kMiddleButton;
    return flags;
}

unsigned ModifierFlags(Qt::KeyboardModifiers modifiers) {
    unsigned flags = 0;
    if (modifiers & Qt::ShiftModifier) flags |= kShiftKey;
    if (modifiers & Qt::ControlModifier) flags |= kControlKey;
    if (modifiers & Qt::AltModifier) flags |= kAltKey;
    return flags;
}

QPoint PixelOf(const QMouseEvent* event) {
    const QPointF p = event->position();
    return {static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y()))};
}

}  // namespace

// ---- Preview ----

PreviewImage::PreviewImage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("preview"));
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewImage::setPicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void PreviewImage::setBand(const SelectionBand& band) {
    band_ = band;
    update();
}

void PreviewImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.fillRect(rect(), Qt::black);
    if (!picture_.isNull()) p.drawImage(0, 0, picture_);
    if (band_.shown) {
        // A focus rectangle drawn by XOR: visible on any colour. Its right and bottom edges
        // are exclusive, as for every rectangle of the preview.
        const int l = std::min(band_.left, band_.right);
        const int r = std::max(band_.left, band_.right);
        const int t = std::min(band_.top, band_.bottom);
        const int b = std::max(band_.top, band_.bottom);
        if (r - l >= 1 && b - t >= 1) {
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            QPen pen(Qt::white);
            pen.setStyle(Qt::DotLine);
            pen.setWidth(1);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRect(QPoint(l, t), QPoint(r - 1, b - 1)));
        }
    }
}

void PreviewImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = PixelOf(event);
    if (event->buttons() & Qt::MiddleButton) {
        emit panMoved(at.x(), at.y());
        return;
    }
    emit mouseMoved(ButtonFlags(event->buttons()) | ModifierFlags(event->modifiers()), at.x(),
                    at.y());
}

void PreviewImage::mousePressEvent(QMouseEvent* event) {
    const QPoint at = PixelOf(event);
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::MiddleButton) {
        emit panStarted(at.x(), at.y());
        return;
    }
    emit mousePressed(ButtonFlags(event->button()), at.x(), at.y());
}

void PreviewImage::wheelEvent(QWheelEvent* event) {
    const int steps = TakeWheelSteps(wheelRest_, event->angleDelta().y());
    const QPointF p = event->position();
    if (steps != 0)
        emit wheelTurned(steps, static_cast<int>(std::floor(p.x())),
                         static_cast<int>(std::floor(p.y())));
    event->accept();
}

void PreviewImage::keyPressEvent(QKeyEvent* event) {
    if (const char key = ZoomKeyOf(event->text())) {
        emit zoomKeyTyped(key);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

int TakeWheelSteps(int& rest, int delta) {
    rest += delta;
    const int steps = rest / 120;
    rest -= steps * 120;
    return steps;
}

char ZoomKeyOf(const QString& text) {
    if (text == QLatin1String("+") || text == QLatin1String("=")) return '+';
    if (text == QLatin1String("-")) return '-';
    if (text == QLatin1String("0")) return '0';
    return 0;
}

// ---- Colour bar ----

ColourBarImage::ColourBarImage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("colourBar"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ColourBarImage::setPicture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void ColourBarImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!picture_.isNull()) p.drawImage(0, 0, picture_);
}

// ---- Captions ----

void CaptionLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect area = contentsRect();
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    // As many lines as the label is high, broken at blanks; the last one ends with "..."
    // where the rest does not fit.
    const QFontMetrics fm = fontMetrics();
    const int lineCount = std::max(1, area.height() / fm.lineSpacing());
    QString rest = FitCaption(text(), fm, area.width(), lineCount);
    QRect line(area.left(), area.top(), area.width(), fm.lineSpacing());
    for (int n = 0; n < lineCount && !rest.isEmpty(); ++n, line.translate(0, fm.lineSpacing())) {
        QString shown = rest;
        if (n == lineCount - 1 || fm.horizontalAdvance(rest) <= area.width()) {
            shown = fm.elidedText(rest, Qt::ElideRight, area.width());
            rest.clear();
        } else {
            qsizetype fits = rest.size();
            while (fits > 1 && fm.horizontalAdvance(rest.left(fits)) > area.width())
                --fits;
            const qsizetype blank = rest.lastIndexOf(QLatin1Char(' '), fits);
            if (blank > 0) fits = blank;
            shown = rest.left(fits);
            rest = rest.mid(fits).trimmed();
        }
        p.drawText(line, static_cast<int>(alignment()) | Qt::TextSingleLine, shown);
    }
}

namespace {

// The lines `text` takes when broken at blanks as CaptionLabel breaks it.
int LinesTaken(const QString& text, const QFontMetrics& fm, int width) {
    int lines = 0;
    QString rest = text;
    while (!rest.isEmpty()) {
        ++lines;
        if (fm.horizontalAdvance(rest) <= width) break;
        qsizetype fits = rest.size();
        while (fits > 1 && fm.horizontalAdvance(rest.left(fits)) > width)
            --fits;
        const qsizetype blank = rest.lastIndexOf(QLatin1Char(' '), fits);
        if (blank > 0) fits = blank;
        rest = rest.mid(fits).trimmed();
    }
    return lines;
}

}  // namespace

QString FitCaption(const QString& text, const QFontMetrics& metrics, int width, int lines) {
    if (LinesTaken(text, metrics, width) <= lines) return text;
    // The longest word is shortened in its middle, one character more at a time.
    QStringList words = text.split(QLatin1Char(' '));
    qsizetype longest = 0;
    for (qsizetype i = 1; i < words.size(); ++i)
        if (words[i].size() > words[longest].size()) longest = i;
    const QString word = words[longest];
    QString fitted = text;
    for (qsizetype kept = word.size() - 1; kept >= 6; --kept) {
        const qsizetype head = (kept + 1) / 2;
        words[longest] = word.left(head) + QChar(0x2026) + word.right(kept - head);
        fitted = words.join(QLatin1Char(' '));
        if (LinesTaken(fitted, metrics, width) <= lines) break;
    }
    return fitted;
}

// ---- Threshold scroll bars ----

ThresholdScrollBar::ThresholdScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void ThresholdScrollBar::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Right:
        case Qt::Key_Down:
            triggerAction(SliderSingleStepAdd);
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
            triggerAction(SliderSingleStepSub);
            break;
        case Qt::Key_PageDown:
            triggerAction(SliderPageStepAdd);
            break;
        case Qt::Key_PageUp:
            triggerAction(SliderPageStepSub);
            break;
        case Qt::Key_Home:
            triggerAction(SliderToMinimum);
            break;
        case Qt::Key_End:
            triggerAction(SliderToMaximum);
            break;
        default:
            QScrollBar::keyPressEvent(event);
            return;
    }
    event->accept();
}

// ---- File list ----

FileListWidget::FileListWidget(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("fileList"));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
}

void FileListWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        const QModelIndex index = indexAt(event->position().toPoint());
        event->accept();
        emit rightPressed(index.isValid() ? index.row() : -1);
        return;
    }
    // Only a press on an item counts as a click on the list: a press in the empty space
    // below the last item picks nothing.
    leftPressed_ =
        event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid();
    QListWidget::mousePressEvent(event);
}

void FileListWidget::mouseReleaseEvent(QMouseEvent* event) {
    QListWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && leftPressed_) {
        leftPressed_ = false;
        emit userClicked();
    }
}

void FileListWidget::keyPressEvent(QKeyEvent* event) {
    const int rowBefore = currentRow();
    const auto selectedBefore = selectionModel()->selectedIndexes();
    QListWidget::keyPressEvent(event);
    if (currentRow() != rowBefore || selectionModel()->selectedIndexes() != selectedBefore)
        emit userClicked();
}

// ---- Plane field ----

PlaneEdit::PlaneEdit(QWidget* parent) : QWidget(parent) {
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("planeEdit"));
    edit_->setMaxLength(2);
    edit_->setAlignment(Qt::AlignRight);
    edit_->installEventFilter(this);
    up_ = new QToolButton(this);
    up_->setObjectName(QStringLiteral("planeUp"));
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setObjectName(QStringLiteral("planeDown"));
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(16, 11);
    }
    auto* arrows = new QVBoxLayout;
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    arrows->addWidget(up_);
    arrows->addWidget(down_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    row->addWidget(edit_);
    row->addLayout(arrows);
    connect(up_, &QToolButton::clicked, this, [this] { step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
    // Enter, or leaving the field, commits what was typed; an untouched field commits
    // nothing when it loses the focus.
    connect(edit_, &QLineEdit::returnPressed, this, [this] {
        edit_->setModified(false);
        emit committed(edit_->text());
    });
    connect(edit_, &QLineEdit::editingFinished, this, [this] {
        if (edit_->isModified()) {
            edit_->setModified(false);
            emit committed(edit_->text());
        }
    });
}

void PlaneEdit::step(int delta) {
    std::int32_t value = 0;
    if (!TryParseInteger(edit_->text().toStdString(), value)) value = 0;
    const int next = std::clamp<long long>(static_cast<long long>(value) + delta, 0, 99);
    const QString text = QString::number(next);
    if (text == edit_->text()) return;
    edit_->setText(text);
    edit_->setModified(false);
    emit committed(text);
}

bool PlaneEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            step(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Button pictures ----

QIcon DrawButtonIcon(ButtonPicture picture) {
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QColor ink(40, 40, 60);
    QPen pen(ink, 1.6);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    auto arrowHead = [&](QPointF tip, QPointF dir) {
        const QPointF n(-dir.y(), dir.x());
        QPainterPath head;
        head.moveTo(tip);
        head.lineTo(tip - dir * 4 + n * 3);
        head.lineTo(tip - dir * 4 - n * 3);
        head.closeSubpath();
        p.fillPath(head, ink);
    };
    switch (picture) {
        case ButtonPicture::FlipHorizontal:
            p.drawLine(QPointF(10, 2), QPointF(10, 18));
            p.drawLine(QPointF(3, 10), QPointF(8, 10));
            p.drawLine(QPointF(12, 10), QPointF(17, 10));
            arrowHead(QPointF(2, 10), QPointF(-1, 0));
            arrowHead(QPointF(18, 10), QPointF(1, 0));
            break;
        case ButtonPicture::FlipVertical:
            p.drawLine(QPointF(2, 10), QPointF(18, 10));
            p.drawLine(QPointF(10, 3), QPointF(10, 8));
            p.drawLine(QPointF(10, 12), QPointF(10, 17));
            arrowHead(QPointF(10, 2), QPointF(0, -1));
            arrowHead(QPointF(10, 18), QPointF(0, 1));
            break;
        case ButtonPicture::Orientation: {
            // A compass: north up, east to the left, as the sky is seen.
            p.drawEllipse(QPointF(10, 11), 7.5, 7.5);
            p.drawLine(QPointF(10, 11), QPointF(10, 5));
            p.drawLine(QPointF(10, 11), QPointF(4, 11));
            arrowHead(QPointF(10, 3), QPointF(0, -1));
            arrowHead(QPointF(2.5, 11), QPointF(-1, 0));
            break;
        }
        case ButtonPicture::ApplyFilter: {
            QPainterPath funnel;
            funnel.moveTo(3, 4);
            funnel.lineTo(17, 4);
            funnel.lineTo(11.5, 11);
            funnel.lineTo(11.5, 17);
            funnel.lineTo(8.5, 15);
            funnel.lineTo(8.5, 11);
            funnel.closeSubpath();
            p.drawPath(funnel);
            break;
        }
        case ButtonPicture::UndoFilter: {
            QPainterPath curve;
            curve.moveTo(6, 7);
            curve.lineTo(12, 7);
            curve.cubicTo(18, 7, 18, 16, 12, 16);
            curve.lineTo(6, 16);
            p.drawPath(curve);
            arrowHead(QPointF(2.5, 7), QPointF(-1, 0));
            break;
        }
    }
    p.end();
    return QIcon(pixmap);
}

}  // namespace pelorin::ui
