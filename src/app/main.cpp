// The viewer program. The three windows are created in this order: the title window, which
// reads the remembered folders; the main window, whose creation loads the palettes and the
// picture decoder; the full-size viewer. Then the title window is shown, which opens the main
// window modally; closing the main window ends the program.
//
// Arguments name files or folders to open in place of the remembered folder, as a file
// manager's "Open with" passes them.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>
#include <optional>

#include "nviewlib/DecoderLoader.h"
#include "ui/FullSizeWindow.h"
#include "ui/MainWindow.h"
#include "ui/StartWindow.h"

namespace {

void Describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Affiche les images astronomiques FITS et PIC et les images ordinaires, et les copie "
        "en BMP."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("fichiers"),
                                 QStringLiteral("Fichiers ou dossier à ouvrir."),
                                 QStringLiteral("[fichier|dossier...]"));
}

void NameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QString::fromLatin1(pelorin::ui::kSettingsOrganisation));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELORIN_VERSION));
}

// The window speaks French; so do the toolkit's own dialogs, buttons and help texts.
void LoadQtFrench(QTranslator& translator) {
    if (translator.load(QStringLiteral("qtbase_fr"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translator);
}

// The build tree's program finds the palettes of its source tree wherever it is started.
QStringList SourceTreePalettes() {
#if defined(PELORIN_BUILD_BIN_DIR) && defined(PELORIN_SOURCE_PALETTES)
    if (QDir(QCoreApplication::applicationDirPath()) == QDir(QStringLiteral(PELORIN_BUILD_BIN_DIR)))
        return {QStringLiteral(PELORIN_SOURCE_PALETTES)};
#endif
    return {};
}

}  // namespace

int main(int argc, char* argv[]) {
    // --help and --version are answered before the windowing system is opened, so that they
    // work without a display.
    {
        QCoreApplication console(argc, argv);
        NameApplication();
        QTranslator qtFrench;
        LoadQtFrench(qtFrench);
        QCommandLineParser parser;
        Describe(parser);
        // Options of the toolkit (-platform, -style...) are only known to the GUI
        // application: unknown options are left for the second reading below.
        parser.parse(QCoreApplication::arguments());
        if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
            parser.showHelp(0);
        if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    }

    QApplication app(argc, argv);
    NameApplication();
#ifdef PELORIN_HAVE_ICON
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/pelorin.png")));
#endif
    // The program's numbers never go through the locale; Qt's own conversions must not
    // either.
    QLocale::setDefault(QLocale::c());
    QTranslator qtFrench;
    LoadQtFrench(qtFrench);

    QCommandLineParser parser;
    Describe(parser);
    parser.process(app);

    pelorin::ui::StartWindow startWindow;
    QStringList paths;
    for (const QString& arg : parser.positionalArguments())
        paths << QDir::cleanPath(QFileInfo(arg).absoluteFilePath());
    if (!paths.isEmpty()) startWindow.openAtStart(paths);

    pelorin::ui::MainWindow mainWindow(pelorin::LazyPictureDecoder(), nullptr,
                                       SourceTreePalettes());
    pelorin::ui::FullSizeWindow fullSizeWindow;
    mainWindow.setFullSizeViewer(&fullSizeWindow);
    startWindow.setMainWindow(&mainWindow);

    startWindow.show();
    return QApplication::exec();
}
