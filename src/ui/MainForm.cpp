#include "ui/MainForm.h"

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

#include "image/Errors.h"
#include "ui/BigImaForm.h"
#include "ui/BitmapImage.h"
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
             "*.fit;*.fts;*.pic;*.bmp;*.dib;*.jpg;*.jpeg;*.jif;*.gif;*.tga;*.rle;*.pcx")},
        {QStringLiteral("FITS,PIC"), QStringLiteral("*.fit;*.fts;*.pic")},
        {QStringLiteral("FITS"), QStringLiteral("*.fit;*.fts")},
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

TcopyAstroForm::TcopyAstroForm(std::unique_ptr<PictureDecoder> decoder, QWidget* parent)
    : QDialog(parent),
      reportError_(DefaultErrorReporter()),
      chooseDirectory_(DefaultDirectoryChooser()) {
    setObjectName(QStringLiteral("copyAstroForm"));
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

TcopyAstroForm::~TcopyAstroForm() {
    // The viewer may still hold hooks into this window; drop them before the widgets go.
    viewer_->onBusy = nullptr;
    viewer_->onRepaint = nullptr;
    viewer_->onShowHeader = nullptr;
    viewer_->controls.timer1.onStateChange = nullptr;
    while (busyDepth_ > 0)
        setBusy(false);
}

void TcopyAstroForm::buildControls() {
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
    SystemTreeView1 = new QTreeView(this);
    SystemTreeView1->setObjectName(QStringLiteral("SystemTreeView1"));
    SystemTreeView1->setModel(folderModel_);
    for (int c = 1; c < folderModel_->columnCount(); ++c)
        SystemTreeView1->hideColumn(c);
    SystemTreeView1->setHeaderHidden(true);
    SystemTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SystemTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    SystemTreeView1->setExpandsOnDoubleClick(true);
    SystemTreeView1->expand(folderModel_->index(QDir::rootPath()));
    SystemTreeView1->setSortingEnabled(true);
    SystemTreeView1->sortByColumn(0, Qt::AscendingOrder);
    // The model reads and sorts folders in the background, so the branch of a folder
    // selected by the program arrives later: keep bringing it into view until the user
    // takes the tree in hand.
    auto scheduleReveal = [this] {
        if (!revealPending_ || revealQueued_) return;
        revealQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            revealQueued_ = false;
            const QModelIndex current = SystemTreeView1->currentIndex();
            if (revealPending_ && current.isValid())
                SystemTreeView1->scrollTo(current, QAbstractItemView::PositionAtCenter);
        });
    };
    connect(folderModel_, &QFileSystemModel::directoryLoaded, this, scheduleReveal);
    connect(folderModel_, &QAbstractItemModel::rowsInserted, this, scheduleReveal);
    connect(folderModel_, &QAbstractItemModel::layoutChanged, this, scheduleReveal);
    treeViewport_ = SystemTreeView1->viewport();
    treeViewport_->installEventFilter(this);
    SystemTreeView1->installEventFilter(this);
    connect(SystemTreeView1->verticalScrollBar(), &QScrollBar::sliderPressed, this,
            [this] { revealPending_ = false; });
    left->addWidget(SystemTreeView1, 5);

    Edit3 = new QLineEdit(this);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Edit3->setToolTip(QStringLiteral("Fichier courant ou masque des fichiers listés"));
    left->addWidget(Edit3);

    FileListBox1 = new FileListWidget(this);
    FileListBox1->setIconSize(QSize(16, 16));
    left->addWidget(FileListBox1, 6);

    auto* listButtons = new QHBoxLayout;
    listButtons->setSpacing(4);
    FilterComboBox1 = new QComboBox(this);
    FilterComboBox1->setObjectName(QStringLiteral("FilterComboBox1"));
    for (const auto& m : FileMasks())
        FilterComboBox1->addItem(
            m.description + QStringLiteral(" (") + m.masks + QStringLiteral(")"), m.masks);
    FilterComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FilterComboBox1->setMinimumContentsLength(3);
    FilterComboBox1->view()->setMinimumWidth(360);
    BitBtn5 = MakeButton(QStringLiteral("Tout selectionner"), "BitBtn5", this);
    BitBtn6 = MakeButton(QStringLiteral("Rien selectionner"), "BitBtn6", this);
    listButtons->addWidget(FilterComboBox1, 1);
    listButtons->addWidget(BitBtn5);
    listButtons->addWidget(BitBtn6);
    left->addLayout(listButtons);

    // Flips and plane.
    auto* flipRow = new QHBoxLayout;
    flipRow->setSpacing(2);
    flipRow->addWidget(MakeLabel(QStringLiteral("Inversion de l'image"), "Label9", this));
    SpeedButton3 = MakeToolButton(ButtonPicture::FlipHorizontal, "SpeedButton3",
                                  QStringLiteral("Inversion gauche-droite"), this);
    SpeedButton2 = MakeToolButton(ButtonPicture::FlipVertical, "SpeedButton2",
                                  QStringLiteral("Inversion haut-bas"), this);
    SpeedButton6 = MakeToolButton(ButtonPicture::Orientation, "SpeedButton6",
                                  QStringLiteral("Orientation donnée par l'en-tête"), this);
    SpeedButton3->setCheckable(true);
    SpeedButton2->setCheckable(true);
    flipRow->addWidget(SpeedButton3);
    flipRow->addWidget(SpeedButton2);
    flipRow->addWidget(SpeedButton6);
    flipRow->addStretch(1);
    flipRow->addWidget(MakeLabel(QStringLiteral("Couche"), "Label11", this));
    UpDown1 = new PlaneEdit(this);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    Edit4 = UpDown1->edit();
    Edit4->setFixedWidth(26);
    flipRow->addWidget(UpDown1);
    Label10 = MakeLabel(QStringLiteral("/1"), "Label10", this);
    Label10->setMinimumWidth(18);
    flipRow->addWidget(Label10);
    left->addLayout(flipRow);

    // Filter.
    auto* filterRow = new QHBoxLayout;
    filterRow->setSpacing(3);
    filterRow->addWidget(MakeLabel(QStringLiteral("Filtre"), "Label12", this));
    ComboBox3 = new QComboBox(this);
    ComboBox3->setObjectName(QStringLiteral("ComboBox3"));
    ComboBox3->setEditable(true);
    ComboBox3->setInsertPolicy(QComboBox::NoInsert);
    ComboBox3->setMinimumContentsLength(10);
    filterRow->addWidget(ComboBox3, 1);
    filterRow->addWidget(MakeLabel(QStringLiteral("Seuil"), "Label13", this));
    Edit5 = new QLineEdit(this);
    Edit5->setObjectName(QStringLiteral("Edit5"));
    Edit5->setFixedWidth(56);
    filterRow->addWidget(Edit5);
    SpeedButton7 = MakeToolButton(ButtonPicture::ApplyFilter, "SpeedButton7",
                                  QStringLiteral("Appliquer le filtre"), this);
    SpeedButton8 = MakeToolButton(ButtonPicture::UndoFilter, "SpeedButton8",
                                  QStringLiteral("Revenir à l'image non filtrée"), this);
    filterRow->addWidget(SpeedButton7);
    filterRow->addWidget(SpeedButton8);
    left->addLayout(filterRow);

    // Picture colours.
    auto* colourBox = new QGroupBox(QStringLiteral("Couleur des images"), this);
    colourBox->setObjectName(QStringLiteral("RadioGroup1"));
    auto* colourRow = new QHBoxLayout(colourBox);
    colourRow->setContentsMargins(6, 2, 6, 2);
    RadioGroup1 = new QButtonGroup(this);
    const QString colourItems[] = {QStringLiteral("Palette du bitmap"),
                                   QStringLiteral("Palette modifiable")};
    for (int i = 0; i < 2; ++i) {
        auto* r = new QRadioButton(colourItems[i], colourBox);
        r->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        RadioGroup1->addButton(r, i);
        colourRow->addWidget(r);
    }
    colourRow->addStretch(1);
    left->addWidget(colourBox);

    // Destination and copy.
    auto* destRow = new QHBoxLayout;
    destRow->setSpacing(3);
    destRow->addWidget(MakeLabel(QStringLiteral("Copie vers"), "Label14", this));
    DirectoryEdit1 = new QLineEdit(this);
    DirectoryEdit1->setObjectName(QStringLiteral("DirectoryEdit1"));
    destRow->addWidget(DirectoryEdit1, 1);
    DirectoryBrowse = new QToolButton(this);
    DirectoryBrowse->setObjectName(QStringLiteral("DirectoryEdit1Button"));
    DirectoryBrowse->setText(QStringLiteral("..."));
    DirectoryBrowse->setToolTip(QStringLiteral("Choisir le dossier de destination"));
    destRow->addWidget(DirectoryBrowse);
    left->addLayout(destRow);

    auto* saveRow = new QHBoxLayout;
    saveRow->setSpacing(6);
    BitBtn1 = MakeButton(QStringLiteral("Sauvegarde BMP"), "BitBtn1", this);
    CheckBox1 = new QCheckBox(QStringLiteral("Force le format BMP 24 bits"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    saveRow->addWidget(BitBtn1);
    saveRow->addWidget(CheckBox1);
    saveRow->addStretch(1);
    left->addLayout(saveRow);

    root->addLayout(left, 1);

    // ---- Right: caption, preview, readout, colour bar, thresholds, palettes, zoom ----
    auto* right = new QVBoxLayout;
    right->setSpacing(3);

    Label2 = new CaptionLabel(QStringLiteral(" "), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    Label2->setTextFormat(Qt::PlainText);
    right->addWidget(Label2);

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
    Image1 = new PreviewImage(previewClip);
    Image1->setGeometry(0, 0, kPreviewFrameWidth, kPreviewHeight);
    right->addWidget(previewFrame, 0, Qt::AlignLeft);

    auto* panel4 = new QWidget(this);
    panel4->setObjectName(QStringLiteral("Panel4"));
    auto* panelLayout = new QVBoxLayout(panel4);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(1);
    Label1 = MakeLabel(QStringLiteral(" "), "Label1", panel4);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QFont fixed = Label1->font();
    fixed.setFamily(QStringLiteral("DejaVu Sans Mono"));
    fixed.setStyleHint(QFont::Monospace);
    Label1->setFont(fixed);
    panelLayout->addWidget(Label1);
    auto* barRow = new QHBoxLayout;
    barRow->setSpacing(2);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(13);
    auto* label5 = MakeLabel(QStringLiteral("0"), "Label5", panel4);
    auto* label6 = MakeLabel(QStringLiteral("255"), "Label6", panel4);
    label5->setFont(bold);
    label6->setFont(bold);
    Image2 = new ColourBarImage(panel4);
    Image2->setFixedSize(kColourBarWidth, kColourBarHeight);
    barRow->addWidget(label5);
    barRow->addWidget(Image2);
    barRow->addWidget(label6);
    barRow->addStretch(1);
    panelLayout->addLayout(barRow);
    right->addWidget(panel4);

    RadioGroup2Box = new QGroupBox(QStringLiteral("Intensité min/max"), this);
    RadioGroup2Box->setObjectName(QStringLiteral("RadioGroup2"));
    auto* levelsGrid = new QGridLayout(RadioGroup2Box);
    levelsGrid->setContentsMargins(4, 2, 4, 4);
    levelsGrid->setHorizontalSpacing(4);
    levelsGrid->setVerticalSpacing(2);
    auto* modeRow = new QHBoxLayout;
    modeRow->setSpacing(0);
    RadioGroup2 = new QButtonGroup(this);
    const QString modeItems[] = {QStringLiteral("en-tête"), QStringLiteral("data"),
                                 QStringLiteral("1 sig."),  QStringLiteral("2 sig."),
                                 QStringLiteral("70%"),     QStringLiteral("fixe")};
    for (int i = 0; i < 6; ++i) {
        auto* r = new QRadioButton(modeItems[i], RadioGroup2Box);
        r->setObjectName(QStringLiteral("RadioGroup2Item%1").arg(i));
        RadioGroup2->addButton(r, i);
        modeRow->addWidget(r);
    }
    modeRow->addStretch(1);
    levelsGrid->addLayout(modeRow, 0, 0, 1, 3);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    ScrollBar1 = new ThresholdScrollBar(this);
    ScrollBar1->setObjectName(QStringLiteral("ScrollBar1"));
    ScrollBar2 = new ThresholdScrollBar(this);
    ScrollBar2->setObjectName(QStringLiteral("ScrollBar2"));
    levelsGrid->addWidget(MakeLabel(QStringLiteral("Min:"), "Label7", this), 1, 0);
    levelsGrid->addWidget(Edit1, 1, 1);
    levelsGrid->addWidget(ScrollBar1, 1, 2);
    levelsGrid->addWidget(MakeLabel(QStringLiteral("Max:"), "Label8", this), 2, 0);
    levelsGrid->addWidget(Edit2, 2, 1);
    levelsGrid->addWidget(ScrollBar2, 2, 2);
    Edit1->setFixedWidth(92);
    Edit2->setFixedWidth(92);
    levelsGrid->setColumnStretch(2, 1);
    right->addWidget(RadioGroup2Box);

    auto* paletteRow = new QHBoxLayout;
    paletteRow->setSpacing(3);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    for (QComboBox* c : {ComboBox1, ComboBox2}) {
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->setMinimumContentsLength(8);
    }
    paletteRow->addWidget(MakeLabel(QStringLiteral("Coul."), "Label3", this));
    paletteRow->addWidget(ComboBox1, 1);
    paletteRow->addSpacing(6);
    paletteRow->addWidget(MakeLabel(QStringLiteral("Intensité"), "Label4", this));
    paletteRow->addWidget(ComboBox2, 1);
    right->addLayout(paletteRow);

    auto* zoomRow = new QHBoxLayout;
    zoomRow->setSpacing(4);
    SpeedButton1 = MakeButton(QStringLiteral("Taille réelle"), "SpeedButton1", this);
    SpeedButton4 = MakeButton(QStringLiteral("Zoom 1:1"), "SpeedButton4", this);
    SpeedButton5 = MakeButton(QStringLiteral("Zoom prec."), "SpeedButton5", this);
    BitBtn4 = MakeButton(QStringLiteral("Abandon"), "BitBtn4", this);
    zoomRow->addWidget(SpeedButton1);
    zoomRow->addWidget(SpeedButton4);
    zoomRow->addWidget(SpeedButton5);
    zoomRow->addStretch(1);
    zoomRow->addWidget(BitBtn4);
    right->addLayout(zoomRow);
    right->addStretch(1);

    root->addLayout(right, 0);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
}

void TcopyAstroForm::connectViewerHooks() {
    Viewer& v = *viewer_;
    v.onBusy = [this](bool busy) { setBusy(busy); };
    v.onRepaint = [this] { onRepaintNow(); };
    v.onShowHeader = [this](const std::string& path) { onShowHeader(path); };
    v.controls.timer1.onStateChange = [this](bool enabled) {
        if (enabled) {
            Timer1->start(viewer_->controls.timer1.interval);
        } else {
            Timer1->stop();
        }
    };
}

void TcopyAstroForm::wireEvents() {
    Viewer& v = *viewer_;
    connect(SystemTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { onTreeSelectionChanged(); });
    connect(FilterComboBox1, &QComboBox::currentIndexChanged, this,
            [this](int index) { onMaskChosen(index); });
    connect(Edit3, &QLineEdit::returnPressed, this, [this] { onEdit3Return(); });
    connect(FileListBox1, &FileListWidget::userClicked, this,
            [this, &v] { runEvent([&v] { v.FileListBox1Click(); }); });
    connect(FileListBox1, &FileListWidget::rightPressed, this, [this, &v](int row) {
        runEvent([&v, row] { v.FileListBox1MouseDown(kRightButton, row); });
    });
    connect(BitBtn5, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.BitBtn5Click(); }); });
    connect(BitBtn6, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.BitBtn6Click(); }); });

    connect(RadioGroup1, &QButtonGroup::idClicked, this,
            [this](int id) { runEvent([this, id] { viewer_->controls.radioGroup1 = id; }); });
    connect(RadioGroup2, &QButtonGroup::idClicked, this, [this, &v](int id) {
        runEvent([&v, id] {
            v.controls.radioGroup2 = id;
            v.RadioGroup2Click(id);
        });
    });
    connect(ScrollBar1, &QScrollBar::valueChanged, this,
            [this](int value) { onScrollBarMoved(1, value); });
    connect(ScrollBar2, &QScrollBar::valueChanged, this,
            [this](int value) { onScrollBarMoved(2, value); });
    connect(Edit1, &QLineEdit::returnPressed, this,
            [this, &v] { runEvent([&v] { v.Edit1KeyPress('\r'); }); });
    connect(Edit2, &QLineEdit::returnPressed, this,
            [this, &v] { runEvent([&v] { v.Edit2KeyPress('\r'); }); });
    connect(Timer1, &QTimer::timeout, this, [this, &v] { runEvent([&v] { v.Timer1Timer(); }); });

    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this, &v](int index) {
        runEvent([&v, index] {
            v.controls.comboBox1.select(index);
            v.ComboBox1Change(index);
        });
    });
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this, &v](int index) {
        runEvent([&v, index] {
            v.controls.comboBox2.select(index);
            v.ComboBox2Change(index);
        });
    });
    connect(ComboBox3, &QComboBox::currentIndexChanged, this,
            [this](int index) { viewer_->controls.comboBox3.select(index); });
    connect(SpeedButton3, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.SpeedButton3Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.SpeedButton2Click(); }); });
    connect(SpeedButton6, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.SpeedButton6Click(); }); });
    connect(Edit4, &QLineEdit::textChanged, this, [this, &v](const QString& text) {
        runEvent([&v, t = ToModel(text)] { v.Edit4Change(t); });
    });
    connect(SpeedButton7, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.SpeedButton7Click(); }); });
    connect(SpeedButton8, &QToolButton::clicked, this,
            [this, &v] { runEvent([&v] { v.SpeedButton8Click(); }); });

    connect(Image1, &PreviewImage::mouseMoved, this, [this, &v](unsigned flags, int x, int y) {
        runEvent([&v, flags, x, y] { v.Image1MouseMove(flags, x, y); });
    });
    connect(Image1, &PreviewImage::mousePressed, this, [this, &v](unsigned button, int x, int y) {
        runEvent([&v, button, x, y] { v.Image1MouseDown(button, x, y); });
    });
    connect(SpeedButton4, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.SpeedButton4Click(); }); });
    connect(SpeedButton5, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.SpeedButton5Click(); }); });
    connect(SpeedButton1, &QPushButton::clicked, this, [this] { onFullSizeView(); });

    connect(DirectoryBrowse, &QToolButton::clicked, this, [this] { onBrowseDestination(); });
    connect(BitBtn1, &QPushButton::clicked, this,
            [this, &v] { runEvent([&v] { v.BitBtn1Click(); }); });
    connect(BitBtn4, &QPushButton::clicked, this, &QDialog::reject);
}

