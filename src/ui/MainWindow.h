// The main window: folder tree, file list, preview, thresholds, palettes, flips, filters,
// zoom and the BMP copy. It holds no image logic: every action goes to the core viewer,
// and after each one the widgets are brought in line with the viewer's control model.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "ui/UiHooks.h"
#include "viewer/Viewer.h"

class QButtonGroup;
class QCheckBox;
class QFrame;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QToolButton;
class QTreeView;
class QWidget;

namespace pelorin::ui {

class ColourBarImage;
class FileListWidget;
class PlaneEdit;
class PreviewImage;
class FullSizeWindow;
class ThresholdScrollBar;

class MainWindow : public QDialog {
    Q_OBJECT
  public:
    // The working directory at this moment becomes the program directory (the palettes'
    // base). `decoder` reads the ordinary picture formats; null when it is not available.
    // `extraPaletteFolders` are searched for palettes after the program's own places.
    explicit MainWindow(std::unique_ptr<PictureDecoder> decoder = {}, QWidget* parent = nullptr,
                        const QStringList& extraPaletteFolders = {});
    ~MainWindow() override;

    Viewer& viewer() { return *viewer_; }
    const Viewer& viewer() const { return *viewer_; }

    // The full-size viewer used by "Taille réelle" and the header view. Without one the
    // window makes its own on first use.
    void setFullSizeViewer(FullSizeWindow* form);
    FullSizeWindow& fullSizeViewer();

    void setErrorReporter(ErrorReporter reporter) { reportError_ = std::move(reporter); }
    void setDirectoryChooser(DirectoryChooser chooser) { chooseDirectory_ = std::move(chooser); }

    // Selects a folder in the folder tree, which points the file list at it. False (and
    // nothing changed) when the folder cannot be found.
    bool selectFolder(const QString& path);
    // Full path of the folder selected in the tree; empty when none.
    QString selectedFolder() const;
    // The folder the file list shows.
    QString listFolder() const { return listFolder_; }

    // The batch's file format as remembered in the settings: "bmp" or "png".
    QString outputFormatName() const;
    void setOutputFormatName(const QString& name);
    QString destinationText() const;
    void setDestinationText(const QString& text);

    // Pushes the viewer's control model into the widgets, with their signals blocked.
    void syncFromModel();

    // The mask the file list uses now.
    QString currentMask() const;

    // Opens what the program was started with or what was dropped on the window: a folder
    // is shown as if picked in the tree; files are selected in their folder's list and the
    // first is shown, as a click would. A path that does not exist is reported in the
    // error box. True when something was opened.
    bool openPaths(const QStringList& paths);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void buildControls();
    void wireEvents();
    void connectViewerHooks();

    // Runs one event of the window: brings the model in step with the widgets, calls the
    // core, balances the hourglass, shows the model and reports any error in a message
    // box. Errors never leave an event.
    void runEvent(const std::function<void()>& action);
    void reportError(const QString& message);
    void setBusy(bool busy);
    void pullModel();
    void syncFileList();
    void syncPictures();

    void pointListAt(const QString& folder);
    bool selectMask(const QString& masks);
    void onTreeSelectionChanged();
    void onMaskChosen(int index);
    void onFileFieldReturn();
    void onScrollBarMoved(int which, int value);
    void onFullSizeView();
    void onBrowseDestination();
    void onShowHeader(const std::string& path);
    void onRepaintNow();
    // Gives the preview the room the window has beyond its first size.
    void growPreview();

    std::unique_ptr<Viewer> viewer_;
    FullSizeWindow* fullSize_ = nullptr;
    std::unique_ptr<FullSizeWindow> ownFullSize_;
    ErrorReporter reportError_;
    DirectoryChooser chooseDirectory_;
    int eventDepth_ = 0;
    bool shownOnce_ = false;
    QStringList pendingErrors_;  // raised before the window was first shown
    int busyDepth_ = 0;
    QString listFolder_;
    bool revealPending_ = false;  // keep the selected folder in view while the tree loads
    bool revealQueued_ = false;
    std::vector<std::string> shownEntries_;  // names the file list widget holds
    FileListModel shownList_;                // the list model as the widgets last showed it
    QString shownMask_;                      // and the mask they showed it with
    int fieldFocus_ = -2;         // the entry the file field names (-1: it shows the mask)
    std::string shownPlaneText_;  // the plane text the field was last given
    QSize firstSize_;             // the size the window opens at; the preview grows beyond it

    // Controls.
    QFileSystemModel* folderModel_ = nullptr;
    QTreeView* folderTree = nullptr;
    QWidget* treeViewport_ = nullptr;
    FileListWidget* fileList = nullptr;
    QLineEdit* fileField = nullptr;
    QComboBox* maskChooser = nullptr;
    QPushButton* selectAllButton = nullptr;
    QPushButton* selectNoneButton = nullptr;
    QButtonGroup* pictureColoursGroup = nullptr;
    QButtonGroup* thresholdModeGroup = nullptr;
    QWidget* thresholdModeBox = nullptr;
    QToolButton* flipHorizontalButton = nullptr;
    QToolButton* flipVerticalButton = nullptr;
    QToolButton* orientButton = nullptr;
    PlaneEdit* planeSpinner = nullptr;
    QLineEdit* planeEdit = nullptr;
    QLabel* planeCountLabel = nullptr;
    QComboBox* filterChooser = nullptr;
    QLineEdit* filterThresholdEdit = nullptr;
    QToolButton* applyFilterButton = nullptr;
    QToolButton* restoreButton = nullptr;
    QWidget* leftPanel = nullptr;
    QWidget* settingsPanel = nullptr;
    QFrame* previewFrame = nullptr;
    QWidget* previewClip = nullptr;
    PreviewImage* preview = nullptr;
    QLabel* statusLabel = nullptr;
    ColourBarImage* colourBar = nullptr;
    QLabel* barLowCaption = nullptr;
    QLabel* barHighCaption = nullptr;
    QLabel* readoutLabel = nullptr;
    QLineEdit* lowEdit = nullptr;
    QLineEdit* highEdit = nullptr;
    ThresholdScrollBar* lowBarWidget = nullptr;
    ThresholdScrollBar* highBarWidget = nullptr;
    QComboBox* lutChooser = nullptr;
    QComboBox* ittChooser = nullptr;
    QPushButton* fullSizeButton = nullptr;
    QPushButton* zoomWholeButton = nullptr;
    QPushButton* zoomPreviousButton = nullptr;
    QLineEdit* destinationEdit = nullptr;
    QToolButton* destinationBrowse = nullptr;
    QPushButton* saveBmpButton = nullptr;
    QCheckBox* force24BitBox = nullptr;
    QComboBox* formatChooser = nullptr;
    QPushButton* closeButton = nullptr;
    QTimer* redrawTicker = nullptr;
};

}  // namespace pelorin::ui
