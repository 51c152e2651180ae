#include "process/Bitmap.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <stdexcept>
#include <system_error>

#include "base/Errors.h"
#include "base/FileChecks.h"
#include "process/AtomicFile.h"
#include "process/PictureLimits.h"

namespace pelorin {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kCoreHeaderSize = 12;
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch

bool ValidDepth(int bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1:
        case 4:
        case 8:
        case 15:
        case 16:
        case 24:
        case 32:
            return true;
        default:
            return false;
    }
}

// Bits a pixel takes in memory and in the file: the 5-5-5 format is held in 16 bits.
int StoredBits(int bitsPerPixel) {
    return bitsPerPixel == 15 ? 16 : bitsPerPixel;
}

[[noreturn]] void ThrowInvalidBitmap() {
    throw OperationError("Bitmap image is not valid");
}

// Little-endian fields of the file. Callers check the bounds first.
std::uint16_t GetU16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t GetU32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::int32_t GetI32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::int32_t>(GetU32(b, at));
}

void PutU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        out.push_back(static_cast<std::uint8_t>(v >> s));
}

// A 5 or 6-bit channel widened to 8 bits by repeating its top bits in the low ones, so that
// the largest value becomes 255 and 0 stays 0.
std::uint8_t Expand5(unsigned v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}
std::uint8_t Expand6(unsigned v) {
    return static_cast<std::uint8_t>((v << 2) | (v >> 4));
}

// One colour channel of a bit-field pixel: where it lies and how wide it is.
struct ChannelMask {
    int shift = 0;
    int bits = 0;  // 0: the channel is absent and reads as 0
    std::uint32_t mask = 0;

    // False for a mask whose bits are not one contiguous run.
    bool set(std::uint32_t m) {
        mask = m;
        if (m == 0) return true;
        shift = std::countr_zero(m);
        const std::uint32_t run = m >> shift;
        bits = std::popcount(run);
        return (run & (run + 1)) == 0;
    }

    std::uint8_t extract(std::uint32_t pixel) const {
        if (bits == 0) return 0;
        const std::uint32_t c = (pixel >> shift) & (mask >> shift);
        if (bits >= 8) return static_cast<std::uint8_t>(c >> (bits - 8));
        // Repeat the channel's bits from the top down until the 8 bits are filled.
        std::uint32_t out = 0;
        for (int pos = 8 - bits;; pos -= bits) {
            out |= pos >= 0 ? c << pos : c >> -pos;
            if (pos <= 0) break;
        }
        return static_cast<std::uint8_t>(out);
    }
};

// What the headers of a BMP file say, checked against the size of the file.
struct BmpLayout {
    std::int64_t width = 0;
    std::int64_t height = 0;  // always positive; topDown tells the row order
    bool topDown = false;
    int fileBits = 0;  // bits per pixel as the file stores them
    std::uint32_t compression = kBiRgb;
    std::size_t pixelOffset = 0;
    std::size_t imageSize = 0;  // the header's field, 0 when not given
    std::uint32_t masks[3] = {0, 0, 0};
    std::vector<RgbColour> palette;
};

// `b` holds the start of a file of `size` bytes, at least kHeadBytes of it when the file is
// that long: everything up to the end of the largest colour table.
constexpr std::size_t kHeadBytes = kFileHeaderSize + 124 + 12 + 256 * 4;

