// PIC reader: a 290-byte little-endian header, then the rows bottom row first, either 16-bit
// integers or 32-bit reals. The reals are rounded into 32-bit integer pixels; the statistics
// keep their unrounded values.
#include <cmath>
#include <cstring>
#include <limits>

#include "image/ReaderSupport.h"
#include "image/Readers.h"

namespace pelorin {

namespace {

// Nearest integer with halves to even, held to the range of the 32-bit pixels.
std::int32_t RoundToPixel32(double v) {
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(std::nearbyint(v));
}

// A real of the file; NaN and infinities count as 0, as in FITS data.
float PicReal(const std::uint8_t* p) {
    const auto u = static_cast<std::uint32_t>(detail::LittleEndian32(p));
    float f;
    std::memcpy(&f, &u, sizeof f);
    return std::isfinite(f) ? f : 0.0f;
}

}  // namespace

PicHeaderInfo ReadPicHeader(std::istream& file, ImageState& image) {
    const detail::PicHeader h = detail::ReadPicHeaderBytes(file);
    if (h.dataType != 3) {
        image.errorText = "PIC data type =" + detail::DecimalText(h.dataType);
        return {};
    }
    int kind = 0;
    if (h.dataLength == 2 || h.dataLength == 16) {
        kind = 16;
    } else if (h.dataLength == 4 || h.dataLength == 32) {
        kind = 32;
    } else {
        image.errorText = "PIC data length =" + detail::DecimalText(h.dataLength);
        return {};
    }
    // An image needs at least one row and one column; negative counts are not sizes.
    if (h.rowCount <= 0) {
        image.errorText = "PIC row count =" + detail::DecimalText(h.rowCount);
        return {};
    }
    if (h.columnCount <= 0) {
        image.errorText = "PIC column count =" + detail::DecimalText(h.columnCount);
        return {};
    }
    PicHeaderInfo info;
    info.height = h.rowCount;
    info.width = h.columnCount;
    info.headerLow = h.thresholdLow;
    info.headerHigh = h.thresholdHigh;
    info.kind = kind;
    return info;
}

void ReadPicImage(std::istream& file, ImageState& image) {
    const PicHeaderInfo info = ReadPicHeader(file, image);
    image.height = info.height;
    image.width = info.width;
    image.headerHigh = info.headerHigh;
    image.headerLow = info.headerLow;
    if (image.height == 0) return;

    image.bitpix = info.kind;
    image.dataMin = 1e100;
    image.dataMax = -1e100;
    image.currentPlane = 1;
    image.planeCount = 1;
    image.bzero = 0;
    image.bscale = 1;

    // The data start right after the header; a file shorter than the header holds none.
    std::int64_t bytesInFile = 0;
    if (file)
        bytesInFile = detail::BytesLeft(file);
    else
        file.clear();

    const detail::PlaneLayout layout{info.height, info.width, info.kind == 16 ? 2 : 4};
    const int rows = info.height;
    const int cols = info.width;
    std::string refusal = ImageSizeRefusal(cols, rows, layout.valueBytes);
    const std::int64_t planeBytes = layout.height * layout.width * layout.valueBytes;
    // A large plane of which the file holds less than half is damage, not an image.
    if (refusal.empty() && IsLargePlane(layout.height * layout.width, layout.valueBytes) &&
        bytesInFile < planeBytes / 2)
        refusal = detail::DamagedPlaneMessage(cols, rows, planeBytes);
    if (!refusal.empty()) {
        image.errorText = refusal;
        image.height = 0;
        image.width = 0;
        return;
    }
    detail::PlaneStats stats;
    std::int64_t consumed = 0;
    if (info.kind == 16) {
        image.pixels16.resizeForOverwrite(rows, cols);
        // At most 32767 x 32767 whole numbers of magnitude at most 2^15: their sums and
        // sums of squares stay far below 2^63, so integer sums are exact and equal to the
        // extended-precision ones.
        detail::IntegerPlaneStats exact;
        consumed = detail::ReadPlane(
            file, bytesInFile, layout, image.pixels16,
            [](const std::uint8_t* p, std::int16_t& s) {
                s = detail::LittleEndian16(p);
                return static_cast<std::int64_t>(s);
            },
            exact);
        stats = exact.extended();
    } else {
        image.pixels32.resizeForOverwrite(rows, cols);
        consumed = detail::ReadPlane(
            file, bytesInFile, layout, image.pixels32,
            [](const std::uint8_t* p, std::int32_t& s) {
                const double v = PicReal(p);
                s = RoundToPixel32(v);
                return v;
            },
            stats);
    }
    stats.addRepeated(0.0, layout.height * layout.width - consumed);

    image.height = rows;
    image.width = cols;
    image.dataMin = stats.dataMin;
    image.dataMax = stats.dataMax;
    stats.accumulator().finish(image.mean, image.sigma);
}

void ReadPicImage(const std::string& fileName, ImageState& image) {
    std::ifstream file = detail::OpenForReading(fileName);
    ReadPicImage(file, image);
}

}  // namespace pelorin
