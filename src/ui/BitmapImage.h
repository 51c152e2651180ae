// Turning the core's bitmaps and header bytes into what Qt draws and shows.
#pragma once

#include <QImage>
#include <QString>
#include <string>

#include "process/Bitmap.h"

namespace pelorin::ui {

// A QImage holding its own copy of the bitmap's pixels, in the bitmap's colours. 8-bit
// bitmaps become Format_Indexed8 with the bitmap's palette (padded with black to 256
// entries, so that no index can fall outside the table); every other depth becomes
// Format_RGB32. An empty bitmap gives a null image.
QImage ToQImage(const Bitmap& bitmap);

// The bitmap stretched to targetWidth x targetHeight by nearest-pixel sampling (rows and
// columns repeated or dropped, never blended), as Format_RGB32. Only the first
// min(visibleWidth, targetWidth) columns are produced: the preview never shows more than its
// frame, however wide the stretched picture is. Each target pixel takes the source pixel
// under its centre. An empty bitmap or target gives a null image.
QImage StretchNearest(const Bitmap& bitmap, int targetWidth, int targetHeight, int visibleWidth);

// Header bytes as text: Windows-1252 (the code page FITS and PIC headers were written in),
// with control characters, which would break the one-card-a-line layout (a line feed inside
// a card would split it in two), shown as their visible symbols (U+2400 block).
QString DecodeHeaderLine(const std::string& bytes);

}  // namespace pelorin::ui
