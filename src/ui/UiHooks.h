// The few places where the windows meet the user outside their own widgets: modal loops,
// message boxes and the folder dialog. Each is a replaceable function so that the windows
// can be driven without blocking (the tests install their own).
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QWidget;

namespace pelorin::ui {

// Runs a dialog modally and returns its result.
using ModalRunner = std::function<int(QDialog& dialog)>;
// Shows an error: parent window, title, message.
using ErrorReporter =
    std::function<void(QWidget* parent, const QString& title, const QString& message)>;
// Asks for a folder: parent window, dialog caption, starting folder; empty when cancelled.
using DirectoryChooser =
    std::function<QString(QWidget* parent, const QString& caption, const QString& start)>;

ModalRunner DefaultModalRunner();
ErrorReporter DefaultErrorReporter();
DirectoryChooser DefaultDirectoryChooser();

// The name the windows and message boxes carry.
QString ApplicationTitle();

}  // namespace pelorin::ui