BmpLayout ReadLayout(std::span<const std::uint8_t> b, std::uint64_t size, std::uint64_t maxPixels) {
    if (size < kFileHeaderSize + 4 || b[0] != 'B' || b[1] != 'M') ThrowInvalidBitmap();
    BmpLayout l;
    const std::uint32_t offBits = GetU32(b, 10);
    const std::uint32_t headerSize = GetU32(b, 14);
    switch (headerSize) {
        case 12:
        case 40:
        case 52:
        case 56:
        case 108:
        case 124:
            break;
        default:
            ThrowInvalidBitmap();
    }
    if (kFileHeaderSize + headerSize > size) ThrowInvalidBitmap();

    const bool core = headerSize == kCoreHeaderSize;
    int planes = 0;
    std::uint32_t colorsUsed = 0;
    if (core) {
        l.width = GetU16(b, 18);
        l.height = GetU16(b, 20);
        planes = GetU16(b, 22);
        l.fileBits = GetU16(b, 24);
    } else {
        l.width = GetI32(b, 18);
        const std::int64_t h = GetI32(b, 22);
        l.topDown = h < 0;
        l.height = h < 0 ? -h : h;
        planes = GetU16(b, 26);
        l.fileBits = GetU16(b, 28);
        l.compression = GetU32(b, 30);
        l.imageSize = GetU32(b, 34);
        colorsUsed = GetU32(b, 46);
    }
    if (planes != 1 || l.width <= 0 || l.height <= 0) ThrowInvalidBitmap();
    // The product bounds both sides, and with them stride x height, far below overflow.
    if (static_cast<std::uint64_t>(l.width) * static_cast<std::uint64_t>(l.height) > maxPixels)
        ThrowInvalidBitmap();

    bool formatOk = false;
    switch (l.fileBits) {
        case 1:
        case 24:
            formatOk = l.compression == kBiRgb;
            break;
        case 4:
            formatOk = l.compression == kBiRgb || l.compression == kBiRle4;
            break;
        case 8:
            formatOk = l.compression == kBiRgb || l.compression == kBiRle8;
            break;
        case 16:
        case 32:
            formatOk = !core && (l.compression == kBiRgb || l.compression == kBiBitfields);
            break;
        default:
            break;
    }
    // Compressed rows are always stored bottom row first.
    const bool rle = l.compression == kBiRle8 || l.compression == kBiRle4;
    if (!formatOk || (rle && l.topDown)) ThrowInvalidBitmap();

    // The three channel masks: inside the longer headers, or just after the 40-byte one.
    std::size_t tableStart = kFileHeaderSize + headerSize;
    if (l.compression == kBiBitfields) {
        std::size_t maskAt = kFileHeaderSize + kInfoHeaderSize;
        if (headerSize == kInfoHeaderSize) {
            if (tableStart + 12 > size) ThrowInvalidBitmap();
            tableStart += 12;
        }
        for (int i = 0; i < 3; ++i)
            l.masks[i] = GetU32(b, maskAt + 4 * static_cast<std::size_t>(i));
    }
    if (offBits < tableStart || offBits > size) ThrowInvalidBitmap();
    l.pixelOffset = offBits;

    if (l.fileBits <= 8) {
        const std::size_t full = std::size_t{1} << l.fileBits;
        const std::size_t entrySize = core ? 3 : 4;
        std::size_t count =
            core || colorsUsed == 0 ? full : std::min<std::size_t>(colorsUsed, full);
        // (The table therefore lies within the first kHeadBytes.)
        // Never take pixel bytes for colours: the table ends where the pixels begin.
        count = std::min(count, (offBits - tableStart) / entrySize);
        l.palette.assign(full, RgbColour{});
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = tableStart + i * entrySize;
            l.palette[i] = RgbColour{b[at + 2], b[at + 1], b[at]};
        }
    }
    return l;
}

// Writes one 4-bit index into a packed row (the first pixel in the high half of a byte).
void SetNibble(std::uint8_t* row, std::int64_t x, unsigned v) {
    std::uint8_t& byte = row[x >> 1];
    if ((x & 1) == 0)
        byte = static_cast<std::uint8_t>((byte & 0x0F) | ((v & 0x0F) << 4));
    else
        byte = static_cast<std::uint8_t>((byte & 0xF0) | (v & 0x0F));
}

