// The main window's events: each widget signal forwarded to the viewer inside one event
// boundary, and the handlers that need more than the viewer (folders, dialogs, messages).
#include "ui/MainWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
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

void MainWindow::connectViewerHooks() {
    Viewer& v = *viewer_;
    v.onBusy = [this](bool busy) { setBusy(busy); };
    v.onRepaint = [this] { onRepaintNow(); };
    v.onShowHeader = [this](const std::string& path) { onShowHeader(path); };
    v.controls.redrawTimer.onStateChange = [this](bool enabled) {
        if (enabled) {
            redrawTicker->start(viewer_->controls.redrawTimer.interval);
        } else {
            redrawTicker->stop();
        }
    };
}

void MainWindow::wireEvents() {
    Viewer& v = *viewer_;
    connect(folderTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { onTreeSelectionChanged(); });
    connect(maskChooser, &QComboBox::currentIndexChanged, this,
            [this](int index) { onMaskChosen(index); });
    connect(fileField, &QLineEdit::returnPressed, this, [this] { onFileFieldReturn(); });
    connect(fileList, &FileListWidget::userClicked, this,
            [this, &v] { runEvent([&v] { v.openFocusedFile(); }); });
    connect(fileList, &FileListWidget::rightPressed, this,
            [this, &v](int row) { runEvent([&v, row] { v.showHeaderOf(row); }); });
    connect(selectAllButton, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.selectAllFiles(); }); });
    connect(selectNoneButton, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.selectNoFiles(); }); });

    connect(pictureColoursGroup, &QButtonGroup::idClicked, this, [this](int id) {
        runEvent([this, id] { viewer_->controls.pictureColours = PictureColours(id); });
    });
    connect(thresholdModeGroup, &QButtonGroup::idClicked, this, [this, &v](int id) {
        runEvent([&v, id] {
            v.controls.thresholdMode = id;
            v.setThresholdMode(id);
        });
    });
    connect(lowBarWidget, &QScrollBar::valueChanged, this,
            [this](int value) { onScrollBarMoved(1, value); });
    connect(highBarWidget, &QScrollBar::valueChanged, this,
            [this](int value) { onScrollBarMoved(2, value); });
    connect(lowEdit, &QLineEdit::returnPressed, this,
            [this, &v] { runEvent([&v] { v.applyThresholdEdits(); }); });
    connect(highEdit, &QLineEdit::returnPressed, this,
            [this, &v] { runEvent([&v] { v.applyThresholdEdits(); }); });
    connect(redrawTicker, &QTimer::timeout, this,
            [this, &v] { runEvent([&v] { v.redrawTimerExpired(); }); });

    connect(lutChooser, &QComboBox::currentIndexChanged, this, [this, &v](int index) {
        runEvent([&v, index] {
            v.controls.lutList.select(index);
            v.selectLut(index);
        });
    });
    connect(ittChooser, &QComboBox::currentIndexChanged, this, [this, &v](int index) {
        runEvent([&v, index] {
            v.controls.ittList.select(index);
            v.selectItt(index);
        });
    });
    connect(filterChooser, &QComboBox::currentIndexChanged, this,
            [this](int index) { viewer_->controls.filterList.select(index); });
    connect(flipHorizontalButton, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.toggleFlipHorizontal(); }); });
    connect(flipVerticalButton, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.toggleFlipVertical(); }); });
    connect(orientButton, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.orientFromHeader(); }); });
    connect(planeSpinner, &PlaneEdit::committed, this, [this, &v](const QString& text) {
        runEvent([&v, t = ToModel(text)] { v.setPlaneText(t); });
    });
    connect(applyFilterButton, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.applySelectedFilter(); }); });
    connect(restoreButton, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.restoreUnfiltered(); }); });

    connect(preview, &PreviewImage::mouseMoved, this, [this, &v](unsigned flags, int x, int y) {
        runEvent([&v, flags, x, y] { v.previewMouseMove(flags, x, y); });
    });
    connect(preview, &PreviewImage::mousePressed, this, [this, &v](unsigned button, int x, int y) {
        runEvent([&v, button, x, y] { v.previewMouseDown(button, x, y); });
    });
    connect(preview, &PreviewImage::wheelTurned, this, [this, &v](int steps, int x, int y) {
        runEvent([&v, steps, x, y] { v.previewWheel(steps, x, y); });
    });
    connect(preview, &PreviewImage::panStarted, this,
            [this, &v](int x, int y) { runEvent([&v, x, y] { v.previewPanStart(x, y); }); });
    connect(preview, &PreviewImage::panMoved, this,
            [this, &v](int x, int y) { runEvent([&v, x, y] { v.previewPanMove(x, y); }); });
    connect(preview, &PreviewImage::zoomKeyTyped, this,
            [this, &v](char key) { runEvent([&v, key] { v.previewKey(key); }); });
    connect(zoomWholeButton, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.zoomWhole(); }); });
    connect(zoomPreviousButton, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.zoomPrevious(); }); });
    connect(fullSizeButton, &QPushButton::clicked, this, [this] { onFullSizeView(); });

    connect(destinationBrowse, &QToolButton::clicked, this, [this] { onBrowseDestination(); });
    connect(formatChooser, &QComboBox::currentIndexChanged, this, [this](int index) {
        viewer_->controls.outputFormat = index == 1 ? OutputFormat::Png : OutputFormat::Bmp;
        saveBmpButton->setText(
            QString::fromStdString(SaveButtonText(viewer_->controls.outputFormat)));
        force24BitBox->setText(
            QString::fromStdString(Force24BitText(viewer_->controls.outputFormat)));
    });
    connect(saveBmpButton, &QPushButton::clicked, this, [this, &v] {
        runEvent([this, &v] {
            // A batch that lasts more than a second shows how far it has got; the preview
            // still shows each file as it is written.
            QProgressDialog progress(this);
            progress.setCancelButton(nullptr);
            progress.setWindowModality(Qt::WindowModal);
            progress.setMinimumDuration(1000);
            progress.setAutoReset(false);
            BatchObserver observer;
            observer.onFileStart = [&progress](int done, int total, const std::string& name) {
                progress.setMaximum(total);
                progress.setLabelText(QString::fromStdString(BatchProgressText(done, total, name)));
                progress.setValue(done);
            };
            observer.onFileDone = [&progress](const BatchEntryReport&) {
                progress.setValue(progress.value() + 1);
            };
            v.saveSelectedAsBmp(&observer);
        });
    });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
}

