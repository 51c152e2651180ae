// The main window: creation, and what the program and the start-up window ask of it.
#include "ui/MainWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/Errors.h"
#include "ui/BitmapImage.h"
#include "ui/FullSizeWindow.h"
#include "ui/MainWindowSupport.h"
#include "ui/Widgets.h"

namespace pelorin::ui {

using namespace detail;

MainWindow::MainWindow(std::unique_ptr<PictureDecoder> decoder, QWidget* parent,
                       const QStringList& extraPaletteFolders)
    : QDialog(parent),
      reportError_(DefaultErrorReporter()),
      chooseDirectory_(DefaultDirectoryChooser()) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Pelorin - images astronomiques"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // A compact face: the window packs many controls into about 663 x 490; it opens at the
    // size its layout needs when that is more, so that the size used to place it on the
    // screen is the size it will have.
    QFont compact = font();
    compact.setPixelSize(11);
    setFont(compact);
    buildControls();
    firstSize_ = QSize(663, 490).expandedTo(minimumSizeHint());
    // The preview grows with the window (growPreview), so the layout must not make the
    // grown preview the window's minimum: the first size is.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(minimumSizeHint());
    resize(firstSize_);
    // The folder and file column keeps the width of the first layout: the room a larger
    // window has goes to the preview.
    layout()->activate();
    leftPanel->setFixedWidth(leftPanel->width());
    settingsPanel->setMaximumWidth(settingsPanel->width());

    // The palettes are looked up under the folder the program was started in.
    viewer_ = std::make_unique<Viewer>(ToPath(QDir::currentPath()), std::move(decoder));
    for (const QString& folder : extraPaletteFolders)
        viewer_->paletteFallbacks.push_back(ToPath(folder));
    connectViewerHooks();
    // The widgets start from the model's defaults, so that the first event does not read
    // empty fields back into it.
    syncFromModel();
    runEvent([this] { viewer_->startUp(); });
    // Start-up may have rebuilt the control model; make sure the hooks are still in place.
    connectViewerHooks();
    wireEvents();
    syncFromModel();
}

MainWindow::~MainWindow() {
    // The viewer may still hold hooks into this window; drop them before the widgets go.
    viewer_->onBusy = nullptr;
    viewer_->onRepaint = nullptr;
    viewer_->onShowHeader = nullptr;
    viewer_->controls.redrawTimer.onStateChange = nullptr;
    while (busyDepth_ > 0)
        setBusy(false);
}

bool MainWindow::selectFolder(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir()) return false;
    const QModelIndex index =
        folderModel_->index(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (!index.isValid()) return false;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        folderTree->expand(p);
    revealPending_ = true;
    if (folderTree->currentIndex() == index) {
        // Already selected: the list follows the folder all the same.
        pointListAt(folderModel_->filePath(index));
    } else {
        folderTree->setCurrentIndex(index);
    }
    folderTree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == folderTree || watched == treeViewport_) {
        const QEvent::Type t = event->type();
        if (t == QEvent::MouseButtonPress || t == QEvent::Wheel || t == QEvent::KeyPress)
            revealPending_ = false;
    }
    return QDialog::eventFilter(watched, event);
}

QString MainWindow::selectedFolder() const {
    const QModelIndex index = folderTree->currentIndex();
    return index.isValid() ? folderModel_->filePath(index) : QString();
}

QString MainWindow::outputFormatName() const {
    return viewer_->controls.outputFormat == OutputFormat::Png ? QStringLiteral("png")
                                                               : QStringLiteral("bmp");
}

void MainWindow::setOutputFormatName(const QString& name) {
    formatChooser->setCurrentIndex(name == QStringLiteral("png") ? 1 : 0);
}

QString MainWindow::destinationText() const {
    return destinationEdit->text();
}

void MainWindow::setDestinationText(const QString& text) {
    destinationEdit->setText(text);
    viewer_->controls.destination = ToModel(text);
}

void MainWindow::setFullSizeViewer(FullSizeWindow* form) {
    fullSize_ = form;
}

FullSizeWindow& MainWindow::fullSizeViewer() {
    if (!fullSize_) {
        ownFullSize_ = std::make_unique<FullSizeWindow>();
        fullSize_ = ownFullSize_.get();
    }
    return *fullSize_;
}

}  // namespace pelorin::ui
