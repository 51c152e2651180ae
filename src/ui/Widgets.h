// The custom widgets of the main window: the preview and the colour bar, which draw the
// core's bitmaps pixel for pixel; the threshold scroll bars; the file list that tells a
// user's click from the program's own changes; the plane field with its spinner.
#pragma once

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QWidget>
#include <functional>

#include "display/DisplayTypes.h"

class QToolButton;

namespace pelorin::ui {

// The preview `preview`: shows a prepared picture at its top left corner, black elsewhere,
// and the zoom band as a dotted XOR rectangle. Mouse moves are reported with the pressed
// buttons and modifier keys (as the core's MouseFlags), presses with their button.
class PreviewImage : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewImage(QWidget* parent = nullptr);

    void setPicture(QImage picture);
    const QImage& picture() const { return picture_; }
    void setBand(const SelectionBand& band);
    const SelectionBand& band() const { return band_; }

  signals:
    void mouseMoved(unsigned flags, int x, int y);
    void mousePressed(unsigned button, int x, int y);
    // The wheel turned by whole steps (positive away from the user) over (x, y).
    void wheelTurned(int steps, int x, int y);
    // A drag with the middle button: pressed at (x, y), then moved to (x, y).
    void panStarted(int x, int y);
    void panMoved(int x, int y);
    // '+', '-' or '0' typed while the preview has the focus.
    void zoomKeyTyped(char key);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QImage picture_;
    SelectionBand band_;
    int wheelRest_ = 0;  // eighths of a degree not yet turned into a step
};

// Whole wheel steps (120 eighths of a degree each) in `rest` plus `delta`; what is left of a
// step stays in `rest`, so that fine-grained wheels and touchpads add up to steps.
int TakeWheelSteps(int& rest, int delta);

// The zoom key of a typed text: '+' (also '='), '-' or '0'; 0 for any other text.
char ZoomKeyOf(const QString& text);

// The colour bar `colourBar`: a prepared picture drawn over the whole widget.
class ColourBarImage : public QWidget {
    Q_OBJECT
  public:
    explicit ColourBarImage(QWidget* parent = nullptr);
    void setPicture(QImage picture);
    const QImage& picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
};

// A caption over as many lines as the label is high, broken at blanks. Where it does not
// fit, its longest word (the file name or path) is shortened in the middle first, so that
// the rest (size, kind, sky position) stays readable; only then does the last line end with
// "...". text() and the tooltip keep the whole text.
QString FitCaption(const QString& text, const QFontMetrics& metrics, int width, int lines);

class CaptionLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A horizontal scroll bar whose keys move it the usual way for a value slider: Right, Down
// and PageDown increase the position, Left, Up and PageUp decrease it, Home and End go to
// the ends. (QScrollBar inverts some of these for its own scrolling use.)
class ThresholdScrollBar : public QScrollBar {
    Q_OBJECT
  public:
    explicit ThresholdScrollBar(QWidget* parent = nullptr);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The file list. `userClicked` is emitted once per user action that picks files: a left
// button press and release that began on an item, or a key that moves the current item or the
// selection. The program's own changes emit nothing. A right button press does not touch the
// selection: it emits `rightPressed` with the row under the pointer, or -1.
class FileListWidget : public QListWidget {
    Q_OBJECT
  public:
    explicit FileListWidget(QWidget* parent = nullptr);

  signals:
    void userClicked();
    void rightPressed(int row);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool leftPressed_ = false;
};

// The plane field `planeEdit` (two characters at most) with its spinner `planeSpinner`: the arrows,
// and the Up and Down keys in the field, step the number in the field by one within
// 0..99 without wrapping; a field that holds no number steps from 0. A step, Enter, or
// leaving the field after typing commits the text (`committed`); typing alone does not.
class PlaneEdit : public QWidget {
    Q_OBJECT
  public:
    explicit PlaneEdit(QWidget* parent = nullptr);
    QLineEdit* edit() const { return edit_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }
    void step(int delta);

  signals:
    void committed(const QString& text);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
};

// The pictures of the tool buttons, drawn rather than loaded so that the program needs no
// image files.
enum class ButtonPicture { FlipHorizontal, FlipVertical, Orientation, ApplyFilter, UndoFilter };
QIcon DrawButtonIcon(ButtonPicture picture);

}  // namespace pelorin::ui
