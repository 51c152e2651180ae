// Pieces shared by the FITS and PIC readers and the header listings: opening a file with
// the program's error texts, the 80-character card rule, small integer-to-text helpers, the
// PIC header layout, and the loop that reads one plane of values into a pixel array while
// accumulating the statistics.
//
// Not part of the public interface of the image module: include Readers.h instead.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <istream>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "image/HeaderCards.h"
#include "image/ImageModel.h"

namespace pelorin::detail {

// Opens a file for reading as bytes. A missing file raises "File not found", any other
// failure "I/O error %d" (OperationError).
std::ifstream OpenForReading(const std::string& path);

// Number of bytes from the current position of `in` to its end, or -1 when the stream cannot
// tell. Leaves the position unchanged.
std::int64_t BytesLeft(std::istream& in);

// Reads up to `count` bytes; returns how many arrived. Running into the end of the stream is
// not an error here: the callers decide what a short read means.
std::int64_t ReadSome(std::istream& in, std::uint8_t* into, std::int64_t count);

// Decimal text of an integer, independent of any locale.
std::string DecimalText(std::int64_t v);

// a * b when the product fits a non-negative 64-bit integer (both factors non-negative).
inline bool MultiplyFits(std::int64_t a, std::int64_t b, std::int64_t& product) {
    if (a < 0 || b < 0) return false;
    if (a != 0 && b > std::numeric_limits<std::int64_t>::max() / a) return false;
    product = a * b;
    return true;
}

// The message for such a plane of width x height values taking planeBytes in the file.
std::string DamagedPlaneMessage(std::int64_t width, std::int64_t height, std::int64_t planeBytes);

// Little-endian fields of the PIC header.
inline std::int16_t LittleEndian16(const std::uint8_t* b) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | (b[1] << 8)));
}
inline std::int32_t LittleEndian32(const std::uint8_t* b) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
        (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24));
}

// The 290-byte PIC header. Texts are the raw bytes up to the first NUL of their field.
inline constexpr int kPicHeaderSize = 290;
struct PicHeader {
    std::uint8_t signature = 0;
    std::uint8_t version = 0;
    std::int16_t headerSize = 0;
    std::string imageName;
    std::string linkedImageName;
    std::int16_t columnCount = 0;
    std::int16_t rowCount = 0;
    std::int16_t dataLength = 0;
    std::int16_t dataType = 0;
    std::int32_t orientation = 0;
    std::int32_t scaleX = 0;
    std::int32_t scaleY = 0;
    std::int16_t binningX = 0;
    std::int16_t binningY = 0;
    std::int16_t colourPlanes = 0;
    std::string date;
    std::string time;
    std::int16_t thresholdHigh = 0;
    std::int16_t thresholdLow = 0;
    std::int16_t fractionHigh = 0;
    std::int16_t fractionLow = 0;
    std::int32_t integrationTime = 0;
    std::string comment1;
    std::string comment2;
};
// Reads the header from the start of `in`. A file shorter than the header leaves the
// missing bytes at zero.
PicHeader ReadPicHeaderBytes(std::istream& in);

// --- Plane reading -------------------------------------------------------------------

// Statistics of a plane while it is read: the same arithmetic as StatsAccumulator::add,
// pixel after pixel in file order, with the count kept as an integer (exact, and equal to
// adding 1 per pixel in extended precision).
struct PlaneStats {
    using Value = double;

    double dataMin = 1e100;
    double dataMax = -1e100;
    long double s1 = 0;
    long double s2 = 0;
    std::int64_t n = 0;
    std::int64_t valuesRead = 0;  // of them, the values the file held

    // Decodes `count` values of `valueBytes` bytes from `bytes`, stores them into `row`
    // (when not null) and adds their physical values, in order. Kept out of line and on
    // local copies so that the compiler holds the extended sums in registers for the whole
    // loop; the decoding then fills the wait between two dependent additions.
    template <typename T, typename Decode>
    [[gnu::noinline]] void run(const std::uint8_t* bytes, std::int64_t count, int valueBytes,
                               T* row, const Decode& decode) {
        T stored{};
        if (row) {
            accumulate(count, [&](std::int64_t i) {
                const double v = decode(bytes + i * valueBytes, stored);
                row[i] = stored;
                return v;
            });
        } else {
            accumulate(count,
                       [&](std::int64_t i) { return decode(bytes + i * valueBytes, stored); });
        }
    }

    // Adds physical values already decoded by run()'s decoding, in order: the same
    // arithmetic as run(), so the same values give the same statistics.
    [[gnu::noinline]] void addValues(const double* values, std::int64_t count) {
        accumulate(count, [values](std::int64_t i) { return values[i]; });
    }

