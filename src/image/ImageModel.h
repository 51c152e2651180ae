// The image model: the one image on display, with its header values, statistics and
// pixels, and the two companion records that say which part of it is shown (ZoomWindow)
// and where it lies on the sky (WcsInfo).
//
// Pixel arrays keep the values as stored in the file; the physical value
// bscale * stored + bzero is computed wherever it is needed and never written back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/LargeBlock.h"
#include "image/HeaderCards.h"

namespace pelorin {

// Images from this many pixels on are read and rendered on several threads; below, thread
// start-up costs more than it saves, and a batch on several workers already fills the cores.
inline constexpr long long kParallelPixels = 1 << 21;

// A two-dimensional array indexed [row][column], row 0 the top row of the display.
// Storage is one contiguous row-major block. An array is never empty: unused arrays are
// kept at 1 x 1, so every [0][0] access is valid.
template <typename T>
class PixelArray {
  public:
    using value_type = T;

    PixelArray() : rows_(1), cols_(1), size_(1), data_(AllocateLarge<T>(1)) { data_[0] = T{}; }
    PixelArray(const PixelArray& o) : PixelArray() { *this = o; }
    PixelArray(PixelArray&&) noexcept = default;
    PixelArray& operator=(const PixelArray& o) {
        if (this == &o) return *this;
        resizeForOverwrite(o.rows_, o.cols_);
        std::copy(o.data(), o.data() + o.size_, data_.get());
        return *this;
    }
    PixelArray& operator=(PixelArray&&) noexcept = default;

    // Resizes to rows x cols, zero-filled. A size of 0 in either direction gives 1 x 1.
    void resize(int rows, int cols) {
        resizeForOverwrite(rows, cols);
        std::fill(data_.get(), data_.get() + size_, T{});
    }
    // Resizes to rows x cols with the values left undefined, for a reader that writes every
    // one of them: zero-filling first would touch the whole block twice.
    void resizeForOverwrite(int rows, int cols) {
        if (rows < 1 || cols < 1) rows = cols = 1;
        const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
        if (n != size_ || !data_) data_ = AllocateLarge<T>(n);
        rows_ = rows;
        cols_ = cols;
        size_ = n;
    }
    void reset() { resize(1, 1); }

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    std::size_t size() const { return size_; }

    T* operator[](int r) { return data_.get() + static_cast<std::size_t>(r) * cols_; }
    const T* operator[](int r) const { return data_.get() + static_cast<std::size_t>(r) * cols_; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }

    bool operator==(const PixelArray& o) const {
        return rows_ == o.rows_ && cols_ == o.cols_ && std::equal(data(), data() + size_, o.data());
    }

