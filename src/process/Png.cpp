#include "process/Png.h"

#include <png.h>

#include <csetjmp>

#include "base/Errors.h"
#include "process/AtomicFile.h"

namespace pelorin {

namespace {

void Append(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void Flush(png_structp) {}

// The pixel rows as PNG wants them, top row first: palette indices, or red, green, blue.
std::vector<std::uint8_t> PngRows(const Bitmap& bitmap, bool indexed) {
    const int w = bitmap.width();
    const int h = bitmap.height();
    const int depth = bitmap.bitsPerPixel();
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (indexed ? 1 : 3);
    std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        std::uint8_t* out = rows.data() + rowBytes * static_cast<std::size_t>(y);
        const std::uint8_t* in = bitmap.row(y);
        for (int x = 0; x < w; ++x) {
            if (indexed) {
                const int perByte = 8 / depth;
                const int shift = 8 - depth * (x % perByte + 1);
                out[x] = static_cast<std::uint8_t>((in[x / perByte] >> shift) & ((1 << depth) - 1));
            } else if (depth == 24) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            } else {
                const RgbColour c = bitmap.pixelColour(x, y);
                out[3 * x] = c.red;
                out[3 * x + 1] = c.green;
                out[3 * x + 2] = c.blue;
            }
        }
    }
    return rows;
}

// libpng reports errors by a long jump back here: nothing with a destructor lives between
// the setjmp and the end of the function.
bool Encode(const Bitmap& bitmap, bool indexed, const std::vector<png_color>& palette,
            const std::vector<png_bytep>& rowPointers, std::vector<std::uint8_t>& out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, Append, Flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.width()),
                 static_cast<png_uint_32>(bitmap.height()), 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_set_rows(png, info, const_cast<png_bytepp>(rowPointers.data()));
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<std::uint8_t> ToPngBytes(const Bitmap& bitmap, const std::string& what) {
    const bool indexed = bitmap.bitsPerPixel() <= 8 && !bitmap.palette().empty();
    std::vector<png_color> palette;
    for (const RgbColour& c : bitmap.palette())
        palette.push_back(png_color{c.red, c.green, c.blue});
    // An indexed PNG holds at most 256 colours, and every index must name one.
    if (indexed) palette.resize(std::size_t{1} << bitmap.bitsPerPixel(), png_color{0, 0, 0});
    std::vector<std::uint8_t> rows = PngRows(bitmap, indexed);
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.width()) * (indexed ? 1 : 3);
    std::vector<png_bytep> rowPointers(static_cast<std::size_t>(bitmap.height()));
    for (std::size_t y = 0; y < rowPointers.size(); ++y)
        rowPointers[y] = rows.data() + y * rowBytes;
    std::vector<std::uint8_t> out;
    if (bitmap.empty() || !Encode(bitmap, indexed, palette, rowPointers, out))
        throw OperationError("Cannot create file " + what);
    return out;
}

void SavePngFile(const Bitmap& bitmap, const std::string& path) {
    const std::vector<std::uint8_t> bytes = ToPngBytes(bitmap, path);
    WriteFileAtomically(path, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    });
}

}  // namespace pelorin
