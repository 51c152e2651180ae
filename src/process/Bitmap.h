// A device-independent bitmap: what the preview shows, what the colour bar shows, what a
// BMP picture holds and what the export writes.
//
// Rows are stored top row first, each padded to a multiple of 4 bytes. Pixel formats:
// 1, 4 and 8 bits with a palette; 15 (5-5-5) and 16 (5-6-5) bits, two bytes a pixel,
// little-endian; 24 bits (blue, green, red); 32 bits (blue, green, red, unused).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/LargeBlock.h"

namespace pelorin {

// An allocator whose elements are left uninitialised when a vector grows without a value,
// so that a block about to be overwritten in full is not zero-filled first; large blocks
// come in huge pages (AllocateLarge).
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    T* allocate(std::size_t n) {
        return static_cast<T*>(detail::AllocateLargeBlock(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { detail::FreeLargeBlock(p, n * sizeof(T)); }
};

// Largest picture, in pixels, that the BMP reader accepts (a 16384 x 16384 picture).
inline constexpr std::uint64_t kMaxBmpPixels = std::uint64_t{1} << 28;

struct RgbColour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const RgbColour&) const = default;
};

class Bitmap {
  public:
    Bitmap() = default;

    // A bitmap of the given size and depth (1, 4, 8, 15, 16, 24 or 32), pixels zeroed.
    // Depths up to 8 get a palette of 2^depth black entries.
    void create(int width, int height, int bitsPerPixel);
    // The same with the pixels of each row left undefined, for a caller that writes every
    // one of them; only the padding at the end of each row is zeroed.
    void createForOverwrite(int width, int height, int bitsPerPixel);
    // Back to the empty bitmap (no pixels, depth 0).
    void clear();

    bool empty() const { return width_ <= 0 || height_ <= 0; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerPixel() const { return bitsPerPixel_; }
    // Bytes per stored row, a multiple of 4.
    std::size_t stride() const { return stride_; }
    static std::size_t StrideFor(int width, int bitsPerPixel);

    std::uint8_t* row(int y) { return bits_.data() + static_cast<std::size_t>(y) * stride_; }
    const std::uint8_t* row(int y) const {
        return bits_.data() + static_cast<std::size_t>(y) * stride_;
    }
    using Bits = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;
    const Bits& bits() const { return bits_; }

    // The colour table (depths up to 8 only; empty otherwise).
    const std::vector<RgbColour>& palette() const { return palette_; }
    void setPalette(std::vector<RgbColour> palette) { palette_ = std::move(palette); }

    // Colour of the pixel at (x, y), whatever the depth.
    RgbColour pixelColour(int x, int y) const;

    // Converts to 24 bits per pixel in place; every pixel keeps its colour.
    void convertTo24();

    // Reads a BMP file in its own pixel format: 1, 4, 8 bits (RLE pictures expanded), 16 bits
    // as 15 (5-5-5) or 16 (5-6-5), 24 and 32 bits; 16 and 32-bit pictures with other channel
    // masks come out as 24 bits. Anything malformed or unsupported raises
    // OperationError("Bitmap image is not valid"); a file that cannot be opened raises the
    // open error. A picture beyond the limits of PictureLimits.h raises PictureRefused before
    // its pixels are read; only the headers and the pixel data are read from the file.
    static Bitmap ReadBmpFile(const std::string& path);
    static Bitmap FromBmpBytes(std::span<const std::uint8_t> bytes);
    // The same with another limit on width x height (a smaller one keeps the fuzzer fast).
    static Bitmap FromBmpBytes(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels);

    // The BMP file image of this bitmap: 40-byte header, colour table for depths up to 8,
    // rows bottom first.
    std::vector<std::uint8_t> toBmpBytes() const;
    // Writes the BMP to path through a temporary file in the same folder, renamed over the
    // final name only when complete. Raises OperationError("Cannot create file <path>").
    void saveBmpFile(const std::string& path) const;

    bool operator==(const Bitmap&) const = default;

  private:
    std::vector<std::uint8_t> bmpHeaderBytes(std::size_t& rowBytes) const;

    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    std::size_t stride_ = 0;
    std::vector<RgbColour> palette_;
    Bits bits_;
};

}  // namespace pelorin