// Expands RLE8 or RLE4 data into `out` (8 or 4 bits, rows top first). The file's rows
// run bottom first. Pixels that no code writes keep index 0.
void DecodeRle(std::span<const std::uint8_t> data, bool fourBits, Bitmap& out) {
    const std::int64_t width = out.width();
    const std::int64_t height = out.height();
    std::int64_t x = 0;
    std::int64_t y = 0;  // counted from the bottom row
    std::size_t i = 0;
    const std::size_t n = data.size();

    // Some writers pad a row's last run past the row's end (GraphicsMagick among them): the
    // pixels past the end are dropped, as other readers drop them.
    auto put = [&](std::int64_t count, auto pixelAt) {
        if (y >= height) ThrowInvalidBitmap();
        std::uint8_t* row = out.row(static_cast<int>(height - 1 - y));
        const std::int64_t inside = std::clamp<std::int64_t>(width - x, 0, count);
        for (std::int64_t k = 0; k < inside; ++k) {
            const unsigned v = pixelAt(k);
            if (fourBits)
                SetNibble(row, x + k, v);
            else
                row[x + k] = static_cast<std::uint8_t>(v);
        }
        x += count;
    };

    while (i < n) {  // data that stops between two codes is read as ended
        if (i + 2 > n) ThrowInvalidBitmap();
        const unsigned count = data[i];
        const unsigned value = data[i + 1];
        i += 2;
        if (count > 0) {
            if (fourBits)
                put(count, [&](std::int64_t k) { return (k & 1) ? value & 0x0F : value >> 4; });
            else
                put(count, [&](std::int64_t) { return value; });
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return;
            case 2:  // move right and up
                if (i + 2 > n) ThrowInvalidBitmap();
                x += data[i];
                y += data[i + 1];
                i += 2;
                if (x > width || y > height) ThrowInvalidBitmap();
                break;
            default: {  // `value` pixels given one by one, padded to a whole word
                const std::size_t bytes = fourBits ? (value + 1) / 2 : value;
                if (i + bytes > n) ThrowInvalidBitmap();
                const std::uint8_t* lit = data.data() + i;
                if (fourBits)
                    put(value, [&](std::int64_t k) {
                        return (k & 1) ? lit[k >> 1] & 0x0Fu
                                       : static_cast<unsigned>(lit[k >> 1] >> 4);
                    });
                else
                    put(value, [&](std::int64_t k) { return lit[k]; });
                i += bytes + (bytes & 1);
                break;
            }
        }
    }
}

}  // namespace

std::size_t Bitmap::StrideFor(int width, int bitsPerPixel) {
    if (width <= 0) return 0;
    const std::size_t bits =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(StoredBits(bitsPerPixel));
    return (bits + 31) / 32 * 4;
}

void Bitmap::create(int width, int height, int bitsPerPixel) {
    createForOverwrite(width, height, bitsPerPixel);
    std::fill(bits_.begin(), bits_.end(), std::uint8_t{0});
}

void Bitmap::createForOverwrite(int width, int height, int bitsPerPixel) {
    if (!ValidDepth(bitsPerPixel)) throw std::invalid_argument("unsupported bitmap depth");
    if (width < 0 || height < 0) throw std::invalid_argument("negative bitmap size");
    const std::size_t stride = StrideFor(width, bitsPerPixel);
    if (height > 0 && stride > std::numeric_limits<std::size_t>::max() / height)
        throw std::length_error("bitmap too large");
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    stride_ = stride;
    bits_.clear();
    bits_.resize(stride * static_cast<std::size_t>(height));
    const std::size_t rowBytes =
        (static_cast<std::size_t>(width) * static_cast<std::size_t>(StoredBits(bitsPerPixel)) + 7) /
        8;
    for (int y = 0; y < height; ++y)
        std::fill(row(y) + rowBytes, row(y) + stride, std::uint8_t{0});
    palette_.clear();
    if (bitsPerPixel <= 8) palette_.assign(std::size_t{1} << bitsPerPixel, RgbColour{});
}