void MainWindow::runEvent(const std::function<void()>& action) {
    if (eventDepth_ == 0) pullModel();
    ++eventDepth_;
    QString error;
    try {
        action();
    } catch (const std::exception& e) {
        error = QString::fromStdString(e.what());
    } catch (...) {
        error = QStringLiteral("Erreur inattendue");
    }
    --eventDepth_;
    // However the core left the operation, the hourglass does not outlive the event.
    if (eventDepth_ == 0)
        while (busyDepth_ > 0)
            setBusy(false);
    syncFromModel();
    if (!error.isEmpty()) reportError(error);
}

void MainWindow::reportError(const QString& message) {
    // An error of the start-up sequence (a malformed palette file, say) is shown with the
    // window, not before it.
    if (!shownOnce_) {
        pendingErrors_ << message;
        return;
    }
    if (reportError_) reportError_(this, ApplicationTitle(), message);
}

void MainWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    const QStringList pending = std::exchange(pendingErrors_, {});
    if (!pending.isEmpty())
        QMetaObject::invokeMethod(
            this,
            [this, pending] {
                for (const QString& message : pending)
                    reportError(message);
            },
            Qt::QueuedConnection);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    growPreview();
}

void MainWindow::growPreview() {
    if (!previewFrame || !viewer_ || firstSize_.isEmpty()) return;
    // Everything beyond the first size goes to the preview; the other controls keep
    // their sizes and places relative to it.
    const int boxWidth = kPreviewFrameWidth + std::max(0, width() - firstSize_.width());
    const int boxHeight = kPreviewHeight + std::max(0, height() - firstSize_.height());
    if (previewClip->size() == QSize(boxWidth, boxHeight)) return;
    previewFrame->setFixedSize(boxWidth + 2, boxHeight + 2);
    previewClip->setGeometry(1, 1, boxWidth, boxHeight);
    statusLabel->setFixedWidth(boxWidth + 2);
    runEvent([this, boxWidth, boxHeight] { viewer_->setPreviewBox(boxWidth, boxHeight); });
}

void MainWindow::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

void MainWindow::onTreeSelectionChanged() {
    const QString folder = selectedFolder();
    if (!folder.isEmpty()) pointListAt(folder);
}

void MainWindow::pointListAt(const QString& folder) {
    runEvent([this, folder] {
        // The folder shown in the list is the working directory: relative destinations
        // are resolved against it.
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::path(ToPath(folder)), ec);
        if (ec) ThrowIoError(ec.value());
        listFolder_ = folder;
        viewer_->setFolder(ToPath(folder), ToModel(currentMask()));
    });
}

void MainWindow::onMaskChosen(int) {
    if (!listFolder_.isEmpty()) {
        pointListAt(listFolder_);
    } else {
        syncFromModel();
    }
}

