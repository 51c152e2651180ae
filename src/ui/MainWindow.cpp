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
#include "ui/Widgets.h"

namespace pelorin::ui {
namespace {

constexpr int kPreviewFrameWidth = 320;
constexpr int kColourBarWidth = 297;
constexpr int kColourBarHeight = 15;

QString FromModel(const std::string& text) {
    return QString::fromStdString(text);
}
std::string ToModel(const QString& text) {
    return text.toStdString();
}
// File names and paths go through the file system's own encoding.
QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

void SetTextIfChanged(QLineEdit* edit, const std::string& text) {
    const QString t = FromModel(text);
    if (edit->text() != t) {
        const QSignalBlocker block(edit);
        edit->setText(t);
    }
}

void SetTextIfChanged(QLabel* label, const std::string& text) {
    const QString t = FromModel(text);
    if (label->text() != t) {
        label->setText(t);
        label->setToolTip(t.trimmed().isEmpty() ? QString() : t);
    }
}

void SyncCombo(QComboBox* combo, const ComboModel& model) {
    const QSignalBlocker block(combo);
    QStringList items;
    for (const auto& item : model.items)
        items << FromModel(item);
    QStringList current;
    for (int i = 0; i < combo->count(); ++i)
        current << combo->itemText(i);
    if (items != current) {
        combo->clear();
        combo->addItems(items);
    }
    if (combo->currentIndex() != model.index) combo->setCurrentIndex(model.index);
    if (combo->isEditable() && model.index < 0 && combo->currentText() != FromModel(model.text))
        combo->setEditText(FromModel(model.text));
}

void SyncScrollBar(QScrollBar* bar, const ScrollBarModel& model) {
    const QSignalBlocker block(bar);
    bar->setRange(model.min(), std::max(model.min(), model.max()));
    bar->setSingleStep(model.smallChange);
    bar->setPageStep(model.largeChange);
    bar->setValue(model.position());
}

QPushButton* MakeButton(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    // Enter in the threshold fields must never press a button of the window.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QToolButton* MakeToolButton(ButtonPicture picture, const char* name, const QString& tip,
                            QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(DrawButtonIcon(picture));
    b->setIconSize(QSize(20, 20));
    b->setToolTip(tip);
    b->setFixedSize(25, 24);
    return b;
}

QLabel* MakeLabel(const QString& caption, const char* name, QWidget* parent) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

}  // namespace

const std::vector<FileMask>& FileMasks() {
    static const std::vector<FileMask> masks = {
        {QStringLiteral("All files"),
         QStringLiteral(
             "*.fit;*.fts;*.fit.gz;*.fts.gz;*.fits.gz;*.fz;*.pic;*.bmp;*.dib;*.jpg;*.jpeg;*.jif;"
             "*.gif;*.tga;*.rle;*.pcx")},
        {QStringLiteral("FITS,PIC"),
         QStringLiteral("*.fit;*.fts;*.fit.gz;*.fts.gz;*.fits.gz;*.fz;*.pic")},
        {QStringLiteral("FITS"), QStringLiteral("*.fit;*.fts;*.fit.gz;*.fts.gz;*.fits.gz;*.fz")},
        {QStringLiteral("PIC"), QStringLiteral("*.pic")},
        {QStringLiteral("BMP"), QStringLiteral("*.bmp;*.dib")},
        {QStringLiteral("JPEG"), QStringLiteral("*.jpg;*.jpeg")},
        {QStringLiteral("GIF"), QStringLiteral("*.gif")},
        {QStringLiteral("TARGA"), QStringLiteral("*.tga")},
        {QStringLiteral("RLE"), QStringLiteral("*.rle")},
        {QStringLiteral("PCX"), QStringLiteral("*.pcx")},
    };
    return masks;
}

MainWindow::MainWindow(std::unique_ptr<PictureDecoder> decoder, QWidget* parent)
    : QDialog(parent),
      reportError_(DefaultErrorReporter()),
      chooseDirectory_(DefaultDirectoryChooser()) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Pelorin - images astronomiques"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // A compact face: the window packs many controls into 663 x 490.
    QFont compact = font();
    compact.setPixelSize(11);
    setFont(compact);
    buildControls();
    resize(663, 490);

