// The title window the program starts with. It remembers the source and destination
// folders between runs, opens the main window at the mouse pointer, and ends the program
// when the main window closes.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "ui/UiHooks.h"

class QLabel;

namespace pelorin::ui {

class MainWindow;

// Where the two folders are remembered: organisation and application of the settings
// store, and the two value names.
inline constexpr const char* kSettingsOrganisation = "Norvane";
inline constexpr const char* kSettingsApplication = "PELORIN";
inline constexpr const char* kSettingsSourceFolder = "Dir";
inline constexpr const char* kSettingsDestination = "Dest";
inline constexpr const char* kSettingsFormat = "Format";  // "bmp" or "png"
// The main window's size (its normal size when maximised) and whether it was maximised.
inline constexpr const char* kSettingsWindowSize = "WindowSize";
inline constexpr const char* kSettingsMaximised = "Maximised";

class StartWindow : public QWidget {
    Q_OBJECT
  public:
    // Reads the remembered folders.
    explicit StartWindow(QWidget* parent = nullptr);
    ~StartWindow() override;

    void setMainWindow(MainWindow* form) { main_ = form; }
    void setModalRunner(ModalRunner runner) { runModal_ = std::move(runner); }
    // A folder to open in place of the remembered one (the program's argument).
    void overrideSourceFolder(const QString& folder) { rememberedDir_ = folder; }
    // Files or folders to open at start, in place of the remembered folder (the program's
    // arguments); see MainWindow::openPaths.
    void openAtStart(const QStringList& paths) { startPaths_ = paths; }

    QString rememberedDir() const { return rememberedDir_; }
    QString rememberedDest() const { return rememberedDest_; }

    // Prepares the main window (caption of its cancel button, folders, position), runs it
    // modally and closes this window when it returns. Showing this window does it once,
    // from the event loop.
    void runMainWindow();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private slots:
    void writeSettings();

  private:
    void readSettings();
    void placeMainWindowAtPointer();

    MainWindow* main_ = nullptr;
    ModalRunner runModal_;
    QString rememberedDir_;
    QString rememberedDest_;
    QStringList startPaths_;
    QPoint pointer_;
    // The main window's frame is only known once it is on the screen: until then its
    // placement is done again as soon as the frame shows up.
    bool placementPending_ = false;
    QString rememberedFormat_;
    QSize rememberedSize_;
    bool rememberedMaximised_ = false;
    bool started_ = false;
    bool settingsWritten_ = false;
};

}  // namespace pelorin::ui
