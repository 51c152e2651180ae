// The main window's layout: every widget, its caption, size and place. No behaviour here.
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
#include <algorithm>
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

namespace {

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

void MainWindow::buildControls() {
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(4, 4, 4, 4);
    root->setSpacing(6);

    // ---- Left: source folder and files, flips, plane, filter, picture colours, copy ----
    leftPanel = new QWidget(this);
    leftPanel->setObjectName(QStringLiteral("leftPanel"));
    auto* left = new QVBoxLayout(leftPanel);
    left->setContentsMargins(0, 0, 0, 0);
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
    // The descriptions, with the masks they stand for as each item's tooltip.
    for (const FileMask& m : FileMasks()) {
        maskChooser->addItem(FromModel(m.description), FromModel(m.masks));
        maskChooser->setItemData(maskChooser->count() - 1, FromModel(m.masks), Qt::ToolTipRole);
    }
    maskChooser->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    maskChooser->setMinimumContentsLength(3);
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
    saveRow->addWidget(saveBmpButton);
    saveRow->addWidget(formatChooser);
    saveRow->addWidget(force24BitBox);
    saveRow->addStretch(1);
    left->addLayout(saveRow);

    root->addWidget(leftPanel, 1);

    // ---- Right: caption, preview, readout, colour bar, thresholds, palettes, zoom ----
    auto* right = new QVBoxLayout;
    right->setSpacing(3);

    statusLabel = new CaptionLabel(QStringLiteral(" "), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    statusLabel->setTextFormat(Qt::PlainText);
    // Two lines: a caption with sky coordinates does not fit one line of the preview's width.
    statusLabel->setFixedHeight(2 * statusLabel->fontMetrics().lineSpacing());
    statusLabel->setFixedWidth(kPreviewFrameWidth + 2);
    right->addWidget(statusLabel);

    previewFrame = new QFrame(this);
    previewFrame->setObjectName(QStringLiteral("PreviewFrame"));
    previewFrame->setFrameShape(QFrame::Box);
    previewFrame->setLineWidth(1);
    previewFrame->setFixedSize(kPreviewFrameWidth + 2, kPreviewHeight + 2);
    // A window wider than the box is shown whole, full width and lower; the rest of the
    // box stays black.
    previewClip = new QWidget(previewFrame);
    previewClip->setGeometry(1, 1, kPreviewFrameWidth, kPreviewHeight);
    previewClip->setAutoFillBackground(true);
    QPalette black = previewClip->palette();
    black.setColor(QPalette::Window, Qt::black);
    previewClip->setPalette(black);
    preview = new PreviewImage(previewClip);
    preview->setGeometry(0, 0, kPreviewFrameWidth, kPreviewHeight);
    preview->setFocusPolicy(Qt::WheelFocus);
    right->addWidget(previewFrame, 0, Qt::AlignLeft);

    auto* readoutPanel = new QWidget(this);
    readoutPanel->setObjectName(QStringLiteral("readoutPanel"));
    auto* panelLayout = new QVBoxLayout(readoutPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    readoutLabel = MakeLabel(QStringLiteral(" "), "readoutLabel", readoutPanel);
    readoutLabel->setTextFormat(Qt::PlainText);
    readoutLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QFont fixed = readoutLabel->font();
    fixed.setFamily(QStringLiteral("DejaVu Sans Mono"));
    fixed.setStyleHint(QFont::Monospace);
    readoutLabel->setFont(fixed);
    // Room for the sky position's line under the pixel's, so that the panel does not move.
    readoutLabel->setMinimumHeight(2 * readoutLabel->fontMetrics().lineSpacing());
    panelLayout->addWidget(readoutLabel);
    auto* barRow = new QHBoxLayout;
    barRow->setSpacing(2);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(13);
    // The thresholds of the bar's two ends, in data units, under those ends.
    barLowCaption = MakeLabel(QString(), "barLowCaption", readoutPanel);
    barHighCaption = MakeLabel(QString(), "barHighCaption", readoutPanel);
    barLowCaption->setFont(bold);
    barHighCaption->setFont(bold);
    barLowCaption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    barHighCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    colourBar = new ColourBarImage(readoutPanel);
    colourBar->setFixedSize(kColourBarWidth, kColourBarHeight);
    barRow->addWidget(colourBar);
    barRow->addStretch(1);
    panelLayout->addLayout(barRow);
    auto* barCaptions = new QHBoxLayout;
    barCaptions->setSpacing(4);
    auto* barEnds = new QWidget(readoutPanel);
    // As low as the bold digits, so that the captions cost the window no height.
    barEnds->setFixedSize(kColourBarWidth, QFontMetrics(bold).ascent() + 1);
    auto* endsRow = new QHBoxLayout(barEnds);
    endsRow->setContentsMargins(0, 0, 0, 0);
    endsRow->addWidget(barLowCaption);
    endsRow->addStretch(1);
    endsRow->addWidget(barHighCaption);
    barCaptions->addWidget(barEnds);
    barCaptions->addStretch(1);
    panelLayout->addLayout(barCaptions);
    right->addWidget(readoutPanel);

    thresholdModeBox = new QGroupBox(QStringLiteral("Intensité min/max"), this);
    thresholdModeBox->setObjectName(QStringLiteral("thresholdModeGroup"));
    auto* levelsGrid = new QGridLayout(thresholdModeBox);
    levelsGrid->setContentsMargins(4, 2, 4, 4);
    levelsGrid->setHorizontalSpacing(4);
    levelsGrid->setVerticalSpacing(1);
    // Seven modes in two rows of aligned columns: one row of seven would widen the window.
    auto* modeRow = new QGridLayout;
    modeRow->setHorizontalSpacing(0);
    modeRow->setVerticalSpacing(0);
    thresholdModeGroup = new QButtonGroup(this);
    const QString modeItems[] = {QStringLiteral("en-tête"), QStringLiteral("data"),
                                 QStringLiteral("1 sig."),  QStringLiteral("2 sig."),
                                 QStringLiteral("70%"),     QStringLiteral("fixe"),
                                 QStringLiteral("zscale")};
    for (int i = 0; i < 7; ++i) {
        auto* r = new QRadioButton(modeItems[i], thresholdModeBox);
        r->setObjectName(QStringLiteral("thresholdModeItem%1").arg(i));
        thresholdModeGroup->addButton(r, i);
        modeRow->addWidget(r, i / 4, i % 4);
    }
    modeRow->setColumnStretch(4, 1);
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
    // Wide enough for the longest text the viewer puts there (twelve characters).
    const int editWidth =
        std::max(92, lowEdit->fontMetrics().horizontalAdvance(QStringLiteral("-0000000.000")) + 14);
    lowEdit->setFixedWidth(editWidth);
    highEdit->setFixedWidth(editWidth);
    levelsGrid->setColumnStretch(2, 1);
    // The thresholds, palettes and buttons keep their first width when the window grows.
    settingsPanel = new QWidget(this);
    settingsPanel->setObjectName(QStringLiteral("settingsPanel"));
    auto* settings = new QVBoxLayout(settingsPanel);
    settings->setContentsMargins(0, 0, 0, 0);
    settings->setSpacing(right->spacing());
    settings->addWidget(thresholdModeBox);

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
    settings->addLayout(paletteRow);

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
    settings->addLayout(zoomRow);
    right->addWidget(settingsPanel);
    right->addStretch(1);

    root->addLayout(right, 0);

    redrawTicker = new QTimer(this);
    redrawTicker->setObjectName(QStringLiteral("redrawTicker"));
    redrawTicker->setSingleShot(true);

    // Files and folders dropped on the window open as if given on the command line.
    setAcceptDrops(true);
}

}  // namespace pelorin::ui