void Bitmap::clear() {
    *this = Bitmap();
}

RgbColour Bitmap::pixelColour(int x, int y) const {
    const std::uint8_t* r = row(y);
    auto fromPalette = [&](unsigned index) {
        return index < palette_.size() ? palette_[index] : RgbColour{};
    };
    switch (bitsPerPixel_) {
        case 1:
            return fromPalette((r[x >> 3] >> (7 - (x & 7))) & 1u);
        case 4:
            return fromPalette((x & 1) ? r[x >> 1] & 0x0Fu : static_cast<unsigned>(r[x >> 1] >> 4));
        case 8:
            return fromPalette(r[x]);
        case 15: {
            const unsigned v = r[2 * x] | (r[2 * x + 1] << 8);
            return RgbColour{Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31)};
        }
        case 16: {
            const unsigned v = r[2 * x] | (r[2 * x + 1] << 8);
            return RgbColour{Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31)};
        }
        case 24:
            return RgbColour{r[3 * x + 2], r[3 * x + 1], r[3 * x]};
        case 32:
            return RgbColour{r[4 * x + 2], r[4 * x + 1], r[4 * x]};
        default:
            return RgbColour{};
    }
}

void Bitmap::convertTo24() {
    if (bitsPerPixel_ == 24) return;
    Bitmap out;
    out.create(width_, height_, 24);
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* d = out.row(y);
        for (int x = 0; x < width_; ++x) {
            const RgbColour c = pixelColour(x, y);
            d[3 * x] = c.blue;
            d[3 * x + 1] = c.green;
            d[3 * x + 2] = c.red;
        }
    }
    *this = std::move(out);
}

Bitmap Bitmap::FromBmpBytes(std::span<const std::uint8_t> bytes) {
    return FromBmpBytes(bytes, kMaxBmpPixels);
}

Bitmap Bitmap::FromBmpBytes(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels) {
    const BmpLayout l = ReadLayout(bytes, bytes.size(), maxPixels);
    const int width = static_cast<int>(l.width);
    const int height = static_cast<int>(l.height);

    // The pixel format kept in memory.
    int depth = l.fileBits;
    ChannelMask channels[3];
    bool throughMasks = false;
    if (l.fileBits == 16) {
        depth = 15;
        if (l.compression == kBiBitfields) {
            const std::uint32_t* m = l.masks;
            if (m[0] == 0xF800 && m[1] == 0x07E0 && m[2] == 0x001F)
                depth = 16;
            else if (!(m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F))
                throughMasks = true;
        }
    } else if (l.fileBits == 32 && l.compression == kBiBitfields) {
        const std::uint32_t* m = l.masks;
        throughMasks = !(m[0] == 0x00FF0000 && m[1] == 0x0000FF00 && m[2] == 0x000000FF);
    }
    if (throughMasks) {
        const std::uint64_t limit = l.fileBits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        for (int c = 0; c < 3; ++c)
            if (l.masks[c] > limit || !channels[c].set(l.masks[c])) ThrowInvalidBitmap();
        depth = 24;
    }

    const auto data = bytes.subspan(l.pixelOffset);
    const bool rle = l.compression == kBiRle8 || l.compression == kBiRle4;
    const std::size_t fileStride = StrideFor(width, l.fileBits);
    // Uncompressed rows must all be in the file; checked before anything is allocated.
    if (!rle &&
        static_cast<std::uint64_t>(fileStride) * static_cast<std::uint64_t>(height) > data.size())
        ThrowInvalidBitmap();

    Bitmap bmp;
    bmp.create(width, height, depth);
    if (l.fileBits <= 8) bmp.palette_ = l.palette;

    if (rle) {
        std::size_t length = data.size();
        if (l.imageSize > 0 && l.imageSize < length) length = l.imageSize;
        DecodeRle(data.first(length), l.compression == kBiRle4, bmp);
        return bmp;
    }
    const std::size_t rowBytes =
        (static_cast<std::size_t>(width) * static_cast<std::size_t>(l.fileBits) + 7) / 8;
    for (int r = 0; r < height; ++r) {
        const std::uint8_t* src = data.data() + static_cast<std::size_t>(r) * fileStride;
        std::uint8_t* dst = bmp.row(l.topDown ? r : height - 1 - r);
        if (!throughMasks) {
            std::copy(src, src + rowBytes, dst);
            continue;
        }
        const int step = l.fileBits / 8;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = src + static_cast<std::size_t>(x) * step;
            const std::uint32_t v =
                step == 2 ? GetU16(std::span(p, 2), 0) : GetU32(std::span(p, 4), 0);
            dst[3 * x] = channels[2].extract(v);
            dst[3 * x + 1] = channels[1].extract(v);
            dst[3 * x + 2] = channels[0].extract(v);
        }
    }
    return bmp;
}