template <typename F>
void TcopyAstroForm::runEvent(F&& action) {
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

void TcopyAstroForm::reportError(const QString& message) {
    // An error of the start-up sequence (a malformed palette file, say) is shown with the
    // window, not before it.
    if (!shownOnce_) {
        pendingErrors_ << message;
        return;
    }
    if (reportError_) reportError_(this, ApplicationTitle(), message);
}

void TcopyAstroForm::showEvent(QShowEvent* event) {
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

void TcopyAstroForm::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

void TcopyAstroForm::pullModel() {
    MainControls& c = viewer_->controls;
    c.edit1 = ToModel(Edit1->text());
    c.edit2 = ToModel(Edit2->text());
    c.edit4 = ToModel(Edit4->text());
    c.edit5 = ToModel(Edit5->text());
    c.directoryEdit1 = ToModel(DirectoryEdit1->text());
    c.checkBox1 = CheckBox1->isChecked();
    if (RadioGroup1->checkedId() >= 0) c.radioGroup1 = RadioGroup1->checkedId();
    // The filter list is editable: a name typed there, even one that reads like an item,
    // is not a choice from the list until the list itself picks it.
    {
        const int index = ComboBox3->currentIndex();
        const QString text = ComboBox3->currentText();
        c.comboBox3.index = index >= 0 && ComboBox3->itemText(index) == text ? index : -1;
        c.comboBox3.text = ToModel(text);
    }
    // The file list: which entries are selected and which has the focus.
    FileListModel& list = c.fileList;
    if (FileListBox1->count() == list.count()) {
        for (int i = 0; i < list.count(); ++i)
            list.entries[static_cast<std::size_t>(i)].selected =
                FileListBox1->item(i)->isSelected();
        list.focused = FileListBox1->currentRow();
    }
}

void TcopyAstroForm::syncFromModel() {
    const MainControls& c = viewer_->controls;
    SetTextIfChanged(Edit1, c.edit1);
    SetTextIfChanged(Edit2, c.edit2);
    SetTextIfChanged(Edit4, c.edit4);
    SetTextIfChanged(Edit5, c.edit5);
    SetTextIfChanged(DirectoryEdit1, c.directoryEdit1);
    SetTextIfChanged(Label1, c.label1);
    SetTextIfChanged(Label2, c.label2);
    SetTextIfChanged(Label10, c.label10);
    SyncScrollBar(ScrollBar1, c.scrollBar1);
    SyncScrollBar(ScrollBar2, c.scrollBar2);
    {
        const QSignalBlocker b1(RadioGroup1);
        const QSignalBlocker b2(RadioGroup2);
        if (auto* r = RadioGroup1->button(c.radioGroup1)) r->setChecked(true);
        if (auto* r = RadioGroup2->button(c.radioGroup2)) r->setChecked(true);
    }
    SyncCombo(ComboBox1, c.comboBox1);
    SyncCombo(ComboBox2, c.comboBox2);
    SyncCombo(ComboBox3, c.comboBox3);
    {
        const QSignalBlocker b(CheckBox1);
        CheckBox1->setChecked(c.checkBox1);
    }
    SpeedButton3->setChecked(c.speedButton3Down);
    SpeedButton2->setChecked(c.speedButton2Down);

    const bool on = c.displayControlsEnabled;
    for (QWidget* w : std::initializer_list<QWidget*>{
             Edit1, Edit2, ScrollBar1, ScrollBar2, SpeedButton4, SpeedButton5, ComboBox1, ComboBox2,
             SpeedButton2, SpeedButton3, SpeedButton6, SpeedButton7, SpeedButton8, Edit4,
             UpDown1->upButton(), UpDown1->downButton()})
        w->setEnabled(on);
    RadioGroup2Box->setEnabled(c.radioGroup2Enabled);

    syncFileList();
    syncPictures();
}

void TcopyAstroForm::syncFileList() {
    const FileListModel& list = viewer_->controls.fileList;
    const QSignalBlocker block(FileListBox1);
    const QSignalBlocker blockSelection(FileListBox1->selectionModel());
    std::vector<std::string> names;
    names.reserve(list.entries.size());
    for (const auto& e : list.entries)
        names.push_back(e.name);
    if (names != shownEntries_) {
        FileListBox1->clear();
        const QIcon icon = QFileIconProvider().icon(QFileIconProvider::File);
        for (const auto& name : names)
            FileListBox1->addItem(new QListWidgetItem(icon, FromPath(name)));
        shownEntries_ = std::move(names);
    }
    for (int i = 0; i < list.count(); ++i) {
        QListWidgetItem* item = FileListBox1->item(i);
        const bool selected = list.entries[static_cast<std::size_t>(i)].selected;
        if (item->isSelected() != selected) item->setSelected(selected);
    }
    const int focused = list.focused >= 0 && list.focused < list.count() ? list.focused : -1;
    if (FileListBox1->currentRow() != focused) {
        if (focused >= 0) {
            FileListBox1->setCurrentRow(focused, QItemSelectionModel::NoUpdate);
        } else {
            FileListBox1->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
        }
    }
    if (focused >= 0) FileListBox1->scrollToItem(FileListBox1->item(focused));
    // The edit under the tree names the file on display, or the mask when there is none.
    const QString edit3 = focused >= 0
                              ? FromPath(list.entries[static_cast<std::size_t>(focused)].name)
                              : currentMask();
    if (Edit3->text() != edit3) {
        Edit3->setText(edit3);
        Edit3->setCursorPosition(0);  // a long mask reads from its start
    }
    FileListBox1->viewport()->update();
}

void TcopyAstroForm::syncPictures() {
    const Viewer& v = *viewer_;
    const int width = std::clamp(v.controls.image1Width, 1, kPreviewMaxWidth);
    if (Image1->width() != width) Image1->resize(width, kPreviewHeight);
    Image1->setPicture(StretchNearest(v.displayBitmap, width, kPreviewHeight, kPreviewFrameWidth));
    Image1->setBand(v.band);
    Image2->setPicture(
        StretchNearest(v.colourBarBitmap, kColourBarWidth, kColourBarHeight, kColourBarWidth));
}

QString TcopyAstroForm::currentMask() const {
    const QString mask = FilterComboBox1->currentData().toString();
    return mask.isEmpty() ? FileMasks().front().masks : mask;
}

bool TcopyAstroForm::selectFolder(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir()) return false;
    const QModelIndex index =
        folderModel_->index(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (!index.isValid()) return false;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        SystemTreeView1->expand(p);
    revealPending_ = true;
    if (SystemTreeView1->currentIndex() == index) {
        // Already selected: the list follows the folder all the same.
        pointListAt(folderModel_->filePath(index));
    } else {
        SystemTreeView1->setCurrentIndex(index);
    }
    SystemTreeView1->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

bool TcopyAstroForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == SystemTreeView1 || watched == treeViewport_) {
        const QEvent::Type t = event->type();
        if (t == QEvent::MouseButtonPress || t == QEvent::Wheel || t == QEvent::KeyPress)
            revealPending_ = false;
    }
    return QDialog::eventFilter(watched, event);
}

QString TcopyAstroForm::selectedFolder() const {
    const QModelIndex index = SystemTreeView1->currentIndex();
    return index.isValid() ? folderModel_->filePath(index) : QString();
}

QString TcopyAstroForm::destinationText() const {
    return DirectoryEdit1->text();
}

void TcopyAstroForm::setDestinationText(const QString& text) {
    DirectoryEdit1->setText(text);
    viewer_->controls.directoryEdit1 = ToModel(text);
}

void TcopyAstroForm::onTreeSelectionChanged() {
    const QString folder = selectedFolder();
    if (!folder.isEmpty()) pointListAt(folder);
}

void TcopyAstroForm::pointListAt(const QString& folder) {
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

void TcopyAstroForm::onMaskChosen(int) {
    if (!listFolder_.isEmpty()) {
        pointListAt(listFolder_);
    } else {
        syncFromModel();
    }
}

void TcopyAstroForm::onEdit3Return() {
    const QString text = Edit3->text().trimmed();
    if (text.isEmpty()) return;
    if (text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'))) {
        // A typed mask filters the list as one of the offered masks would.
        int index = FilterComboBox1->findData(text);
        if (index < 0) {
            FilterComboBox1->addItem(text, text);
            index = FilterComboBox1->count() - 1;
        }
        FilterComboBox1->setCurrentIndex(index);  // re-reads the list
        return;
    }
    // A typed name picks that file, as a click on it would.
    const auto& entries = viewer_->controls.fileList.entries;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        if (FromPath(entries[static_cast<std::size_t>(i)].name)
                .compare(text, Qt::CaseInsensitive) == 0) {
            FileListBox1->setCurrentRow(i, QItemSelectionModel::ClearAndSelect);
            runEvent([this] { viewer_->FileListBox1Click(); });
            return;
        }
    }
}

void TcopyAstroForm::onScrollBarMoved(int which, int value) {
    runEvent([this, which, value] {
        ScrollBarModel& bar =
            which == 1 ? viewer_->controls.scrollBar1 : viewer_->controls.scrollBar2;
        const int before = bar.position();
        bar.setPosition(value);
        // The model runs the change handler itself when it is wired to one; otherwise the
        // change is passed on here.
        if (!bar.onChange && bar.position() != before) {
            if (which == 1) {
                viewer_->ScrollBar1Change();
            } else {
                viewer_->ScrollBar2Change();
            }
        }
    });
}

void TcopyAstroForm::setFullSizeViewer(TBigImaForm* form) {
    bigIma_ = form;
}

TBigImaForm& TcopyAstroForm::fullSizeViewer() {
    if (!bigIma_) {
        ownBigIma_ = std::make_unique<TBigImaForm>();
        bigIma_ = ownBigIma_.get();
    }
    return *bigIma_;
}

void TcopyAstroForm::onFullSizeView() {
    runEvent([this] { fullSizeViewer().showFullSize(Label2->text(), viewer_->displayBitmap); });
}

void TcopyAstroForm::onShowHeader(const std::string& path) {
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(viewer_->headerText.size()));
    for (const auto& line : viewer_->headerText)
        lines << DecodeHeaderLine(line);
    fullSizeViewer().showHeader(QDir::toNativeSeparators(FromPath(path)), lines);
}

void TcopyAstroForm::onRepaintNow() {
    syncFromModel();
    if (isVisible()) repaint();
}

void TcopyAstroForm::onBrowseDestination() {
    runEvent([this] {
        // The dialog may wander through other folders; the working directory, which
        // relative destinations depend on, must be the one from before it opened.
        const std::filesystem::path saved = std::filesystem::current_path();
        QString start = DirectoryEdit1->text();
        if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::currentPath();
        const QString chosen = chooseDirectory_(this, QStringLiteral("Copie vers"), start);
        std::error_code ec;
        std::filesystem::current_path(saved, ec);
        if (ec) ThrowIoError(ec.value());
        if (!chosen.isEmpty())
            viewer_->controls.directoryEdit1 = ToModel(QDir::toNativeSeparators(chosen));
    });
}

}  // namespace pelorin::ui
