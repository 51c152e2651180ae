// Helpers shared by the parts of the main window: the sizes of its fixed pictures and the
// conversions between the widgets' text and the model's.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace pelorin::ui::detail {

inline constexpr int kPreviewFrameWidth = 320;
inline constexpr int kColourBarWidth = 297;
inline constexpr int kColourBarHeight = 15;

inline QString FromModel(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string ToModel(const QString& text) {
    return text.toStdString();
}
// File names and paths go through the file system's own encoding.
inline QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
inline std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace pelorin::ui::detail
