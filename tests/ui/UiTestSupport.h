// Helpers of the window tests: a scratch folder with palettes and images, a main window
// created in it with its message boxes and modal windows captured, and the widget actions
// the tests perform.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestUtil.h"

class QListWidget;
class QWidget;

namespace pelorin::ui {
class MainWindow;
class FullSizeWindow;
}  // namespace pelorin::ui

namespace pelorin::uitest {

template <typename T = QWidget>
T* findWidget(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// A 16-bit FITS image of w x h pixels; values[r * w + c] is stored row r of the file (the
// file's first row is the bottom row of the display). Extra cards go after NAXIS2.
std::vector<std::uint8_t> Fits16(int w, int h, const std::vector<std::int16_t>& values,
                                 const std::vector<std::string>& extraCards = {});
// A 16-bit FITS cube of `planes` planes (an image when there is one), every pixel of
// plane p (from 1) equal to 100 * p.
std::vector<std::uint8_t> Fits16Cube(int w, int h, int planes);

// Writes a palettes folder: a grey "ramp" LUT and an identity "4_ramp" ITT, plus the
// given extra LUT names (red ramps: entry i is (i, 0, 0)) and ITT names (identity).
void WritePalettes(const std::filesystem::path& folder, const std::vector<std::string>& luts = {},
                   const std::vector<std::string>& itts = {});

// The scratch folder, made the working directory while the object lives, with a palettes
// folder and an empty "images" folder.
class Workspace {
  public:
    Workspace();
    ~Workspace();
    const std::filesystem::path& root() const { return dir_.path(); }
    std::filesystem::path images() const { return dir_.path() / "images"; }
    std::string image(const std::string& name) const { return (images() / name).string(); }
    void write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

  private:
    test::TempDir dir_;
    std::filesystem::path previous_;
};

// A main window as the program makes it, with captured errors and a full-size viewer whose
// modal showings run `onModal` (when set) instead of blocking.
class Harness {
  public:
    Harness();
    ~Harness();
    ui::MainWindow& form() { return *form_; }
    ui::FullSizeWindow& big() { return *big_; }
    QStringList errors;

    template <typename T = QWidget>
    T* widget(const char* name) const {
        return findWidget<T>(reinterpret_cast<QWidget*>(form_.get()), name);
    }
    // How many times the full-size viewer was shown (header or picture) with the default
    // runner, which closes it at once.
    int modalShowings = 0;

    QListWidget* list() const;
    int rowOf(const QString& name) const;
    void click(const QString& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void rightClick(const QString& name);
    void clickButton(const char* name);
    void typeAndEnter(const char* editName, const QString& text);
    // The widget's text by name: QLabel, QLineEdit or QAbstractButton.
    QString text(const char* name) const;
    bool enabled(const char* name) const;

    void drag(QPoint from, QPoint to);  // left button press, moves, release on the preview
    void moveOver(QPoint at, Qt::MouseButtons buttons = Qt::NoButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void pressOn(QPoint at, Qt::MouseButton button = Qt::LeftButton);
    // Wheel steps (positive away from the user) over a widget, by default the preview.
    void wheel(QPoint at, int steps, QWidget* over = nullptr);
    // A drag with `button` over a widget, by default the preview: press, moves, release.
    void dragWith(Qt::MouseButton button, QPoint from, QPoint to, QWidget* over = nullptr);

  private:
    std::unique_ptr<ui::MainWindow> form_;
    std::unique_ptr<ui::FullSizeWindow> big_;
};

}  // namespace pelorin::uitest
