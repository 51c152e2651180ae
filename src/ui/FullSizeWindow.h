// The second window: the rendering at full size with its own power-of-two zoom, or the
// header of a file as text. Always shown modally over the main window, and reused.
#pragma once

#include <QDialog>
#include <QImage>
#include <QStringList>
#include <functional>

#include "process/Bitmap.h"
#include "ui/UiHooks.h"
#include "viewer/WindowGeometry.h"

class QLabel;
class QPlainTextEdit;
class QScrollArea;

namespace pelorin::ui {

// `preview` of the full-size view: its picture drawn over the whole widget, nearest pixel.
class FullSizeImage : public QWidget {
    Q_OBJECT
  public:
    explicit FullSizeImage(QWidget* parent = nullptr);
    void setPicture(QImage picture);
    const QImage& picture() const { return picture_; }

  signals:
    // The pointer moved over the picture to pixel (x, y) of the widget.
    void pointerMoved(int x, int y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    QImage picture_;
};

class FullSizeWindow : public QDialog {
    Q_OBJECT
  public:
    explicit FullSizeWindow(QWidget* parent = nullptr);

    void setModalRunner(ModalRunner runner) { runModal_ = std::move(runner); }
    // The readout line's text for the pointer at (x, y) over the picture drawn at width x
    // height, as the viewer writes it.
    using ReadoutSource = std::function<QString(int x, int y, int width, int height)>;
    void setReadoutSource(ReadoutSource source) { readoutSource_ = std::move(source); }

    // The rendering at one bitmap pixel per screen pixel; `caption` is the status caption of
    // the main window.
    void showFullSize(const QString& caption, const Bitmap& bitmap);
    // The header of the file at `path`, one line per card or field.
    void showHeader(const QString& path, const QStringList& lines);

    int zoomLevel() const { return zoom_.level; }
    QString baseCaption() const { return baseCaption_; }
    FullSizeImage* image() const { return image_; }
    QPlainTextEdit* memo() const { return memo_; }
    QLabel* readout() const { return readout_; }
    QScrollArea* scrollArea() const { return scroll_; }

    // The client size the header view opens at: the text pane and 10 pixels around it.
    static QSize HeaderClientSize();

  public slots:
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool handleZoomKey(const QKeyEvent* event);
    // Wheel zoom about the pointer and drags that move the picture, over the picture's area.
    bool handleViewportEvent(QEvent* event);
    void showZoom(const QString& caption);
    void applyZoom();
    void centreOnScreen();

    ModalRunner runModal_;
    ReadoutSource readoutSource_;
    QScrollArea* scroll_;
    QLabel* readout_;
    QWidget* content_;
    FullSizeImage* image_;
    QPlainTextEdit* memo_;
    QSize bitmapSize_;
    ViewerZoomState zoom_;
    QString baseCaption_;
    int wheelRest_ = 0;
    QPoint dragFrom_;    // the pointer where the drag began
    QPoint scrollFrom_;  // the scroll positions then
    bool dragging_ = false;
};

}  // namespace pelorin::ui