void MainWindow::onFileFieldReturn() {
    const QString text = fileField->text().trimmed();
    if (text.isEmpty()) return;
    if (text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'))) {
        // A typed mask filters the list as one of the offered masks would.
        int index = maskChooser->findData(text);
        if (index < 0) {
            maskChooser->addItem(text, text);
            index = maskChooser->count() - 1;
        }
        maskChooser->setCurrentIndex(index);  // re-reads the list
        return;
    }
    // A typed name picks that file, as a click on it would.
    const auto& entries = viewer_->controls.fileList.entries;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        if (FromPath(entries[static_cast<std::size_t>(i)].name)
                .compare(text, Qt::CaseInsensitive) == 0) {
            fileList->setCurrentRow(i, QItemSelectionModel::ClearAndSelect);
            runEvent([this] { viewer_->openFocusedFile(); });
            return;
        }
    }
}

void MainWindow::onScrollBarMoved(int which, int value) {
    runEvent([this, which, value] {
        ScrollBarModel& bar = which == 1 ? viewer_->controls.lowBar : viewer_->controls.highBar;
        const int before = bar.position();
        bar.setPosition(value);
        // The model runs the change handler itself when it is wired to one; otherwise the
        // change is passed on here.
        if (!bar.onChange && bar.position() != before) {
            if (which == 1) {
                viewer_->lowBarMoved();
            } else {
                viewer_->highBarMoved();
            }
        }
    });
}

void MainWindow::onFullSizeView() {
    runEvent([this] {
        FullSizeWindow& form = fullSizeViewer();
        form.setReadoutSource([this](int x, int y, int width, int height) {
            return QString::fromStdString(viewer_->fullSizeReadout(x, y, width, height));
        });
        form.showFullSize(statusLabel->text(), viewer_->displayBitmap);
    });
}

void MainWindow::onShowHeader(const std::string& path) {
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(viewer_->headerText.size()));
    for (const auto& line : viewer_->headerText)
        lines << DecodeHeaderLine(line);
    fullSizeViewer().showHeader(QDir::toNativeSeparators(FromPath(path)), lines);
}

void MainWindow::onRepaintNow() {
    syncFromModel();
    if (isVisible()) repaint();
}

void MainWindow::onBrowseDestination() {
    runEvent([this] {
        // The dialog may wander through other folders; the working directory, which
        // relative destinations depend on, must be the one from before it opened.
        const std::filesystem::path saved = std::filesystem::current_path();
        QString start = destinationEdit->text();
        if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::currentPath();
        const QString chosen = chooseDirectory_(this, QStringLiteral("Copie vers"), start);
        std::error_code ec;
        std::filesystem::current_path(saved, ec);
        if (ec) ThrowIoError(ec.value());
        if (!chosen.isEmpty())
            viewer_->controls.destination = ToModel(QDir::toNativeSeparators(chosen));
    });
}

bool MainWindow::selectMask(const QString& masks) {
    const int index = maskChooser->findData(masks);
    if (index < 0 || index == maskChooser->currentIndex()) return false;
    maskChooser->setCurrentIndex(index);  // re-reads the list
    return true;
}

bool MainWindow::openPaths(const QStringList& paths) {
    // The first path that exists decides: a folder is shown as it is; a file is shown in its
    // folder, selected together with the other given files of that folder.
    QString folder;
    std::vector<std::string> names;
    std::vector<std::string> elsewhere;  // files outside the first one's folder
    bool isFolder = false;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            reportError(FromModel(Viewer::MissingPathMessage(ToModel(path))));
            continue;
        }
        if (folder.isEmpty()) {
            isFolder = info.isDir();
            folder = isFolder ? info.absoluteFilePath() : info.absolutePath();
        }
        if (!isFolder && !info.isDir() && info.absolutePath() == folder)
            names.push_back(ToPath(info.fileName()));
        else if (!isFolder)
            elsewhere.push_back(ToPath(QDir::toNativeSeparators(path)));
    }
    if (folder.isEmpty() || !selectFolder(folder)) return false;
    if (isFolder) return true;
    bool found = false;
    runEvent([this, &names, &found] { found = viewer_->selectNamedFiles(names); });
    // A file the current mask hides is still opened: the list then shows every kind.
    if (!found && selectMask(FromModel(FileMasks().front().masks)))
        runEvent([this, &names, &found] { found = viewer_->selectNamedFiles(names); });
    if (found) runEvent([this] { viewer_->openFocusedFile(); });
    // The list shows one folder: the files of other folders are named, not dropped silently.
    if (!elsewhere.empty() && !names.empty())
        runEvent([this, &names, &elsewhere] {
            viewer_->controls.status = Viewer::OutsideFolderMessage(names.front(), elsewhere);
        });
    return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    openPaths(paths);
}

}  // namespace pelorin::ui
