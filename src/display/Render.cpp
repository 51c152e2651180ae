// The render engine: every pixel of the shown window through the thresholds and the
// intensity table into an 8-bit display level, exactly, for every pixel kind.
#include "display/Render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <type_traits>
#include <vector>

namespace pelorin {

namespace {

// Maps a stored value to its display level (0..255) through the thresholds. Physical value
// at extended precision, t rounded to a 64-bit real, clamped to 0..255 and truncated.
class LevelMap {
  public:
    LevelMap(long double bscale, long double bzero, double low, double high)
        : bscale_(bscale), bzero_(bzero), low_(low), k_(255 / (high - low)), equal_(high == low) {}

    int operator()(long double stored) const {
        const long double v = bscale_ * stored + bzero_;
        // Equal thresholds: a step at the threshold.
        if (equal_) return v >= low_ ? 255 : 0;
        const double t = static_cast<double>((v - low_) * k_);
        if (!(t > 0)) return 0;  // also NaN
        return t >= 255 ? 255 : static_cast<int>(t);
    }

    // +1 when the level rises with the stored value, -1 when it falls, 0 when constant.
    int direction() const {
        const long double slope = equal_ ? bscale_ : bscale_ * k_;
        return slope > 0 ? 1 : slope < 0 ? -1 : 0;
    }
    // A close, cheap estimate of the level in plain double arithmetic.
    double estimate(double stored) const {
        if (equal_) return stored * bscaleD_ + bzeroD_ >= low_ ? 255 : 0;
        return (stored * bscaleD_ + bzeroD_ - low_) * k_;
    }

