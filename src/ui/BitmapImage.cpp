#include "ui/BitmapImage.h"

#include <array>
#include <cstdint>

#include "base/TextEncoding.h"

namespace pelorin::ui {
namespace {

QRgb ToRgb(const RgbColour& c) {
    return qRgb(c.red, c.green, c.blue);
}

// The colours of the palette indices of an 8-bit bitmap; missing entries are black.
std::array<QRgb, 256> PaletteTable(const Bitmap& bitmap) {
    std::array<QRgb, 256> table;
    table.fill(qRgb(0, 0, 0));
    const auto& palette = bitmap.palette();
    for (std::size_t i = 0; i < palette.size() && i < table.size(); ++i)
        table[i] = ToRgb(palette[i]);
    return table;
}

}  // namespace

QImage ToQImage(const Bitmap& bitmap) {
    if (bitmap.empty()) return {};
    const int w = bitmap.width();
    const int h = bitmap.height();
    if (bitmap.bitsPerPixel() == 8) {
        QImage image(w, h, QImage::Format_Indexed8);
        const auto table = PaletteTable(bitmap);
        image.setColorTable(QList<QRgb>(table.begin(), table.end()));
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* src = bitmap.row(y);
            std::copy(src, src + w, image.scanLine(y));
        }
        return image;
    }
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            dst[x] = ToRgb(bitmap.pixelColour(x, y));
    }
    return image;
}

QImage StretchNearest(const Bitmap& bitmap, int targetWidth, int targetHeight, int visibleWidth) {
    if (bitmap.empty() || targetWidth <= 0 || targetHeight <= 0 || visibleWidth <= 0) return {};
    const int outWidth = std::min(visibleWidth, targetWidth);
    const long long srcW = bitmap.width();
    const long long srcH = bitmap.height();
    // Source column of each target column, computed once.
    std::vector<int> column(static_cast<std::size_t>(outWidth));
    for (int x = 0; x < outWidth; ++x)
        column[static_cast<std::size_t>(x)] =
            static_cast<int>((2LL * x + 1) * srcW / (2LL * targetWidth));
    const bool indexed = bitmap.bitsPerPixel() == 8;
    const auto table = indexed ? PaletteTable(bitmap) : std::array<QRgb, 256>{};
    QImage image(outWidth, targetHeight, QImage::Format_RGB32);
    for (int y = 0; y < targetHeight; ++y) {
        const int sy = static_cast<int>((2LL * y + 1) * srcH / (2LL * targetHeight));
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (indexed) {
            const std::uint8_t* src = bitmap.row(sy);
            for (int x = 0; x < outWidth; ++x)
                dst[x] = table[src[column[std::size_t(x)]]];
        } else {
            for (int x = 0; x < outWidth; ++x)
                dst[x] = ToRgb(bitmap.pixelColour(column[std::size_t(x)], sy));
        }
    }
    return image;
}

QString DecodeHeaderLine(const std::string& bytes) {
    QString text = QString::fromStdString(Windows1252ToUtf8(bytes));
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 && u != '\t') c = QChar(static_cast<char16_t>(0x2400 + u));
        if (u == 0x7F) c = QChar(static_cast<char16_t>(0x2421));
    }
    return text;
}

}  // namespace pelorin::ui