    // The palettes are looked up under the folder the program was started in.
    viewer_ = std::make_unique<Viewer>(ToPath(QDir::currentPath()), std::move(decoder));
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

void MainWindow::buildControls() {
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(4, 4, 4, 4);
    root->setSpacing(6);

    // ---- Left: source folder and files, flips, plane, filter, picture colours, copy ----
    auto* left = new QVBoxLayout;
    left->setSpacing(4);

    folderModel_ = new QFileSystemModel(this);
    folderModel_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    folderModel_->setReadOnly(true);
    folderModel_->setRootPath(QString());
    folderTree = new QTreeView(this);
    folderTree->setObjectName(QStringLiteral("folderTree"));
    folderTree->setModel(folderModel_);
    for (int c = 1; c < folderModel_->columnCount(); ++c)
        folderTree->hideColumn(c);
    folderTree->setHeaderHidden(true);
    folderTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    folderTree->setSelectionMode(QAbstractItemView::SingleSelection);
    folderTree->setExpandsOnDoubleClick(true);
    folderTree->expand(folderModel_->index(QDir::rootPath()));
    folderTree->setSortingEnabled(true);
    folderTree->sortByColumn(0, Qt::AscendingOrder);
    // The model reads and sorts folders in the background, so the branch of a folder
    // selected by the program arrives later: keep bringing it into view until the user
    // takes the tree in hand.
    auto scheduleReveal = [this] {
        if (!revealPending_ || revealQueued_) return;
        revealQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            revealQueued_ = false;
            const QModelIndex current = folderTree->currentIndex();
            if (revealPending_ && current.isValid())
                folderTree->scrollTo(current, QAbstractItemView::PositionAtCenter);
        });
    };
    connect(folderModel_, &QFileSystemModel::directoryLoaded, this, scheduleReveal);
    connect(folderModel_, &QAbstractItemModel::rowsInserted, this, scheduleReveal);
    connect(folderModel_, &QAbstractItemModel::layoutChanged, this, scheduleReveal);
    treeViewport_ = folderTree->viewport();
    treeViewport_->installEventFilter(this);
    folderTree->installEventFilter(this);
    connect(folderTree->verticalScrollBar(), &QScrollBar::sliderPressed, this,
            [this] { revealPending_ = false; });
    left->addWidget(folderTree, 5);

    fileField = new QLineEdit(this);
    fileField->setObjectName(QStringLiteral("fileField"));
    fileField->setToolTip(QStringLiteral("Fichier courant ou masque des fichiers listés"));
    left->addWidget(fileField);

    fileList = new FileListWidget(this);
    fileList->setIconSize(QSize(16, 16));
    left->addWidget(fileList, 6);

    auto* listButtons = new QHBoxLayout;
    listButtons->setSpacing(4);
    maskChooser = new QComboBox(this);
    maskChooser->setObjectName(QStringLiteral("maskChooser"));
    for (const auto& m : FileMasks())
        maskChooser->addItem(m.description + QStringLiteral(" (") + m.masks + QStringLiteral(")"),
                             m.masks);
    maskChooser->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    maskChooser->setMinimumContentsLength(3);
    maskChooser->view()->setMinimumWidth(360);
    selectAllButton = MakeButton(QStringLiteral("Tout selectionner"), "selectAllButton", this);
    selectNoneButton = MakeButton(QStringLiteral("Rien selectionner"), "selectNoneButton", this);
    listButtons->addWidget(maskChooser, 1);
    listButtons->addWidget(selectAllButton);
    listButtons->addWidget(selectNoneButton);
    left->addLayout(listButtons);

    // Flips and plane.
    auto* flipRow = new QHBoxLayout;
    flipRow->setSpacing(2);
    flipRow->addWidget(MakeLabel(QStringLiteral("Inversion de l'image"), "flipCaption", this));
    flipHorizontalButton = MakeToolButton(ButtonPicture::FlipHorizontal, "flipHorizontalButton",
                                          QStringLiteral("Inversion gauche-droite"), this);
    flipVerticalButton = MakeToolButton(ButtonPicture::FlipVertical, "flipVerticalButton",
                                        QStringLiteral("Inversion haut-bas"), this);
    orientButton = MakeToolButton(ButtonPicture::Orientation, "orientButton",
                                  QStringLiteral("Orientation donnée par l'en-tête"), this);
    flipHorizontalButton->setCheckable(true);
    flipVerticalButton->setCheckable(true);
    flipRow->addWidget(flipHorizontalButton);
    flipRow->addWidget(flipVerticalButton);
    flipRow->addWidget(orientButton);
    flipRow->addStretch(1);
    flipRow->addWidget(MakeLabel(QStringLiteral("Couche"), "planeCaption", this));
    planeSpinner = new PlaneEdit(this);
    planeSpinner->setObjectName(QStringLiteral("planeSpinner"));
    planeEdit = planeSpinner->edit();
    planeEdit->setFixedWidth(26);
    flipRow->addWidget(planeSpinner);
    planeCountLabel = MakeLabel(QStringLiteral("/1"), "planeCountLabel", this);
    planeCountLabel->setMinimumWidth(18);
    flipRow->addWidget(planeCountLabel);
    left->addLayout(flipRow);

    // Filter.
    auto* filterRow = new QHBoxLayout;
    filterRow->setSpacing(3);
    filterRow->addWidget(MakeLabel(QStringLiteral("Filtre"), "filterCaption", this));
    filterChooser = new QComboBox(this);
    filterChooser->setObjectName(QStringLiteral("filterChooser"));
    filterChooser->setEditable(true);
    filterChooser->setInsertPolicy(QComboBox::NoInsert);
    filterChooser->setMinimumContentsLength(10);
    filterRow->addWidget(filterChooser, 1);
    filterRow->addWidget(MakeLabel(QStringLiteral("Seuil"), "filterThresholdCaption", this));
    filterThresholdEdit = new QLineEdit(this);
    filterThresholdEdit->setObjectName(QStringLiteral("filterThresholdEdit"));
    filterThresholdEdit->setFixedWidth(56);
    filterRow->addWidget(filterThresholdEdit);
    applyFilterButton = MakeToolButton(ButtonPicture::ApplyFilter, "applyFilterButton",
                                       QStringLiteral("Appliquer le filtre"), this);
    restoreButton = MakeToolButton(ButtonPicture::UndoFilter, "restoreButton",
                                   QStringLiteral("Revenir à l'image non filtrée"), this);
    filterRow->addWidget(applyFilterButton);
    filterRow->addWidget(restoreButton);
    left->addLayout(filterRow);

    // Picture colours.
    auto* colourBox = new QGroupBox(QStringLiteral("Couleur des images"), this);
    colourBox->setObjectName(QStringLiteral("pictureColoursGroup"));
    auto* colourRow = new QHBoxLayout(colourBox);
    colourRow->setContentsMargins(6, 2, 6, 2);
    pictureColoursGroup = new QButtonGroup(this);
    const QString colourItems[] = {QStringLiteral("Palette du bitmap"),
                                   QStringLiteral("Palette modifiable")};
    for (int i = 0; i < 2; ++i) {
        auto* r = new QRadioButton(colourItems[i], colourBox);
        r->setObjectName(QStringLiteral("pictureColoursItem%1").arg(i));
        pictureColoursGroup->addButton(r, i);
        colourRow->addWidget(r);
    }
    colourRow->addStretch(1);
    left->addWidget(colourBox);

    // Destination and copy.
    auto* destRow = new QHBoxLayout;
    destRow->setSpacing(3);
    destRow->addWidget(MakeLabel(QStringLiteral("Copie vers"), "destinationCaption", this));
    destinationEdit = new QLineEdit(this);
    destinationEdit->setObjectName(QStringLiteral("destinationEdit"));
    destRow->addWidget(destinationEdit, 1);
    destinationBrowse = new QToolButton(this);
    destinationBrowse->setObjectName(QStringLiteral("destinationBrowse"));
    destinationBrowse->setText(QStringLiteral("..."));
    destinationBrowse->setToolTip(QStringLiteral("Choisir le dossier de destination"));
    destRow->addWidget(destinationBrowse);
    left->addLayout(destRow);

    auto* saveRow = new QHBoxLayout;
    saveRow->setSpacing(6);
    saveBmpButton = MakeButton(QStringLiteral("Sauvegarde BMP"), "saveBmpButton", this);
    force24BitBox = new QCheckBox(QStringLiteral("Force le format BMP 24 bits"), this);
    force24BitBox->setObjectName(QStringLiteral("force24BitBox"));
    // The file format of the batch: the button names it.
    formatChooser = new QComboBox(this);
    formatChooser->setObjectName(QStringLiteral("formatChooser"));
    formatChooser->addItems({QStringLiteral("BMP"), QStringLiteral("PNG")});
    formatChooser->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(formatChooser, &QComboBox::currentIndexChanged, this, [this](int index) {
        viewer_->controls.outputFormat = index == 1 ? OutputFormat::Png : OutputFormat::Bmp;
        saveBmpButton->setText(
            QString::fromStdString(SaveButtonText(viewer_->controls.outputFormat)));
    });
    saveRow->addWidget(saveBmpButton);
    saveRow->addWidget(formatChooser);
    saveRow->addWidget(force24BitBox);
    saveRow->addStretch(1);
    left->addLayout(saveRow);

    root->addLayout(left, 1);

    // ---- Right: caption, preview, readout, colour bar, thresholds, palettes, zoom ----
    auto* right = new QVBoxLayout;
    right->setSpacing(3);

    statusLabel = new CaptionLabel(QStringLiteral(" "), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    statusLabel->setTextFormat(Qt::PlainText);
    right->addWidget(statusLabel);

    auto* previewFrame = new QFrame(this);
    previewFrame->setObjectName(QStringLiteral("PreviewFrame"));
    previewFrame->setFrameShape(QFrame::Box);
    previewFrame->setLineWidth(1);
    previewFrame->setFixedSize(kPreviewFrameWidth + 2, kPreviewHeight + 2);
    auto* previewClip = new QWidget(previewFrame);
    previewClip->setGeometry(1, 1, kPreviewFrameWidth, kPreviewHeight);
    previewClip->setAutoFillBackground(true);
    QPalette black = previewClip->palette();
    black.setColor(QPalette::Window, Qt::black);
    previewClip->setPalette(black);
    preview = new PreviewImage(previewClip);
    preview->setGeometry(0, 0, kPreviewFrameWidth, kPreviewHeight);
    right->addWidget(previewFrame, 0, Qt::AlignLeft);

    auto* readoutPanel = new QWidget(this);
    readoutPanel->setObjectName(QStringLiteral("readoutPanel"));
    auto* panelLayout = new QVBoxLayout(readoutPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(1);
    readoutLabel = MakeLabel(QStringLiteral(" "), "readoutLabel", readoutPanel);
    readoutLabel->setTextFormat(Qt::PlainText);
    readoutLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QFont fixed = readoutLabel->font();
    fixed.setFamily(QStringLiteral("DejaVu Sans Mono"));
    fixed.setStyleHint(QFont::Monospace);
    readoutLabel->setFont(fixed);
    panelLayout->addWidget(readoutLabel);
    auto* barRow = new QHBoxLayout;
    barRow->setSpacing(2);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(13);
    auto* barLowCaption = MakeLabel(QStringLiteral("0"), "barLowCaption", readoutPanel);
    auto* barHighCaption = MakeLabel(QStringLiteral("255"), "barHighCaption", readoutPanel);
    barLowCaption->setFont(bold);
    barHighCaption->setFont(bold);
    colourBar = new ColourBarImage(readoutPanel);
    colourBar->setFixedSize(kColourBarWidth, kColourBarHeight);
    barRow->addWidget(barLowCaption);
    barRow->addWidget(colourBar);
    barRow->addWidget(barHighCaption);
    barRow->addStretch(1);
    panelLayout->addLayout(barRow);
    right->addWidget(readoutPanel);

    thresholdModeBox = new QGroupBox(QStringLiteral("Intensité min/max"), this);
    thresholdModeBox->setObjectName(QStringLiteral("thresholdModeGroup"));
    auto* levelsGrid = new QGridLayout(thresholdModeBox);
    levelsGrid->setContentsMargins(4, 2, 4, 4);
    levelsGrid->setHorizontalSpacing(4);
    levelsGrid->setVerticalSpacing(2);
    auto* modeRow = new QHBoxLayout;
    modeRow->setSpacing(0);
    thresholdModeGroup = new QButtonGroup(this);
    const QString modeItems[] = {QStringLiteral("en-tête"), QStringLiteral("data"),
                                 QStringLiteral("1 sig."),  QStringLiteral("2 sig."),
                                 QStringLiteral("70%"),     QStringLiteral("fixe")};
    for (int i = 0; i < 6; ++i) {
        auto* r = new QRadioButton(modeItems[i], thresholdModeBox);
        r->setObjectName(QStringLiteral("thresholdModeItem%1").arg(i));
        thresholdModeGroup->addButton(r, i);
        modeRow->addWidget(r);
    }
    modeRow->addStretch(1);
    levelsGrid->addLayout(modeRow, 0, 0, 1, 3);
    lowEdit = new QLineEdit(this);
    lowEdit->setObjectName(QStringLiteral("lowEdit"));
    highEdit = new QLineEdit(this);
    highEdit->setObjectName(QStringLiteral("highEdit"));
    lowBarWidget = new ThresholdScrollBar(this);
    lowBarWidget->setObjectName(QStringLiteral("lowBarWidget"));
    highBarWidget = new ThresholdScrollBar(this);
    highBarWidget->setObjectName(QStringLiteral("highBarWidget"));
    levelsGrid->addWidget(MakeLabel(QStringLiteral("Min:"), "lowCaption", this), 1, 0);
    levelsGrid->addWidget(lowEdit, 1, 1);
    levelsGrid->addWidget(lowBarWidget, 1, 2);
    levelsGrid->addWidget(MakeLabel(QStringLiteral("Max:"), "highCaption", this), 2, 0);
    levelsGrid->addWidget(highEdit, 2, 1);
    levelsGrid->addWidget(highBarWidget, 2, 2);
    lowEdit->setFixedWidth(92);
    highEdit->setFixedWidth(92);
    levelsGrid->setColumnStretch(2, 1);
    right->addWidget(thresholdModeBox);

    auto* paletteRow = new QHBoxLayout;
    paletteRow->setSpacing(3);
    lutChooser = new QComboBox(this);
    lutChooser->setObjectName(QStringLiteral("lutChooser"));
    ittChooser = new QComboBox(this);
    ittChooser->setObjectName(QStringLiteral("ittChooser"));
    for (QComboBox* c : {lutChooser, ittChooser}) {
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->setMinimumContentsLength(8);
    }
    paletteRow->addWidget(MakeLabel(QStringLiteral("Coul."), "lutCaption", this));
    paletteRow->addWidget(lutChooser, 1);
    paletteRow->addSpacing(6);
    paletteRow->addWidget(MakeLabel(QStringLiteral("Intensité"), "ittCaption", this));
    paletteRow->addWidget(ittChooser, 1);
    right->addLayout(paletteRow);

    auto* zoomRow = new QHBoxLayout;
    zoomRow->setSpacing(4);
    fullSizeButton = MakeButton(QStringLiteral("Taille réelle"), "fullSizeButton", this);
    zoomWholeButton = MakeButton(QStringLiteral("Zoom 1:1"), "zoomWholeButton", this);
    zoomPreviousButton = MakeButton(QStringLiteral("Zoom prec."), "zoomPreviousButton", this);
    closeButton = MakeButton(QStringLiteral("Abandon"), "closeButton", this);
    zoomRow->addWidget(fullSizeButton);
    zoomRow->addWidget(zoomWholeButton);
    zoomRow->addWidget(zoomPreviousButton);
    zoomRow->addStretch(1);
    zoomRow->addWidget(closeButton);
    right->addLayout(zoomRow);
    right->addStretch(1);

    root->addLayout(right, 0);

    redrawTicker = new QTimer(this);
    redrawTicker->setObjectName(QStringLiteral("redrawTicker"));
    redrawTicker->setSingleShot(true);
}

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
    connect(planeEdit, &QLineEdit::textChanged, this, [this, &v](const QString& text) {
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
    connect(zoomWholeButton, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.zoomWhole(); }); });
    connect(zoomPreviousButton, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.zoomPrevious(); }); });
    connect(fullSizeButton, &QPushButton::clicked, this, [this] { onFullSizeView(); });

    connect(destinationBrowse, &QToolButton::clicked, this, [this] { onBrowseDestination(); });
    connect(saveBmpButton, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.saveSelectedAsBmp(); }); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
}