  private:
    int rows_;
    int cols_;
    std::size_t size_;
    LargeBlock<T> data_;
};

// Texts the readers and the palette loader put into their messages.
struct MessageWords {
    std::string msgKeyword = "Mot clé";
    std::string msgMissing = "manquant";
};

struct ImageState {
    std::string fileName;
    std::int32_t width = 0;
    std::int32_t height = 0;  // 0: the last read produced no image
    std::int32_t planeCount = 1;
    std::int32_t currentPlane = 1;
    std::int32_t bitpix = 0;  // 8, 16, 32, 64, -32 or -64 (a picture drawn directly: its own depth)
    long double bzero = 0;
    long double bscale = 1;
    double headerLow = 0;
    double headerHigh = 0;
    double dataMin = 1e100;
    double dataMax = -1e100;
    long double mean = 0;
    long double sigma = 0;
    // One array pair per pixel kind; only the kind named by bitpix is in use, the others are
    // kept at 1 x 1. The source arrays hold the pixels as loaded, for the filters; while
    // sourceInPixels is set they are not made yet, and the current pixels are the as-loaded
    // ones (a batch without a filter never pays for the copy).
    PixelArray<std::uint8_t> pixels8;
    PixelArray<std::int16_t> pixels16;
    PixelArray<std::int32_t> pixels32;
    PixelArray<std::int64_t> pixels64;
    PixelArray<float> pixelsR32;
    PixelArray<double> pixelsR64;
    PixelArray<std::uint8_t> source8;
    PixelArray<std::int16_t> source16;
    PixelArray<std::int32_t> source32;
    PixelArray<std::int64_t> source64;
    PixelArray<float> sourceR32;
    PixelArray<double> sourceR64;
    bool sourceInPixels = false;
    // A stored 0 may stand for a pixel the file leaves undefined (a BLANK value, or a real
    // NaN or infinity), which the readers store as 0.
    bool zeroMayBeBlank = false;
    double sourceDataMin = 0;
    double sourceDataMax = 0;
    long double sourceMean = 0;
    long double sourceSigma = 0;
    bool loaded = false;
    bool pictureShown = false;
    std::string errorText;
    // The header of the FITS image read: its cards (for an image in an extension its own
    // cards, then those it inherits from the primary header) and its axes NAXIS1, NAXIS2...
    // as the header gives them. Empty for other files.
    HeaderCards cards;
    std::vector<std::int64_t> axes;
    // Bytes of the data unit the file does not hold: the image shows them as zeros, and the
    // caption says the file is cut short.
    std::int64_t missingBytes = 0;
};

struct ZoomWindow {
    std::int32_t colStart = 0;
    std::int32_t colEnd = 1;
    std::int32_t rowStart = 0;
    std::int32_t rowEnd = 1;
    std::int32_t rows = 1;
    std::int32_t cols = 1;
    std::int32_t prevColStart = 0;
    std::int32_t prevColEnd = 1;
    std::int32_t prevRowStart = 0;
    std::int32_t prevRowEnd = 1;
    bool flipHorizontal = false;
    bool flipVertical = false;
};

struct WcsInfo {
    char projection = '-';  // the projection letter of the caption; '-': no sky position
    // The header's CDELT1 and CDELT2, which also decide the display's flips; hasCdelt when
    // either, or CROTA2, was given.
    double cdelt1 = 0, cdelt2 = 0;
    bool hasCdelt = false;
    double centreRa = 0;
    double centreDec = 0;
    double fieldWidth = 0;  // 0: no sky position to show
};

// The lines of the header view, one per card or field, as raw bytes of the file.
using HeaderText = std::vector<std::string>;

// Statistics accumulated while reading: every pixel of the plane, physical values,
// 80-bit sums.
struct StatsAccumulator {
    double dataMin = 1e100;
    double dataMax = -1e100;
    long double s1 = 0;
    long double s2 = 0;
    long double n = 0;