  private:
    long double bscale_;
    long double bzero_;
    double low_;
    double k_;
    bool equal_;
    double bscaleD_ = static_cast<double>(bscale_);
    double bzeroD_ = static_cast<double>(bzero_);
};

// Order-preserving integer keys of the stored values: the integers themselves, and for
// reals their bits arranged so that integer order is real order (NaN excluded).
inline std::int64_t KeyOf(std::int32_t s) {
    return s;
}
inline std::int64_t KeyOf(std::int64_t s) {
    return s;
}
inline std::int64_t KeyOf(float s) {
    std::int32_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    return bits < 0 ? (bits ^ 0x7FFFFFFF) : bits;
}
inline std::int64_t KeyOf(double s) {
    std::int64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    return bits < 0 ? (bits ^ 0x7FFFFFFFFFFFFFFFLL) : bits;
}
template <typename T>
T ValueOf(std::int64_t key);
template <>
std::int32_t ValueOf<std::int32_t>(std::int64_t key) {
    return static_cast<std::int32_t>(key);
}
template <>
std::int64_t ValueOf<std::int64_t>(std::int64_t key) {
    return key;
}
template <>
float ValueOf<float>(std::int64_t key) {
    auto bits = static_cast<std::int32_t>(key);
    if (bits < 0) bits ^= 0x7FFFFFFF;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
template <>
double ValueOf<double>(std::int64_t key) {
    std::int64_t bits = key;
    if (bits < 0) bits ^= 0x7FFFFFFFFFFFFFFFLL;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The middle of [a, b] rounded down; b - a may exceed the signed range for the keys of
// doubles.
inline std::int64_t Midpoint(std::int64_t a, std::int64_t b) {
    return a + static_cast<std::int64_t>(
                   (static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a)) / 2);
}

// The exact level of every stored value of a kind too wide for a table. The level is a
// monotonic function of the stored value (every step of its computation is), so it is
// fixed by the 255 boundary values where it changes: found once per redraw by bisection
// with the exact extended-precision arithmetic. Each pixel then gets a cheap estimate in
// double precision, corrected against the boundaries: the result is the exact level.
template <typename T>
class BoundaryLevels {
  public:
    explicit BoundaryLevels(const LevelMap& map) : map_(map), dir_(map.direction()) {
        const std::int64_t lo = KeyOf(std::numeric_limits<T>::lowest());
        const std::int64_t hi = KeyOf(std::numeric_limits<T>::max());
        const std::int64_t keyLow =
            std::is_floating_point_v<T> ? KeyOf(-std::numeric_limits<T>::infinity()) : lo;
        const std::int64_t keyHigh =
            std::is_floating_point_v<T> ? KeyOf(std::numeric_limits<T>::infinity()) : hi;
        constexpr std::int64_t kBelow = std::numeric_limits<std::int64_t>::min();
        constexpr std::int64_t kAbove = std::numeric_limits<std::int64_t>::max();
        bound_[0] = dir_ > 0 ? kBelow : kAbove;
        bound_[256] = dir_ > 0 ? kAbove : kBelow;
        for (int level = 1; level < 256; ++level) {
            if (dir_ > 0) {
                // Smallest key reaching `level`; none: above every key.
                if (map_(ValueOf<T>(keyHigh)) < level) {
                    bound_[level] = std::numeric_limits<std::int64_t>::max();
                    continue;
                }
                std::int64_t a = keyLow, b = keyHigh;
                while (a < b) {
                    const std::int64_t m = Midpoint(a, b);
                    if (map_(ValueOf<T>(m)) >= level)
                        b = m;
                    else
                        a = m + 1;
                }
                bound_[level] = a;
            } else if (dir_ < 0) {
                // Largest key reaching `level`; none: below every key.
                if (map_(ValueOf<T>(keyLow)) < level) {
                    bound_[level] = std::numeric_limits<std::int64_t>::min();
                    continue;
                }
                std::int64_t a = keyLow, b = keyHigh;
                while (a < b) {
                    const std::int64_t m = Midpoint(a, b) + 1;
                    if (map_(ValueOf<T>(m)) >= level)
                        a = m;
                    else
                        b = m - 1;
                }
                bound_[level] = a;
            }
        }
    }

    int operator()(T s) const {
        if constexpr (std::is_floating_point_v<T>) {
            if (s != s) return 0;  // NaN
        }
        // A zero scale: the same level for every finite value, but not for infinities.
        if (dir_ == 0) return map_(s);
        // The extreme 64-bit integers are keys the sentinels share: computed directly.
        if constexpr (std::is_same_v<T, std::int64_t>) {
            if (s == std::numeric_limits<T>::max() || s == std::numeric_limits<T>::min())
                return map_(s);
        }
        // The estimate is only a starting point for the walk below, but it must be a valid
        // one: thresholds a subnormal apart make the slope infinite, and 0 x infinity is NaN,
        // which no clamp turns into a level.
        const double guess = map_.estimate(static_cast<double>(s));
        int level = !(guess > 0) ? 0 : guess >= 255 ? 255 : static_cast<int>(guess);
        const std::int64_t key = KeyOf(s);
        // The sentinels at 0 and 256 stop both walks.
        if (dir_ > 0) {
            while (key >= bound_[level + 1])
                ++level;
            while (key < bound_[level])
                --level;
        } else {
            while (key <= bound_[level + 1])
                ++level;
            while (key > bound_[level])
                --level;
        }
        return level;
    }

  private:
    const LevelMap& map_;
    int dir_;
    std::array<std::int64_t, 257> bound_{};
};

// Rows [r0, r1) of the window: each pixel through `map` into the output rows, with the flips.
template <typename T, typename Map>
void MapRows(const PixelArray<T>& pixels, const ZoomWindow& zoom, const LevelRows& out, int r0,
             int r1, const Map& map) {
    const int cols = zoom.cols;
    for (int r = r0; r < r1; ++r) {
        const int line = zoom.flipVertical ? zoom.rowStart + zoom.rows - 1 - r : r - zoom.rowStart;
        std::uint8_t* dst = out.first + static_cast<std::ptrdiff_t>(line) * out.stride;
        const T* src = pixels[r] + zoom.colStart;
        if (!zoom.flipHorizontal) {
            for (int c = 0; c < cols; ++c)
                dst[c] = map(src[c]);
        } else {
            std::uint8_t* end = dst + cols - 1;
            for (int c = 0; c < cols; ++c)
                end[-c] = map(src[c]);
        }
    }
}

// Splits the window's rows over the machine's cores when the window is large enough for the
// threads to pay for themselves (a batch on several workers keeps its cores busy anyway).
template <typename T, typename Map>
void MapWindow(const PixelArray<T>& pixels, const ZoomWindow& zoom, const LevelRows& out,
               const Map& map) {
    const long long pixelsInWindow = static_cast<long long>(zoom.rows) * zoom.cols;
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    if (pixelsInWindow < kParallelPixels) workers = 1;
    workers = std::min<unsigned>(workers, static_cast<unsigned>(zoom.rows));
    const int first = zoom.rowStart;
    const int last = zoom.rowStart + zoom.rows;
    if (workers <= 1) {
        MapRows(pixels, zoom, out, first, last, map);
        return;
    }
    std::vector<std::thread> threads;
    const int per = (zoom.rows + static_cast<int>(workers) - 1) / static_cast<int>(workers);
    for (unsigned w = 1; w < workers; ++w) {
        const int a = first + static_cast<int>(w) * per;
        const int b = std::min(last, a + per);
        if (a < b) threads.emplace_back([&, a, b] { MapRows(pixels, zoom, out, a, b, map); });
    }
    MapRows(pixels, zoom, out, first, std::min(last, first + per), map);
    for (auto& t : threads)
        t.join();
}

}  // namespace

bool WindowInsideImage(const ImageState& image, const ZoomWindow& zoom) {
    return VisitPixels(image, [&](const auto& pixels, const auto&) {
        return zoom.rows >= 1 && zoom.cols >= 1 && zoom.colStart >= 0 && zoom.rowStart >= 0 &&
               zoom.colStart + zoom.cols <= std::min(pixels.cols(), image.width) &&
               zoom.rowStart + zoom.rows <= std::min(pixels.rows(), image.height);
    });
}

void RenderLevels(const ImageState& image, const ZoomWindow& zoom, const DisplayLevels& levels,
                  const IttTable& itt, const LevelRows& out) {
    if (!WindowInsideImage(image, zoom)) return;
    const LevelMap level(image.bscale, image.bzero, levels.low, levels.high);
    VisitPixels(image, [&](const auto& pixels, const auto&) {
        using T = typename std::remove_cvref_t<decltype(pixels)>::value_type;
        if constexpr (std::is_same_v<T, std::uint8_t>) {
            // Every stored value's byte once, then a table look-up per pixel.
            std::array<std::uint8_t, 256> bytes;
            for (int s = 0; s < 256; ++s)
                bytes[static_cast<std::size_t>(s)] = itt[level(s)];
            MapWindow(pixels, zoom, out, [&bytes](std::uint8_t s) { return bytes[s]; });
        } else if constexpr (std::is_same_v<T, std::int16_t>) {
            std::vector<std::uint8_t> bytes(65536);
            for (int s = -32768; s < 32768; ++s)
                bytes[static_cast<std::size_t>(s + 32768)] = itt[level(s)];
            const std::uint8_t* b = bytes.data() + 32768;
            MapWindow(pixels, zoom, out, [b](std::int16_t s) { return b[s]; });
        } else {
            // Kinds too wide for a table: the exact level through its boundaries.
            const BoundaryLevels<T> exact(level);
            MapWindow(pixels, zoom, out, [&](T s) { return itt[exact(s)]; });
        }
    });
}

}  // namespace pelorin