template <typename F>
void MainWindow::runEvent(F&& action) {
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

void MainWindow::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

void MainWindow::pullModel() {
    MainWindowModel& c = viewer_->controls;
    c.lowText = ToModel(lowEdit->text());
    c.highText = ToModel(highEdit->text());
    c.planeText = ToModel(planeEdit->text());
    c.filterThresholdText = ToModel(filterThresholdEdit->text());
    c.destination = ToModel(destinationEdit->text());
    c.force24Bit = force24BitBox->isChecked();
    if (pictureColoursGroup->checkedId() >= 0)
        c.pictureColours = PictureColours(pictureColoursGroup->checkedId());
    // The filter list is editable: a name typed there, even one that reads like an item,
    // is not a choice from the list until the list itself picks it.
    {
        const int index = filterChooser->currentIndex();
        const QString text = filterChooser->currentText();
        c.filterList.index = index >= 0 && filterChooser->itemText(index) == text ? index : -1;
        c.filterList.text = ToModel(text);
    }
    // The file list: which entries are selected and which has the focus.
    FileListModel& list = c.fileList;
    if (fileList->count() == list.count()) {
        for (int i = 0; i < list.count(); ++i)
            list.entries[static_cast<std::size_t>(i)].selected = fileList->item(i)->isSelected();
        list.focused = fileList->currentRow();
    }
}

void MainWindow::syncFromModel() {
    const MainWindowModel& c = viewer_->controls;
    SetTextIfChanged(lowEdit, c.lowText);
    SetTextIfChanged(highEdit, c.highText);
    SetTextIfChanged(planeEdit, c.planeText);
    SetTextIfChanged(filterThresholdEdit, c.filterThresholdText);
    SetTextIfChanged(destinationEdit, c.destination);
    SetTextIfChanged(readoutLabel, c.readout);
    SetTextIfChanged(statusLabel, c.status);
    SetTextIfChanged(planeCountLabel, c.planeCount);
    SyncScrollBar(lowBarWidget, c.lowBar);
    SyncScrollBar(highBarWidget, c.highBar);
    {
        const QSignalBlocker b1(pictureColoursGroup);
        const QSignalBlocker b2(thresholdModeGroup);
        if (auto* r = pictureColoursGroup->button(static_cast<int>(c.pictureColours)))
            r->setChecked(true);
        if (auto* r = thresholdModeGroup->button(c.thresholdMode)) r->setChecked(true);
    }
    SyncCombo(lutChooser, c.lutList);
    SyncCombo(ittChooser, c.ittList);
    SyncCombo(filterChooser, c.filterList);
    {
        const QSignalBlocker b(force24BitBox);
        force24BitBox->setChecked(c.force24Bit);
        const QSignalBlocker f(formatChooser);
        formatChooser->setCurrentIndex(static_cast<int>(c.outputFormat));
        saveBmpButton->setText(QString::fromStdString(SaveButtonText(c.outputFormat)));
    }
    flipHorizontalButton->setChecked(c.flipHorizontalShown);
    flipVerticalButton->setChecked(c.flipVerticalShown);

    const bool on = c.displayControlsEnabled;
    for (QWidget* w : std::initializer_list<QWidget*>{
             lowEdit, highEdit, lowBarWidget, highBarWidget, zoomWholeButton, zoomPreviousButton,
             lutChooser, ittChooser, flipVerticalButton, flipHorizontalButton, orientButton,
             applyFilterButton, restoreButton, planeEdit, planeSpinner->upButton(),
             planeSpinner->downButton()})
        w->setEnabled(on);
    thresholdModeBox->setEnabled(c.thresholdModeEnabled);

    syncFileList();
    syncPictures();
}

void MainWindow::syncFileList() {
    const FileListModel& list = viewer_->controls.fileList;
    const QSignalBlocker block(fileList);
    const QSignalBlocker blockSelection(fileList->selectionModel());
    std::vector<std::string> names;
    names.reserve(list.entries.size());
    for (const auto& e : list.entries)
        names.push_back(e.name);
    if (names != shownEntries_) {
        fileList->clear();
        const QIcon icon = QFileIconProvider().icon(QFileIconProvider::File);
        for (const auto& name : names)
            fileList->addItem(new QListWidgetItem(icon, FromPath(name)));
        shownEntries_ = std::move(names);
    }
    for (int i = 0; i < list.count(); ++i) {
        QListWidgetItem* item = fileList->item(i);
        const bool selected = list.entries[static_cast<std::size_t>(i)].selected;
        if (item->isSelected() != selected) item->setSelected(selected);
    }
    const int focused = list.focused >= 0 && list.focused < list.count() ? list.focused : -1;
    if (fileList->currentRow() != focused) {
        if (focused >= 0) {
            fileList->setCurrentRow(focused, QItemSelectionModel::NoUpdate);
        } else {
            fileList->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
        }
    }
    if (focused >= 0) fileList->scrollToItem(fileList->item(focused));
    // The edit under the tree names the file on display, or the mask when there is none.
    const QString fileFieldText =
        focused >= 0 ? FromPath(list.entries[static_cast<std::size_t>(focused)].name)
                     : currentMask();
    if (fileField->text() != fileFieldText) {
        fileField->setText(fileFieldText);
        fileField->setCursorPosition(0);  // a long mask reads from its start
    }
    fileList->viewport()->update();
}

void MainWindow::syncPictures() {
    const Viewer& v = *viewer_;
    const int width = std::clamp(v.controls.previewWidth, 1, kPreviewMaxWidth);
    if (preview->width() != width) preview->resize(width, kPreviewHeight);
    preview->setPicture(StretchNearest(v.displayBitmap, width, kPreviewHeight, kPreviewFrameWidth));
    preview->setBand(v.band);
    colourBar->setPicture(
        StretchNearest(v.colourBarBitmap, kColourBarWidth, kColourBarHeight, kColourBarWidth));
}

QString MainWindow::currentMask() const {
    const QString mask = maskChooser->currentData().toString();
    return mask.isEmpty() ? FileMasks().front().masks : mask;
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

void MainWindow::onFullSizeView() {
    runEvent(
        [this] { fullSizeViewer().showFullSize(statusLabel->text(), viewer_->displayBitmap); });
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

}  // namespace pelorin::ui