    void add(double v) {
        if (v < dataMin) dataMin = v;
        if (v > dataMax) dataMax = v;
        s1 += v;
        s2 += static_cast<long double>(v) * v;
        n += 1;
    }
    // Mean and population standard deviation. A variance that rounding pushes below zero
    // (a constant image) gives sigma 0 rather than NaN.
    void finish(long double& mean, long double& sigma) const;
};

// ---- Pixel kinds ----
// The pixel kinds, named by their FITS BITPIX: 8 (unsigned bytes), 16, 32 and 64 (signed
// integers), -32 and -64 (IEEE reals). Code that works on the pixels is written once as a
// template over the stored type T and reached through these two dispatchers, so that adding
// a kind means adding it here.

template <typename T>
struct PixelKind {
    using type = T;
};

// Calls f(PixelKind<T>{}) for the stored type T of `bitpix` and returns its result; for a
// bitpix that is no pixel kind, returns a value-initialised result without calling f.
template <typename F>
auto VisitPixelKind(int bitpix, F&& f) {
    using R = decltype(f(PixelKind<std::uint8_t>{}));
    switch (bitpix) {
        case 8:
            return f(PixelKind<std::uint8_t>{});
        case 16:
            return f(PixelKind<std::int16_t>{});
        case 32:
            return f(PixelKind<std::int32_t>{});
        case 64:
            return f(PixelKind<std::int64_t>{});
        case -32:
            return f(PixelKind<float>{});
        case -64:
            return f(PixelKind<double>{});
        default:
            return R();
    }
}

// The current and the as-loaded array of stored type T.
template <typename T, typename Image>
auto& PixelsOf(Image& image) {
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return image.pixels8;
    else if constexpr (std::is_same_v<T, std::int16_t>)
        return image.pixels16;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return image.pixels32;
    else if constexpr (std::is_same_v<T, std::int64_t>)
        return image.pixels64;
    else if constexpr (std::is_same_v<T, float>)
        return image.pixelsR32;
    else
        return image.pixelsR64;
}
template <typename T, typename Image>
auto& SourceOf(Image& image) {
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return image.source8;
    else if constexpr (std::is_same_v<T, std::int16_t>)
        return image.source16;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return image.source32;
    else if constexpr (std::is_same_v<T, std::int64_t>)
        return image.source64;
    else if constexpr (std::is_same_v<T, float>)
        return image.sourceR32;
    else
        return image.sourceR64;
}

// Calls f(pixels, source) with the two arrays of the image's kind (const when the image is)
// and returns its result; a value-initialised result when nothing is loaded in an array.
template <typename Image, typename F>
auto VisitPixels(Image& image, F&& f) {
    return VisitPixelKind(image.bitpix, [&](auto kind) {
        using T = typename decltype(kind)::type;
        return f(PixelsOf<T>(image), SourceOf<T>(image));
    });
}

// Bytes of one stored value of a kind; 0 for a bitpix that is no pixel kind.
inline int ValueBytes(int bitpix) {
    return VisitPixelKind(
        bitpix, [](auto kind) { return static_cast<int>(sizeof(typename decltype(kind)::type)); });
}

void ResetImageArrays(ImageState& image);
// Clears everything a load describes, before the next file is read: the header values, the
// statistics, the cards and every array, so that nothing of a file, read or refused, reaches
// the next one. Kept: the file name, the plane asked for, whether an image is on display,
// and the as-loaded statistics the "fixe" threshold mode carries over.
void StartNewImage(ImageState& image);
// Copies the current pixels into the source arrays now.
void SaveSourcePixels(ImageState& image);
// Marks the current pixels as the as-loaded ones; the copy is made by EnsureSourcePixels,
// before anything changes them.
void KeepPixelsAsSource(ImageState& image);
void EnsureSourcePixels(ImageState& image);
void SaveSourceStatistics(ImageState& image);

// What a plane of `pixels` values costs once shown: its values, their unfiltered copy kept
// while a filter is on, the 8-bit rendering and the written bitmap.
inline long double PlaneMemory(std::int64_t pixels, int valueBytes) {
    return static_cast<long double>(pixels) * (2 * valueBytes + 2);
}
// A plane that would cost more than this much memory must be held at least half by the
// file; otherwise it is damage, refused before memory is taken for what the file does not
// hold.
inline constexpr std::int64_t kLargePlaneBytes = std::int64_t{64} << 20;
inline bool IsLargePlane(std::int64_t pixels, int valueBytes) {
    return PlaneMemory(pixels, valueBytes) > kLargePlaneBytes;
}

// Why an image of width x height values of `valueBytes` bytes cannot be held: its values and
// the 8-bit rendering of the whole would not fit the machine's memory, or its rendering
// would not fit a BMP file. Empty when it can be held; with `failed`, the message of an
// allocation that failed whatever the size.
std::string ImageSizeRefusal(std::int64_t width, std::int64_t height, int valueBytes,
                             bool failed = false);
// What a file cut short lacks, "tronqué : N octets manquants", or nothing; and the note the
// caption adds for it, the same in parentheses after a blank.
std::string DamageText(const ImageState& image);
std::string DamageNote(const ImageState& image);
void RestoreSource(ImageState& image);
double PhysicalValue(const ImageState& image, int row, int column);

// Stored value at [row][column] of the array named by bitpix, as a real (64-bit integers
// rounded to the nearest double); 0 for any other kind.
double StoredValue(const ImageState& image, int row, int column);

}  // namespace pelorin