Bitmap Bitmap::ReadBmpFile(const std::string& path) {
    OpenedFile opened = OpenRegularFile(path);
    if (opened.error != 0 && opened.notRegular.empty()) ThrowOpenError(opened.error);
    if (opened.directory) ThrowOpenError(EISDIR);
    if (!opened.notRegular.empty()) throw OperationError(opened.notRegular);
    std::ifstream& in = opened.stream;
    const std::uint64_t fileSize = opened.size;
    auto readBytes = [&](std::vector<std::uint8_t>& bytes, std::uint64_t count) {
        bytes.resize(static_cast<std::size_t>(count));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
        if (in.bad()) ThrowIoError(errno != 0 ? errno : EIO);
        bytes.resize(static_cast<std::size_t>(in.gcount()));
    };

    // The headers first: the picture's size is judged against the file's before any pixel
    // is read, and only the bytes the pixels need are read (a file may be far longer).
    std::vector<std::uint8_t> bytes;
    readBytes(bytes, std::min<std::uint64_t>(fileSize, kHeadBytes));
    const BmpLayout l = ReadLayout(bytes, fileSize, std::numeric_limits<std::uint64_t>::max());
    const std::string refusal = PictureSizeRefusal(static_cast<std::uint64_t>(l.width),
                                                   static_cast<std::uint64_t>(l.height), fileSize);
    if (!refusal.empty()) throw PictureRefused(refusal);

    const std::uint64_t pixels = static_cast<std::uint64_t>(l.width) * l.height;
    std::uint64_t dataBytes = 0;
    if (l.compression == kBiRle8 || l.compression == kBiRle4) {
        // No run-length code yields less than one pixel for two bytes, but for the end of a
        // line (once a row) and moves: twice the pixels and rows, with room to spare.
        dataBytes = 4 * (pixels + static_cast<std::uint64_t>(l.height)) + 4096;
        if (l.imageSize > 0) dataBytes = std::min<std::uint64_t>(dataBytes, l.imageSize);
    } else {
        dataBytes = static_cast<std::uint64_t>(StrideFor(static_cast<int>(l.width), l.fileBits)) *
                    static_cast<std::uint64_t>(l.height);
    }
    readBytes(bytes, std::min(fileSize, l.pixelOffset + dataBytes));
    if (bytes.size() < l.pixelOffset) ThrowIoError(EIO);  // the file shrank meanwhile
    return FromBmpBytes(bytes);
}