    // `count` more pixels of physical value p, in one step. Used for the values a short
    // file does not hold, so that a header claiming billions of pixels costs nothing.
    void addRepeated(double p, std::int64_t count) {
        if (count <= 0) return;
        if (p < dataMin) dataMin = p;
        if (p > dataMax) dataMax = p;
        const long double c = static_cast<long double>(count);
        s1 += c * p;
        s2 += c * (static_cast<long double>(p) * p);
        n += count;
    }
    StatsAccumulator accumulator() const {
        StatsAccumulator a;
        a.dataMin = dataMin;
        a.dataMax = dataMax;
        a.s1 = s1;
        a.s2 = s2;
        a.n = static_cast<long double>(n);
        return a;
    }

  private:
    // The one accumulation loop: value(i) gives the i-th physical value, in file order.
    template <typename Value>
    void accumulate(std::int64_t count, const Value& value) {
        double mn = dataMin;
        double mx = dataMax;
        long double a = s1;
        long double b = s2;
        for (std::int64_t i = 0; i < count; ++i) {
            const double v = value(i);
            if (v < mn) mn = v;
            if (v > mx) mx = v;
            a += v;
            b += static_cast<long double>(v) * v;
        }
        dataMin = mn;
        dataMax = mx;
        s1 = a;
        s2 = b;
        n += count;
    }
};

// Stores decoded values like a statistics object, and keeps their physical values in file
// order for PlaneStats::addValues, so that the sums can run on another thread.
struct PhysicalValueRecorder {
    double* out;

    template <typename T, typename Decode>
    void run(const std::uint8_t* bytes, std::int64_t count, int valueBytes, T* row,
             const Decode& decode) {
        T stored{};
        for (std::int64_t i = 0; i < count; ++i, bytes += valueBytes) {
            *out++ = decode(bytes, stored);
            if (row) row[i] = stored;
        }
    }
};

// The same statistics for integral physical values whose sums provably stay below 2^63:
// then every partial sum of the extended-precision loop is an exact integer, and integer
// arithmetic gives the very same results, much faster. The caller checks the bound
// (IntegerSumsAreExact) before choosing this.
struct IntegerPlaneStats {
    using Value = std::int64_t;

    std::int64_t dataMin = std::numeric_limits<std::int64_t>::max();
    std::int64_t dataMax = std::numeric_limits<std::int64_t>::min();
    std::int64_t s1 = 0;
    std::int64_t s2 = 0;
    std::int64_t n = 0;

    template <typename T, typename Decode>
    void run(const std::uint8_t* bytes, std::int64_t count, int valueBytes, T* row,
             const Decode& decode) {
        std::int64_t mn = dataMin, mx = dataMax, a = s1, b = s2;
        T stored{};
        for (std::int64_t i = 0; i < count; ++i, bytes += valueBytes) {
            const std::int64_t v = decode(bytes, stored);
            if (row) row[i] = stored;
            mn = v < mn ? v : mn;
            mx = v > mx ? v : mx;
            a += v;
            b += v * v;
        }
        dataMin = mn;
        dataMax = mx;
        s1 = a;
        s2 = b;
        n += count;
    }
    // Sums of integers are exact in any order: parts of a plane may be counted apart.
    void merge(const IntegerPlaneStats& o) {
        dataMin = std::min(dataMin, o.dataMin);
        dataMax = std::max(dataMax, o.dataMax);
        s1 += o.s1;
        s2 += o.s2;
        n += o.n;
    }
    PlaneStats extended() const {
        PlaneStats p;
        if (n == 0) return p;
        p.dataMin = static_cast<double>(dataMin);
        p.dataMax = static_cast<double>(dataMax);
        p.s1 = static_cast<long double>(s1);
        p.s2 = static_cast<long double>(s2);
        p.n = n;
        return p;
    }
};

// True when `count` integral values of magnitude at most maxMagnitude have sums of values
// and of squares below 2^63.
inline bool IntegerSumsAreExact(std::int64_t count, std::int64_t maxMagnitude) {
    std::int64_t square = 0, total = 0;
    return MultiplyFits(maxMagnitude, maxMagnitude, square) &&
           MultiplyFits(count, std::max<std::int64_t>(square, 1), total);
}

// Geometry of the plane in the file: `height` rows of `width` values of `valueBytes` bytes,
// bottom row first. Both sides are positive and height * width * valueBytes fits 64 bits.
struct PlaneLayout {
    std::int64_t height = 0;
    std::int64_t width = 0;
    int valueBytes = 1;
};

// Values the stream can still deliver for a plane of `layout`, given the bytes left in it
// (-1: unknown).
inline std::int64_t ReadableValues(const PlaneLayout& layout, std::int64_t bytesInFile) {
    const std::int64_t total = layout.height * layout.width;
    return bytesInFile >= 0 ? std::min(total, bytesInFile / layout.valueBytes) : total;
}

// Values converted per block read; a few MB of buffer at most.
inline constexpr std::int64_t kValuesPerRead = 1 << 18;

