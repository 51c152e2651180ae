#include "ui/StartWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include "ui/MainWindow.h"
#include "viewer/WindowGeometry.h"

namespace pelorin::ui {

StartWindow::StartWindow(QWidget* parent) : QWidget(parent), runModal_(DefaultModalRunner()) {
    setObjectName(QStringLiteral("startWindow"));
    setWindowTitle(QStringLiteral("Pelorin"));
    setFixedSize(355, 203);

    // The title, twice: a grey shadow under a dark blue face.
    QFont title(QStringLiteral("DejaVu Serif"));
    title.setStyleHint(QFont::Serif);
    title.setPixelSize(37);
    title.setBold(true);
    title.setItalic(true);
    auto* shadow = new QLabel(QStringLiteral("Pelorin"), this);
    shadow->setObjectName(QStringLiteral("statusLabel"));
    shadow->setFont(title);
    shadow->setAlignment(Qt::AlignCenter);
    shadow->setGeometry(3, 3, width(), height() - 40);
    shadow->setStyleSheet(QStringLiteral("color: #9aa3b5;"));
    auto* face = new QLabel(QStringLiteral("Pelorin"), this);
    face->setObjectName(QStringLiteral("readoutLabel"));
    face->setFont(title);
    face->setAlignment(Qt::AlignCenter);
    face->setGeometry(0, 0, width(), height() - 40);
    face->setStyleSheet(QStringLiteral("color: #1f2f5c;"));
    auto* subtitle =
        new QLabel(QStringLiteral("Images astronomiques : visualisation et copie BMP"), this);
    subtitle->setObjectName(QStringLiteral("Subtitle"));
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setGeometry(0, height() - 52, width(), 24);

    readSettings();
    // Also when the session ends without the windows being closed one by one.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &StartWindow::writeSettings);
}

StartWindow::~StartWindow() = default;

void StartWindow::readSettings() {
    rememberedDir_.clear();
    rememberedDest_.clear();
    const QSettings settings(QString::fromLatin1(kSettingsOrganisation),
                             QString::fromLatin1(kSettingsApplication));
    if (settings.contains(QString::fromLatin1(kSettingsSourceFolder)))
        rememberedDir_ = settings.value(QString::fromLatin1(kSettingsSourceFolder)).toString();
    if (settings.contains(QString::fromLatin1(kSettingsDestination)))
        rememberedDest_ = settings.value(QString::fromLatin1(kSettingsDestination)).toString();
    rememberedFormat_ = settings.value(QString::fromLatin1(kSettingsFormat)).toString();
    rememberedSize_ = settings.value(QString::fromLatin1(kSettingsWindowSize)).toSize();
    rememberedMaximised_ = settings.value(QString::fromLatin1(kSettingsMaximised)).toBool();
}

void StartWindow::writeSettings() {
    if (settingsWritten_ || !main_) return;
    settingsWritten_ = true;
    QSettings settings(QString::fromLatin1(kSettingsOrganisation),
                       QString::fromLatin1(kSettingsApplication));
    settings.setValue(QString::fromLatin1(kSettingsSourceFolder), main_->selectedFolder());
    settings.setValue(QString::fromLatin1(kSettingsDestination), main_->destinationText());
    settings.setValue(QString::fromLatin1(kSettingsFormat), main_->outputFormatName());
    const bool maximised = main_->isMaximized();
    settings.setValue(QString::fromLatin1(kSettingsWindowSize),
                      maximised ? main_->normalGeometry().size() : main_->size());
    settings.setValue(QString::fromLatin1(kSettingsMaximised), maximised);
    settings.sync();
}

void StartWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!started_ && !event->spontaneous()) {
        started_ = true;
        // Run the main window from the event loop, once this window is on the screen.
        QMetaObject::invokeMethod(this, &StartWindow::runMainWindow, Qt::QueuedConnection);
    }
}

void StartWindow::placeMainWindowAtPointer() {
    const QPoint pointer = pointer_;
    QScreen* screen = QGuiApplication::screenAt(pointer);
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    const QSize size = main_->frameGeometry().size();
    const WindowPoint at =
        PlaceWindowAtPointer({pointer.x(), pointer.y()}, {size.width(), size.height()},
                             {area.x(), area.y(), area.width(), area.height()});
    main_->move(at.x, at.y);
}

void StartWindow::runMainWindow() {
    started_ = true;
    if (!main_) {
        close();
        return;
    }
    if (auto* cancel = main_->findChild<QPushButton*>(QStringLiteral("closeButton")))
        cancel->setText(QStringLiteral("Quitter"));
    const bool opened = !startPaths_.isEmpty() && main_->openPaths(startPaths_);
    if (!opened) {
        // Nothing remembered yet: the user's own folder rather than the root of the disk.
        main_->selectFolder(rememberedDir_.isEmpty() ? QDir::homePath() : rememberedDir_);
    }
    if (!rememberedDest_.isEmpty()) main_->setDestinationText(rememberedDest_);
    pointer_ = QCursor::pos();
    main_->setOutputFormatName(rememberedFormat_);
    // The size the user left the window at; never below its first size.
    if (rememberedSize_.isValid()) main_->resize(rememberedSize_.expandedTo(main_->minimumSize()));
    if (rememberedMaximised_) main_->setWindowState(main_->windowState() | Qt::WindowMaximized);
    placeMainWindowAtPointer();
    placementPending_ = true;
    main_->installEventFilter(this);
    // A window manager tells the frame within moments of the window's showing; after that
    // the window is where the user puts it.
    QTimer::singleShot(3000, this, [this] { placementPending_ = false; });
    runModal_(*main_);
    placementPending_ = false;
    main_->removeEventFilter(this);
    close();
}

bool StartWindow::eventFilter(QObject* watched, QEvent* event) {
    if (placementPending_ && main_ && watched == main_) {
        const QEvent::Type t = event->type();
        if ((t == QEvent::Show || t == QEvent::Move || t == QEvent::Resize) && main_->isVisible() &&
            main_->frameGeometry().size() != main_->size()) {
            placementPending_ = false;
            placeMainWindowAtPointer();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void StartWindow::closeEvent(QCloseEvent* event) {
    // Written at every end of the program, changed or not.
    writeSettings();
    QWidget::closeEvent(event);
}

}  // namespace pelorin::ui
