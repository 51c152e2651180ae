// The start-up window: the remembered folders read at start and written at the end, the
// main window opened at the mouse pointer and kept on the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

#include "UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/StartWindow.h"

namespace pelorin::uitest {
namespace {

using ui::MainWindow;
using ui::StartWindow;

QSettings Store() {
    return QSettings(QStringLiteral("Norvane"), QStringLiteral("PELORIN"));
}

class StartUp : public ::testing::Test {
  protected:
    void SetUp() override {
        Store().clear();
        ws_.write("a.fit", Fits16(4, 4, std::vector<std::int16_t>(16, 1)));
        images_ = QString::fromStdString(ws_.images().string());
    }
    void TearDown() override { Store().clear(); }

    // One run of the program's windows: the runner stands for the user's session.
    void run(const std::function<void(MainWindow&)>& session) {
        StartWindow start;
        MainWindow main;
        start.setMainWindow(&main);
        int runs = 0;
        start.setModalRunner([&](QDialog& d) {
            ++runs;
            EXPECT_EQ(&d, &main);
            session(main);
            return 0;
        });
        start.show();
        QApplication::processEvents();  // the start-up window opens the main one from the loop
        EXPECT_EQ(runs, 1);
        EXPECT_FALSE(start.isVisible());  // closed when the main window returned
    }

    Workspace ws_;
    QString images_;
};

TEST_F(StartUp, FirstRunStoresBothFoldersEvenUnchanged) {
    ASSERT_FALSE(Store().contains(QStringLiteral("Dir")));
    run([](MainWindow& main) {
        EXPECT_EQ(main.findChild<QPushButton*>(QStringLiteral("closeButton"))->text(),
                  QStringLiteral("Quitter"));
        EXPECT_EQ(main.destinationText(), QStringLiteral("./"));
    });
    EXPECT_TRUE(Store().contains(QStringLiteral("Dir")));
    EXPECT_EQ(Store().value(QStringLiteral("Dest")).toString(), QStringLiteral("./"));
}

TEST_F(StartUp, FoldersChosenInOneRunAreRestoredInTheNext) {
    run([&](MainWindow& main) {
        ASSERT_TRUE(main.selectFolder(images_));
        // Typed but never used for a copy: remembered all the same.
        main.findChild<QLineEdit*>(QStringLiteral("destinationEdit"))
            ->setText(QStringLiteral("out/"));
    });
    EXPECT_EQ(Store().value(QStringLiteral("Dir")).toString(), images_);
    EXPECT_EQ(Store().value(QStringLiteral("Dest")).toString(), QStringLiteral("out/"));

    run([&](MainWindow& main) {
        EXPECT_EQ(main.selectedFolder(), images_);
        EXPECT_EQ(main.listFolder(), images_);
        auto* list = main.findChild<QListWidget*>(QStringLiteral("fileList"));
        ASSERT_EQ(list->count(), 1);
        EXPECT_EQ(list->item(0)->text(), QStringLiteral("a.fit"));
        EXPECT_EQ(main.destinationText(), QStringLiteral("out/"));
        EXPECT_EQ(main.viewer().controls.destination, "out/");
    });
}

TEST_F(StartUp, AVanishedFolderIsIgnored) {
    {
        QSettings s = Store();
        s.setValue(QStringLiteral("Dir"), QStringLiteral("/nonexistent/pelorin/folder"));
    }
    run([](MainWindow& main) {
        EXPECT_EQ(main.selectedFolder(), QString());
        EXPECT_EQ(main.listFolder(), QString());
        EXPECT_EQ(main.destinationText(), QStringLiteral("./"));  // no "Dest": the default
    });
    // The end of the program writes what the window holds.
    EXPECT_EQ(Store().value(QStringLiteral("Dir")).toString(), QString());
}

TEST_F(StartUp, ValuesOfAnotherKindLeaveTheDefaults) {
    {
        QSettings s = Store();
        s.setValue(QStringLiteral("Dir"), 42);
        s.setValue(QStringLiteral("Dest"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
    }
    run([](MainWindow& main) {
        EXPECT_EQ(main.selectedFolder(), QString());
        EXPECT_EQ(main.destinationText(), QStringLiteral("./"));
    });
    // Replaced by plain texts at the end.
    EXPECT_EQ(Store().value(QStringLiteral("Dest")).toString(), QStringLiteral("./"));
}

TEST_F(StartUp, TheOutputFormatIsRememberedAndNamedOnTheSaveButton) {
    Store().setValue(QStringLiteral("Format"), QStringLiteral("png"));
    run([](MainWindow& main) {
        auto* button = main.findChild<QPushButton*>(QStringLiteral("saveBmpButton"));
        auto* chooser = main.findChild<QComboBox*>(QStringLiteral("formatChooser"));
        ASSERT_TRUE(button && chooser);
        EXPECT_EQ(button->text(), QStringLiteral("Sauvegarde PNG"));
        EXPECT_EQ(main.viewer().controls.outputFormat, OutputFormat::Png);
        chooser->setCurrentIndex(0);
        EXPECT_EQ(button->text(), QStringLiteral("Sauvegarde BMP"));
        EXPECT_EQ(main.viewer().controls.outputFormat, OutputFormat::Bmp);
    });
    EXPECT_EQ(Store().value(QStringLiteral("Format")).toString(), QStringLiteral("bmp"));
}

TEST_F(StartUp, TheWindowSizeIsRemembered) {
    QSize first;
    run([&](MainWindow& main) {
        first = main.size();
        main.resize(first + QSize(200, 100));
    });
    EXPECT_EQ(Store().value(QStringLiteral("WindowSize")).toSize(), first + QSize(200, 100));
    EXPECT_FALSE(Store().value(QStringLiteral("Maximised")).toBool());
    run([&](MainWindow& main) { EXPECT_EQ(main.size(), first + QSize(200, 100)); });
    // A size below the first one (another screen, an older run) gives the first size.
    Store().setValue(QStringLiteral("WindowSize"), QSize(100, 100));
    run([&](MainWindow& main) { EXPECT_EQ(main.size(), main.minimumSize()); });
}

TEST_F(StartUp, AnArgumentFolderReplacesTheRememberedOne) {
    {
        QSettings s = Store();
        s.setValue(QStringLiteral("Dir"), QString::fromStdString(ws_.root().string()));
    }
    StartWindow start;
    EXPECT_EQ(start.rememberedDir(), QString::fromStdString(ws_.root().string()));
    start.overrideSourceFolder(images_);
    MainWindow main;
    start.setMainWindow(&main);
    start.setModalRunner([&](QDialog&) {
        EXPECT_EQ(main.selectedFolder(), images_);
        return 0;
    });
    start.runMainWindow();
}

TEST_F(StartUp, MainWindowOpensAtThePointerAndStaysOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCursor::setPos(screen.bottomRight());
    if (QCursor::pos() != screen.bottomRight())
        GTEST_SKIP() << "the platform cannot move the pointer";
    run([&](MainWindow& main) {
        const QRect frame = main.frameGeometry();
        EXPECT_EQ(frame.right(), screen.right());
        EXPECT_EQ(frame.bottom(), screen.bottom());
        EXPECT_EQ(main.size(), QSize(663, 490).expandedTo(main.minimumSizeHint()));
    });

    QCursor::setPos(screen.topLeft() + QPoint(20, 30));
    run([&](MainWindow& main) {
        EXPECT_EQ(main.frameGeometry().topLeft(), screen.topLeft() + QPoint(20, 30));
    });
}

}  // namespace
}  // namespace pelorin::uitest