// Sets to 0 the cells of `pixels` that the values of a plane of `layout` from file value
// `consumed` on would have filled: the rest of the row where the file stopped, then every
// array row above it (the file's later rows).
template <typename T>
void ZeroUnreadTail(const PlaneLayout& layout, std::int64_t consumed, PixelArray<T>& pixels) {
    const std::int64_t total = layout.height * layout.width;
    if (consumed >= total) return;
    const std::int64_t fileRow = consumed / layout.width;
    const std::int64_t col = consumed % layout.width;
    const std::int64_t r = layout.height - 1 - fileRow;  // array row of the stopping point
    const std::int64_t fullRows = std::min<std::int64_t>(r, pixels.rows());
    if (r < pixels.rows()) {
        if (col < pixels.cols())
            std::fill(pixels[static_cast<int>(r)] + col,
                      pixels[static_cast<int>(r)] + pixels.cols(), T{});
    }
    if (fullRows > 0)
        std::fill(pixels[0], pixels[0] + fullRows * static_cast<std::int64_t>(pixels.cols()), T{});
}

// Decodes `count` values starting at value `first` of the plane (counted in file order)
// from `bytes` into their cells of `pixels`, adding them to `stats`.
template <typename T, typename Stats, typename Decode>
void DecodeValues(const std::uint8_t* bytes, std::int64_t first, std::int64_t count,
                  const PlaneLayout& layout, PixelArray<T>& pixels, const Decode& decode,
                  Stats& stats) {
    const int vb = layout.valueBytes;
    std::int64_t fileRow = first / layout.width;
    std::int64_t col = first % layout.width;
    while (count > 0) {
        // Up to the end of the row, or of the values.
        const std::int64_t seg = std::min(count, layout.width - col);
        const std::int64_t r = layout.height - 1 - fileRow;
        stats.run(bytes, seg, vb, pixels[static_cast<int>(r)] + col, decode);
        bytes += seg * vb;
        count -= seg;
        col += seg;
        if (col == layout.width) {
            col = 0;
            ++fileRow;
        }
    }
}

// Reads the plane that starts at the current position of `in` into `pixels` (already sized
// height x width, its values left undefined), the first file row into the last array row.
// `decode(bytes,
// stored)` turns the bytes of one value into the value to store and returns its physical
// value; every physical value enters `stats`, in file order (statistics that can be counted
// in parts, with a merge, are counted on two threads). `bytesInFile` is how many bytes the
// stream still holds (-1: unknown). Returns the number of values read: the cells of those
// the stream does not hold are set to 0, and the values are left to the caller to count.
template <typename T, typename Stats, typename Decode>
std::int64_t ReadPlane(std::istream& in, std::int64_t bytesInFile, const PlaneLayout& layout,
                       PixelArray<T>& pixels, const Decode& decode, Stats& stats) {
    const int vb = layout.valueBytes;
    const std::int64_t readable = ReadableValues(layout, bytesInFile);
    constexpr bool kInParts = requires(Stats a, const Stats b) {
        a.merge(b);
    };
    constexpr bool kSumsAside = requires(Stats a, const double* values) {
        a.addValues(values, 1);
    };
    // Planes too small to repay a second thread are read on one.
    const bool manyCores = std::thread::hardware_concurrency() > 1 && readable >= kParallelPixels;
    const bool twoThreads = kInParts && manyCores;
    // Sums that must follow file order (extended-precision sums of reals) run on a second
    // thread over the physical values of one block while this thread reads and decodes the
    // next: the same values enter the same sums in the same order.
    const bool sumsAside = kSumsAside && manyCores && readable > kValuesPerRead;
    std::vector<double> physical[2];
    if (sumsAside)
        for (auto& p : physical)
            p.resize(static_cast<std::size_t>(kValuesPerRead));
    int nextPhysical = 0;
    std::jthread summer;  // joined however the read ends

    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min(readable, kValuesPerRead) * vb));

    std::int64_t consumed = 0;
    while (consumed < readable) {
        const std::int64_t want = std::min(kValuesPerRead, readable - consumed);
        const std::int64_t got = ReadSome(in, buffer.data(), want * vb) / vb;
        if constexpr (kInParts) {
            if (twoThreads && got >= 4096) {
                const std::int64_t half = got / 2;
                Stats second;
                std::thread other([&] {
                    DecodeValues(buffer.data() + half * vb, consumed + half, got - half, layout,
                                 pixels, decode, second);
                });
                DecodeValues(buffer.data(), consumed, half, layout, pixels, decode, stats);
                other.join();
                stats.merge(second);
            } else {
                DecodeValues(buffer.data(), consumed, got, layout, pixels, decode, stats);
            }
        } else if (sumsAside) {
            double* values = physical[nextPhysical].data();
            nextPhysical ^= 1;
            PhysicalValueRecorder recorder{values};
            DecodeValues(buffer.data(), consumed, got, layout, pixels, decode, recorder);
            if (summer.joinable()) summer.join();
            if constexpr (kSumsAside)
                summer = std::jthread([&stats, values, got] { stats.addValues(values, got); });
        } else {
            DecodeValues(buffer.data(), consumed, got, layout, pixels, decode, stats);
        }
        consumed += got;
        if (got < want) break;  // the file ends inside the plane
    }
    if (summer.joinable()) summer.join();
    ZeroUnreadTail(layout, consumed, pixels);
    return consumed;
}

}  // namespace pelorin::detail
