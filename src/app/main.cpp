// The viewer program. The three windows are created in this order: the title window, which
// reads the remembered folders; the main window, whose creation loads the palettes and the
// picture decoder; the full-size viewer. Then the title window is shown, which opens the main
// window modally; closing the main window ends the program.
//
// An optional argument names a folder to open in place of the remembered one.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <memory>

#include "nviewlib/DecoderLoader.h"
#include "ui/FullSizeWindow.h"
#include "ui/MainWindow.h"
#include "ui/StartWindow.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelorin"));
    QApplication::setOrganizationName(QString::fromLatin1(pelorin::ui::kSettingsOrganisation));
    QApplication::setApplicationVersion(QStringLiteral(PELORIN_VERSION));
#ifdef PELORIN_HAVE_ICON
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pelorin.png")));
#endif
    // The program's numbers never go through the locale; Qt's own conversions must not
    // either.
    QLocale::setDefault(QLocale::c());

    pelorin::ui::StartWindow startWindow;
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        const QFileInfo folder(args.at(1));
        if (folder.isDir()) {
            startWindow.overrideSourceFolder(folder.absoluteFilePath());
        } else {
            qWarning("%s: not a folder, ignored", qUtf8Printable(args.at(1)));
        }
    }

    pelorin::ui::MainWindow mainWindow(pelorin::LazyPictureDecoder());
    pelorin::ui::FullSizeWindow fullSizeWindow;
    mainWindow.setFullSizeViewer(&fullSizeWindow);
    startWindow.setMainWindow(&mainWindow);

    startWindow.show();
    return QApplication::exec();
}