// Everything of the BMP file before the pixel rows: file header, information header, masks
// and palette. rowBytes receives the bytes of one row without its padding.
std::vector<std::uint8_t> Bitmap::bmpHeaderBytes(std::size_t& rowBytes) const {
    if (empty() || !ValidDepth(bitsPerPixel_)) ThrowInvalidBitmap();
    const int fileBits = StoredBits(bitsPerPixel_);
    const std::size_t entries = bitsPerPixel_ <= 8 ? std::size_t{1} << bitsPerPixel_ : 0;
    const std::size_t maskBytes = bitsPerPixel_ == 16 ? 12 : 0;
    const std::uint64_t offset = kFileHeaderSize + kInfoHeaderSize + maskBytes + 4 * entries;
    const std::uint64_t imageSize = static_cast<std::uint64_t>(stride_) * height_;
    const std::uint64_t fileSize = offset + imageSize;
    if (fileSize > std::numeric_limits<std::uint32_t>::max()) ThrowInvalidBitmap();

    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(offset));
    out.push_back('B');
    out.push_back('M');
    PutU32(out, static_cast<std::uint32_t>(fileSize));
    PutU32(out, 0);
    PutU32(out, static_cast<std::uint32_t>(offset));

    PutU32(out, kInfoHeaderSize);
    PutU32(out, static_cast<std::uint32_t>(width_));
    PutU32(out, static_cast<std::uint32_t>(height_));  // positive: bottom row first
    PutU16(out, 1);
    PutU16(out, static_cast<std::uint32_t>(fileBits));
    PutU32(out, bitsPerPixel_ == 16 ? kBiBitfields : kBiRgb);
    PutU32(out, static_cast<std::uint32_t>(imageSize));
    PutU32(out, kPixelsPerMetre);
    PutU32(out, kPixelsPerMetre);
    PutU32(out, static_cast<std::uint32_t>(entries));
    PutU32(out, 0);
    if (bitsPerPixel_ == 16) {  // 5-6-5 needs its masks; 16 bits without them mean 5-5-5
        PutU32(out, 0xF800);
        PutU32(out, 0x07E0);
        PutU32(out, 0x001F);
    }
    for (std::size_t i = 0; i < entries; ++i) {
        const RgbColour c = i < palette_.size() ? palette_[i] : RgbColour{};
        out.push_back(c.blue);
        out.push_back(c.green);
        out.push_back(c.red);
        out.push_back(0);
    }
    rowBytes = (static_cast<std::size_t>(width_) * static_cast<std::size_t>(fileBits) + 7) / 8;
    return out;
}

std::vector<std::uint8_t> Bitmap::toBmpBytes() const {
    std::size_t rowBytes = 0;
    std::vector<std::uint8_t> out = bmpHeaderBytes(rowBytes);
    out.reserve(out.size() + stride_ * static_cast<std::size_t>(height_));
    for (int y = height_ - 1; y >= 0; --y) {
        const std::uint8_t* r = row(y);
        out.insert(out.end(), r, r + rowBytes);
        out.insert(out.end(), stride_ - rowBytes, 0);
    }
    return out;
}

void Bitmap::saveBmpFile(const std::string& path) const {
    // The rows go from the bitmap to the file as they are: no copy of the whole file is
    // assembled first. The padding is written as zeros whatever the bitmap holds there.
    std::size_t rowBytes = 0;
    const std::vector<std::uint8_t> header = bmpHeaderBytes(rowBytes);
    WriteFileAtomically(path, [&](std::ostream& out) {
        // Gathered into large writes: a stream's own buffer would pass a few KB per call.
        constexpr std::size_t kChunk = std::size_t{1} << 20;
        std::vector<std::uint8_t> chunk;
        chunk.reserve(std::max(kChunk, header.size()) + stride_);
        chunk.assign(header.begin(), header.end());
        for (int y = height_ - 1; y >= 0; --y) {
            const std::uint8_t* r = row(y);
            chunk.insert(chunk.end(), r, r + rowBytes);
            chunk.insert(chunk.end(), stride_ - rowBytes, 0);
            if (chunk.size() >= kChunk || y == 0) {
                out.write(reinterpret_cast<const char*>(chunk.data()),
                          static_cast<std::streamsize>(chunk.size()));
                chunk.clear();
            }
        }
    });
}

}  // namespace pelorin
