#include "process/Png.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "base/Errors.h"
#include "process/AtomicFile.h"

namespace pelorin {

namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// One chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data,
              std::size_t size) {
    PutU32(out, static_cast<std::uint32_t>(size));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    PutU32(out, libdeflate_crc32(0, out.data() + typeAt, size + 4));
}

// The scanlines, top row first, each after its filter byte, all with filter None. Palette
// indices mean nothing as differences; and a rendered colour image takes its colours from a
// palette too, so its rows repeat whole colours that the compressor finds as they are: the
// filters that predict a byte from its neighbours (Sub, Up, or the choice per row of the one
// with the smallest bytes) make these files 9 to 13 % larger, for photographs they gain 2 to
// 3 %.
// Every byte is written below: no zero fill first.
using Bytes = std::unique_ptr<std::uint8_t[]>;

Bytes ScanLines(const Bitmap& bitmap, bool indexed, std::size_t& size) {
    const int w = bitmap.width();
    const int h = bitmap.height();
    const int depth = bitmap.bitsPerPixel();
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (indexed ? 1 : 3);
    size = (rowBytes + 1) * static_cast<std::size_t>(h);
    Bytes rows(new std::uint8_t[size]);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* out = rows.get() + (rowBytes + 1) * static_cast<std::size_t>(y);
        const std::uint8_t* in = bitmap.row(y);
        *out++ = 0;
        if (indexed && depth == 8) {
            std::copy(in, in + rowBytes, out);
        } else if (indexed) {
            const int perByte = 8 / depth;
            for (int x = 0; x < w; ++x) {
                const int shift = 8 - depth * (x % perByte + 1);
                out[x] = static_cast<std::uint8_t>((in[x / perByte] >> shift) & ((1 << depth) - 1));
            }
        } else if (depth == 24) {
            for (int x = 0; x < w; ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
        } else {
            for (int x = 0; x < w; ++x) {
                const RgbColour c = bitmap.pixelColour(x, y);
                out[3 * x] = c.red;
                out[3 * x + 1] = c.green;
                out[3 * x + 2] = c.blue;
            }
        }
    }
    return rows;
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Colour rows: libdeflate's fastest level. Its matches find the whole colours a rendered
// image repeats, as well as the usual zlib settings do, in a fraction of their time.
Bytes DeflateFast(const std::uint8_t* in, std::size_t inSize, std::size_t& size) {
    size = 0;
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(1));
    if (!compressor) return nullptr;
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), inSize);
    Bytes out(new std::uint8_t[bound]);
    size = libdeflate_zlib_compress(compressor.get(), in, inSize, out.get(), bound);
    return out;
}

// Palette indices: zlib's run-length strategy. A rendered image's indices repeat in runs
// (flat sky, saturated stars) and otherwise vary like noise, where matches at a distance
// gain nothing: on a 4000 x 4000 sky this is a little smaller than the usual zlib settings
// and about twice as fast as any match search.
Bytes DeflateRuns(const std::uint8_t* in, std::size_t inSize, std::size_t& size) {
    size = 0;
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return nullptr;
    const std::size_t bound = deflateBound(&z, static_cast<uLong>(inSize));
    Bytes out(new std::uint8_t[bound]);
    // zlib counts in 32 bits: a bitmap of 4 GB and more goes in by parts.
    constexpr std::size_t kPart = std::size_t{1} << 30;
    std::size_t fed = 0, written = 0;
    int result = Z_OK;
    while (result == Z_OK) {
        const std::size_t part = std::min(kPart, inSize - fed);
        z.next_in = const_cast<Bytef*>(in + fed);
        z.avail_in = static_cast<uInt>(part);
        z.next_out = out.get() + written;
        z.avail_out = static_cast<uInt>(std::min(kPart, bound - written));
        const int flush = fed + part == inSize ? Z_FINISH : Z_NO_FLUSH;
        result = deflate(&z, flush);
        fed += part - z.avail_in;
        written = z.next_out - out.get();
        if (result == Z_BUF_ERROR && written < bound) result = Z_OK;  // room to go on
    }
    if (result == Z_STREAM_END) size = written;
    deflateEnd(&z);
    return out;
}

}  // namespace

std::vector<std::uint8_t> ToPngBytes(const Bitmap& bitmap, const std::string& what) {
    if (bitmap.empty()) throw OperationError("Cannot create file " + what);
    const bool indexed = bitmap.bitsPerPixel() <= 8 && !bitmap.palette().empty();
    std::size_t rowsSize = 0;
    const Bytes rows = ScanLines(bitmap, indexed, rowsSize);

    std::size_t size = 0;
    const Bytes compressed =
        indexed ? DeflateRuns(rows.get(), rowsSize, size) : DeflateFast(rows.get(), rowsSize, size);
    if (size == 0) throw OperationError("Cannot create file " + what);

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.reserve(size + size / 1000 + 2048);
    std::vector<std::uint8_t> header;
    PutU32(header, static_cast<std::uint32_t>(bitmap.width()));
    PutU32(header, static_cast<std::uint32_t>(bitmap.height()));
    // 8 bits a sample; palette or RGB; deflate, filters of each row, no interlace.
    header.insert(header.end(), {8, static_cast<std::uint8_t>(indexed ? 3 : 2), 0, 0, 0});
    PutChunk(out, "IHDR", header.data(), header.size());
    if (indexed) {
        // An indexed PNG holds at most 256 colours, and every index must name one.
        std::vector<std::uint8_t> palette;
        const auto& colours = bitmap.palette();
        const std::size_t entries = std::size_t{1} << bitmap.bitsPerPixel();
        for (std::size_t i = 0; i < entries; ++i) {
            const RgbColour c = i < colours.size() ? colours[i] : RgbColour{};
            palette.insert(palette.end(), {c.red, c.green, c.blue});
        }
        PutChunk(out, "PLTE", palette.data(), palette.size());
    }
    constexpr std::size_t kIdatBytes = std::size_t{8} << 20;
    for (std::size_t at = 0; at < size; at += kIdatBytes)
        PutChunk(out, "IDAT", compressed.get() + at, std::min(kIdatBytes, size - at));
    PutChunk(out, "IEND", nullptr, 0);
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
