#include "ui/UiHooks.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace pelorin::ui {

ModalRunner DefaultModalRunner() {
    return [](QDialog& dialog) { return dialog.exec(); };
}

ErrorReporter DefaultErrorReporter() {
    return [](QWidget* parent, const QString& title, const QString& message) {
        QMessageBox::critical(parent, title, message);
    };
}

DirectoryChooser DefaultDirectoryChooser() {
    return [](QWidget* parent, const QString& caption, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, caption, start);
    };
}

QString ApplicationTitle() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Pelorin") : name;
}

}  // namespace pelorin::ui
