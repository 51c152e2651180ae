#include "process/Filters.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace pelorin {

namespace {

// clang-format off
constexpr Kernel kIdentity{3, {{0, 0, 0}, {0, 1, 0}, {0, 0, 0}}, 1};

constexpr Kernel kKernels[kFilterCount] = {
    kIdentity,  // "None" never filters; the caller restores instead
    {3, {{1, 1, 1}, {1, 4, 1}, {1, 1, 1}}, 12},                            // LowPass 1
    {3, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 9},                             // LowPass 2
    {5, {{0, 0, 1, 0, 0}, {0, 1, 2, 1, 0}, {1, 2, 5, 2, 1}, {0, 1, 2, 1, 0},
         {0, 0, 1, 0, 0}}, 21},                                            // LowPass 3
    {5, {{0, 1, 1, 1, 0}, {1, 1, 2, 1, 1}, {1, 2, 4, 2, 1}, {1, 1, 2, 1, 1},
         {0, 1, 1, 1, 0}}, 28},                                            // LowPass 4
    {5, {{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1},
         {1, 1, 1, 1, 1}}, 25},                                            // LowPass 5
    {5, {{0, 0.6, 1.7, 0.6, 0}, {0.6, 13, 36, 13, 0.6}, {1.7, 36, 100, 36, 1.7},
         {0.6, 13, 36, 13, 0.6}, {0, 0.6, 1.7, 0.6, 0}}, 307.6},          // Gauss
    {3, {{0, -1, 0}, {-1, 7, -1}, {0, -1, 0}}, 3},                         // Focus 1
    {3, {{0, -1, 0}, {-1, 5, -1}, {0, -1, 0}}, 1},                         // Focus 2
    {3, {{-1, -1, -1}, {-1, 9, -1}, {-1, -1, -1}}, 1},                     // Focus 3
    {3, {{-1, -1, -1}, {-1, 8, -1}, {-1, -1, -1}}, 1},                     // Edge
    {3, {{1, -1, -1}, {1, -2, -1}, {1, 1, 1}}, 1},                         // Gradient 1
    {3, {{-1, -1, 1}, {-1, -2, 1}, {1, 1, 1}}, 1},                         // Gradient 2
    {3, {{-1, -1, -1}, {1, 1, 1}, {0, 0, 0}}, 1},                          // Gradient 3
    {3, {{0, 1, -1}, {0, 1, -1}, {0, 1, -1}}, 1},                          // Gradient 4
};
// clang-format on

template <typename T>
constexpr bool kIsInteger = std::is_integral_v<T>;

// The range a filtered value is clipped to: the stored type's range (integer kinds only).
template <typename T>
struct Range {
    static constexpr long double lo = static_cast<long double>(std::numeric_limits<T>::min());
    static constexpr long double hi = static_cast<long double>(std::numeric_limits<T>::max());
};

// Nearest integer, halves to even, as std::nearbyint in the default rounding mode, without
// the library call (which saves and restores the floating-point environment every time).
// Adding and taking back 2^(digits-1) leaves no fraction bits, so the addition rounds.
// Values that large are already integers; NaN and infinities pass through.
inline long double RoundToEven(long double v) {
    constexpr long double big = static_cast<long double>(
        std::uint64_t{1} << (std::numeric_limits<long double>::digits - 1));
    if (!(std::fabs(v) < big)) return v;
    const long double r = v >= 0 ? (v + big) - big : (v - big) + big;
    return std::copysign(r, v);  // -0.3 rounds to -0, like nearbyint
}

// The statistics of one filter pass, in physical units.
struct FilterStats {
    double dataMin = 1e100;
    double dataMax = -1e100;
    long double sum = 0;
    long double sumSquares = 0;
    long long n = 0;

    void storeInto(ImageState& image) const {
        if (n == 0) return;  // nothing to form a mean from: keep what was there
        const long double count = static_cast<long double>(n);
        image.dataMin = dataMin;
        image.dataMax = dataMax;
        image.mean = sum / count;
        const long double variance = sumSquares / count - image.mean * image.mean;
        image.sigma = variance > 0 ? std::sqrt(variance) : 0.0L;
    }
};

// The pixels of one kind and the part of them that the filter may touch.
template <typename T>
struct Planes {
    const PixelArray<T>& source;
    PixelArray<T>& target;
    int rows;
    int cols;
};

// How a filter pass is spread over threads. The rows are cut into blocks; a block is
// computed (its pixels, and the values that enter the statistics, into a buffer) by any
// thread, in any order, but the sum and the sum of squares must come out exactly as one
// running sum over the image in row order, so the buffers are folded into them strictly in
// block order, by whichever thread finds the next block ready. Blocks go round a ring of
// buffers: a thread may run ahead of the fold by as many blocks as there are buffers, so a
// thread that the system holds up for a while does not stall the others at once.
template <typename Buffer>
void RunInBlocks(int yBegin, int yEnd, int rowsPerBlock, std::vector<Buffer>& ring, int threads) {
    const int blocks = (yEnd - yBegin + rowsPerBlock - 1) / rowsPerBlock;
    const int slots = static_cast<int>(ring.size());
    std::mutex mutex;
    std::condition_variable changed;
    int nextBlock = 0;  // the next block to compute
    int turn = 0;       // the next block to fold
    bool folding = false;
    std::vector<char> ready(ring.size(), 0);

    auto run = [&]() {
        std::unique_lock lock(mutex);
        while (turn < blocks) {
            if (!folding && ready[turn % slots]) {
                folding = true;  // one folder at a time, in order
                while (turn < blocks && ready[turn % slots]) {
                    Buffer& buffer = ring[turn % slots];
                    lock.unlock();
                    buffer.fold();
                    lock.lock();
                    ready[turn % slots] = 0;
                    ++turn;
                    changed.notify_all();  // a buffer is free
                }
                folding = false;
                changed.notify_all();
            } else if (nextBlock < blocks && nextBlock < turn + slots) {
                const int b = nextBlock++;
                Buffer& buffer = ring[b % slots];
                lock.unlock();
                const int y0 = yBegin + b * rowsPerBlock;
                buffer.compute(y0, std::min(yEnd, y0 + rowsPerBlock));
                lock.lock();
                ready[b % slots] = 1;
                changed.notify_all();
            } else {
                changed.wait(lock);
            }
        }
    };
    std::vector<std::jthread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(run);
        } catch (const std::system_error&) {
            break;  // fewer threads: those that started share the blocks
        }
    }
    run();
}

// Number of workers for an interior of `pixels` pixels: one for small images, where
// starting threads costs more than it saves.
int WorkerCount(long long pixels) {
    if (pixels < (1 << 18)) return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

int RowsPerBlock(int cols) {
    return std::max(1, 32768 / std::max(1, cols));
}

// Whether the smallest and largest physical values can be taken from the smallest and
// largest values before scaling. The physical value, computed in extended precision and
// narrowed to 64 bits, is a monotonic function of the value (increasing for a positive scale,
// decreasing for a negative one), so the extremes of one are the images of the extremes of
// the other, and equal narrowed values are equal numbers, except for zeros of both signs:
// the conditions keep any non-zero physical value from narrowing to zero and a zero from
// being -0. Infinite or NaN scales and offsets are left to the pixel-by-pixel comparison.
bool ExtremesFollowValues(long double bscale, long double bzero) {
    constexpr long double tiny = 1e-300L;
    return std::isfinite(bscale) && std::isfinite(bzero) && std::fabs(bscale) >= tiny &&
           (bzero == 0 ? !std::signbit(bzero) : std::fabs(bzero) >= tiny);
}

// The physical value of a value before scaling, narrowed to 64 bits.
double Narrowed(long double v, long double bscale, long double bzero) {
    return static_cast<double>(bscale * v + bzero);
}

// Every pixel computed the plain way: the weighted sum accumulated in extended precision,
// term by term in row order, divided, clipped, rounded. For the real kinds, for kernels with
// fractional weights and for scales the exact path below does not take. kIndex names the
// kernel in the table, so that its weights are constants.
//
// Zero weights are skipped for the integer kinds only: a finite pixel times 0 is a zero that
// leaves the sum unchanged (the sum starts at +0 and never becomes -0), while a real pixel
// may be infinite or NaN, which a zero weight turns into NaN.
//
// The values that enter the statistics (clipped, not rounded) go to the worker's buffer; the
// fold scales them. The extremes are tracked on the values when ExtremesFollowValues allows
// (integer kinds, whose values are never NaN), otherwise compared one by one in the fold,
// which runs in image order.
template <typename T, int kIndex>
class PlainWorker {
  public:
    PlainWorker(const Planes<T>& pl, const Kernel&, long double threshold, long double bscale,
                long double bzero, FilterStats& stats)
        : pl_(pl),
          threshold_(threshold),
          bscale_(bscale),
          bzero_(bzero),
          extremesFromValues_(kIsInteger<T> && ExtremesFollowValues(bscale, bzero)),
          stats_(stats),
          values_(static_cast<std::size_t>(RowsPerBlock(pl.cols)) * pl.cols) {}

    void compute(int y0, int y1) {
        constexpr const Kernel& k = kKernels[kIndex];
        constexpr int n = k.size;
        constexpr int h = n / 2;
        constexpr long double divisor = k.divisor;
        // 1.5 x 2^63: adding it leaves no fraction bits for any value of an integer kind, so
        // the addition rounds to an integer (halves to even, the parity being kept), and
        // taking it back is exact. The sign of a zero does not matter for integers.
        constexpr long double magic =
            3.0L * static_cast<long double>(std::uint64_t{1}
                                            << (std::numeric_limits<long double>::digits - 2));
        std::size_t count = 0;
        long double lowest = std::numeric_limits<long double>::infinity();
        long double highest = -lowest;
        for (int y = y0; y < y1; ++y) {
            const T* rows[n];
            for (int i = 0; i < n; ++i)
                rows[i] = pl_.source[y + i - h];
            T* out = pl_.target[y];
            for (int x = h; x < pl_.cols - h; ++x) {
                const T o = rows[h][x];
                long double v;
                if (threshold_ > static_cast<long double>(o)) {
                    long double acc = 0;
                    for (int i = 0; i < n; ++i)
                        for (int j = 0; j < n; ++j) {
                            if (kIsInteger<T> && k.weights[i][j] == 0) continue;
                            acc += static_cast<long double>(k.weights[i][j]) *
                                   static_cast<long double>(rows[i][x + j - h]);
                        }
                    v = acc / divisor;
                    if constexpr (kIsInteger<T> && sizeof(T) < 8) {
                        v = std::min(std::max(v, Range<T>::lo), Range<T>::hi);
                        // Through a double, exact for these whole numbers: a direct conversion
                        // switches the x87 rounding mode twice per pixel.
                        out[x] = static_cast<T>(static_cast<double>((v + magic) - magic));
                    } else if constexpr (kIsInteger<T>) {
                        // 64-bit values are beyond both the magic number and a double: the
                        // rounding stays in extended precision, where the clipped range is
                        // exact.
                        v = std::min(std::max(v, Range<T>::lo), Range<T>::hi);
                        const long double r = RoundToEven(v);
                        out[x] =
                            r >= Range<T>::hi ? std::numeric_limits<T>::max() : static_cast<T>(r);
                    } else {
                        out[x] = static_cast<T>(RoundToEven(v));
                    }
                } else {
                    out[x] = o;
                    if constexpr (!std::is_same_v<T, std::int16_t>) continue;
                    v = static_cast<long double>(o);
                }
                if constexpr (kIsInteger<T>) {
                    lowest = std::min(lowest, v);
                    highest = std::max(highest, v);
                }
                values_[count++] = v;
            }
        }
        count_ = count;
        lowest_ = lowest;
        highest_ = highest;
    }

    void fold() {
        long double sum = stats_.sum;
        long double sumSquares = stats_.sumSquares;
        double dataMin = stats_.dataMin;
        double dataMax = stats_.dataMax;
        for (std::size_t i = 0; i < count_; ++i) {
            const long double p = bscale_ * values_[i] + bzero_;
            if (!extremesFromValues_) {
                const double d = static_cast<double>(p);
                if (d < dataMin) dataMin = d;
                if (d > dataMax) dataMax = d;
            }
            sum += p;
            sumSquares += p * p;
        }
        stats_.sum = sum;
        stats_.sumSquares = sumSquares;
        stats_.n += static_cast<long long>(count_);
        if (extremesFromValues_ && count_ > 0) {
            const double atLowest = Narrowed(lowest_, bscale_, bzero_);
            const double atHighest = Narrowed(highest_, bscale_, bzero_);
            dataMin = std::min(dataMin, bscale_ > 0 ? atLowest : atHighest);
            dataMax = std::max(dataMax, bscale_ > 0 ? atHighest : atLowest);
        }
        stats_.dataMin = dataMin;
        stats_.dataMax = dataMax;
    }

  private:
    Planes<T> pl_;
    long double threshold_;
    long double bscale_;
    long double bzero_;
    bool extremesFromValues_;
    FilterStats& stats_;
    std::vector<long double> values_;
    std::size_t count_ = 0;
    long double lowest_ = 0;
    long double highest_ = 0;
};

// Nearest integer to c / D, halves to even, for c in [kLo, kHi] of the kind: shifted to be
// non-negative by a multiple of D that keeps the quotient's parity (the kinds' minima are
// even), so the division is unsigned and its remainder the floor remainder.
template <typename T, long long D, typename A>
A RoundDivHalfEven(A c) {
    if constexpr (D == 1) {
        return c;
    } else {
        using U = std::make_unsigned_t<A>;
        constexpr A lo = static_cast<A>(std::numeric_limits<T>::min()) * D;
        const U shifted = static_cast<U>(c - lo);
        const U q = shifted / D;
        const U r = shifted - q * D;
        const U up = (2 * r > D) | ((2 * r == D) & (q & 1));
        return static_cast<A>(q + up) + static_cast<A>(std::numeric_limits<T>::min());
    }
}

// Integer kinds with a kernel of integer weights and the integer divisor D. The weighted sum
// is then an exact integer, formed a row at a time in integer arithmetic. Clipping the sum to
// D times the range of the kind is clipping the quotient, and the stored value is rounded from
// the exact quotient, which gives what rounding the extended-precision quotient gives: the
// quotient of two integers this small is never near enough to a half to round otherwise. Only
// the statistics divide in extended precision, on the clipped sums kept in the buffer.
//
// The smallest and largest physical values come from the smallest and largest clipped sums
// (see ExtremesFollowValues; the quotient by D is increasing too).
template <typename T, long long D>
class ExactWorker {
  public:
    // Sums of the 8 and 16-bit kinds fit in 32 bits (weights are limited to +-1000).
    using Acc = std::conditional_t<sizeof(T) <= 2, std::int32_t, std::int64_t>;
    static constexpr Acc kLo = static_cast<Acc>(std::numeric_limits<T>::min()) * D;
    static constexpr Acc kHi = static_cast<Acc>(std::numeric_limits<T>::max()) * D;

    ExactWorker(const Planes<T>& pl, const Kernel& k, long double threshold, long double bscale,
                long double bzero, FilterStats& stats)
        : pl_(pl),
          h_(k.size / 2),
          bscale_(bscale),
          bzero_(bzero),
          stats_(stats),
          sums_(static_cast<std::size_t>(pl.cols)),
          values_(static_cast<std::size_t>(RowsPerBlock(pl.cols)) * pl.cols) {
        // T > o for an integer o is o < ceil(T).
        if (std::isnan(threshold) || threshold <= -0x1p62L)
            limit_ = std::numeric_limits<std::int64_t>::min();
        else if (threshold > 0x1p62L)
            limit_ = std::numeric_limits<std::int64_t>::max();
        else
            limit_ = static_cast<std::int64_t>(std::ceil(threshold));
        for (int i = 0; i < k.size; ++i)
            for (int j = 0; j < k.size; ++j)
                if (k.weights[i][j] != 0)
                    taps_.push_back(Tap{i - h_, j - h_, static_cast<Acc>(k.weights[i][j])});
    }

    void compute(int y0, int y1) {
        constexpr bool countAll = std::is_same_v<T, std::int16_t>;
        const int x0 = h_;
        const int x1 = pl_.cols - h_;
        Acc* sums = sums_.data();
        Acc* values = values_.data();
        std::size_t count = 0;
        Acc lowest = kHi;
        Acc highest = kLo;
        for (int y = y0; y < y1; ++y) {
            std::fill(sums + x0, sums + x1, Acc{0});
            for (const Tap& t : taps_) {
                const T* src = pl_.source[y + t.di] + t.dj;
                const Acc w = t.w;
                for (int x = x0; x < x1; ++x)
                    sums[x] += w * static_cast<Acc>(src[x]);
            }
            const T* in = pl_.source[y];
            T* out = pl_.target[y];
            for (int x = x0; x < x1; ++x) {
                // Branch-free: filtered or not is data, not control. A pixel left alone
                // takes c = o * D, whose rounded quotient is o again.
                const T o = in[x];
                const bool filtered = static_cast<std::int64_t>(o) < limit_;
                const Acc c = filtered ? std::clamp(sums[x], kLo, kHi) : static_cast<Acc>(o) * D;
                out[x] = static_cast<T>(RoundDivHalfEven<T, D>(c));
                if constexpr (countAll) {
                    lowest = std::min(lowest, c);
                    highest = std::max(highest, c);
                    values[count++] = c;
                } else {
                    lowest = std::min(lowest, filtered ? c : kHi);
                    highest = std::max(highest, filtered ? c : kLo);
                    values[count] = c;
                    count += filtered ? 1 : 0;
                }
            }
        }
        count_ = count;
        lowest_ = lowest;
        highest_ = highest;
    }

    void fold() {
        const bool plainScale = bscale_ == 1 && bzero_ == 0;
        long double sum = stats_.sum;
        long double sumSquares = stats_.sumSquares;
        for (std::size_t i = 0; i < count_; ++i) {
            long double p = static_cast<long double>(values_[i]);
            if constexpr (D != 1) p /= static_cast<long double>(D);
            if (!plainScale) p = bscale_ * p + bzero_;
            sum += p;
            sumSquares += p * p;
        }
        stats_.sum = sum;
        stats_.sumSquares = sumSquares;
        if (count_ == 0) return;
        stats_.n += static_cast<long long>(count_);
        const double atLowest = physical(lowest_);
        const double atHighest = physical(highest_);
        stats_.dataMin = std::min(stats_.dataMin, bscale_ > 0 ? atLowest : atHighest);
        stats_.dataMax = std::max(stats_.dataMax, bscale_ > 0 ? atHighest : atLowest);
    }

  private:
    struct Tap {
        int di;
        int dj;
        Acc w;
    };

    double physical(Acc c) const {
        long double v = static_cast<long double>(c);
        if constexpr (D != 1) v /= static_cast<long double>(D);
        return Narrowed(v, bscale_, bzero_);
    }

    Planes<T> pl_;
    int h_;
    long double bscale_;
    long double bzero_;
    FilterStats& stats_;
    std::int64_t limit_ = 0;
    std::vector<Tap> taps_;
    std::vector<Acc> sums_;
    std::vector<Acc> values_;
    std::size_t count_ = 0;
    Acc lowest_ = 0;
    Acc highest_ = 0;
};

template <typename Buffer, typename T>
void RunWorkers(const Planes<T>& pl, int h, const Kernel& k, long double threshold,
                long double bscale, long double bzero, FilterStats& stats) {
    const long long interior =
        static_cast<long long>(pl.rows - 2 * h) * static_cast<long long>(pl.cols - 2 * h);
    const int threads = WorkerCount(interior);
    // Two buffers per thread let each run a block ahead of the fold.
    const int slots = threads == 1 ? 1 : 2 * threads;
    std::vector<Buffer> ring;
    ring.reserve(static_cast<std::size_t>(slots));
    for (int i = 0; i < slots; ++i)
        ring.emplace_back(pl, k, threshold, bscale, bzero, stats);
    RunInBlocks(h, pl.rows - h, RowsPerBlock(pl.cols), ring, threads);
}

// The exact path when the kernel, its divisor and the scale allow it.
template <typename T>
bool TryExact(const Planes<T>& pl, const Kernel& k, long double threshold, long double bscale,
              long double bzero, FilterStats& stats) {
    if constexpr (!kIsInteger<T> || sizeof(T) == 8) {
        // Reals, and 64-bit integers whose weighted sums do not fit the integer accumulator.
        return false;
    } else {
        if (!ExtremesFollowValues(bscale, bzero)) return false;
        for (int i = 0; i < k.size; ++i)
            for (int j = 0; j < k.size; ++j)
                if (k.weights[i][j] != std::trunc(k.weights[i][j]) ||
                    std::fabs(k.weights[i][j]) > 1000)
                    return false;
        const int h = k.size / 2;
        const double d = k.divisor == std::trunc(k.divisor) ? k.divisor : 0;
        auto run = [&]<long long D>() {
            RunWorkers<ExactWorker<T, D>>(pl, h, k, threshold, bscale, bzero, stats);
            return true;
        };
        if (d == 1) return run.template operator()<1>();
        if (d == 3) return run.template operator()<3>();
        if (d == 9) return run.template operator()<9>();
        if (d == 12) return run.template operator()<12>();
        if (d == 21) return run.template operator()<21>();
        if (d == 25) return run.template operator()<25>();
        if (d == 28) return run.template operator()<28>();
        return false;
    }
}

template <typename T, int... kIndex>
void RunPlain(const Planes<T>& pl, int tableIndex, const Kernel& k, long double threshold,
              long double bscale, long double bzero, FilterStats& stats,
              std::integer_sequence<int, kIndex...>) {
    const int h = k.size / 2;
    auto runIf = [&]<int I>() {
        if (tableIndex != I) return false;
        RunWorkers<PlainWorker<T, I>>(pl, h, k, threshold, bscale, bzero, stats);
        return true;
    };
    const bool ran = (runIf.template operator()<kIndex>() || ...);
    (void)ran;  // tableIndex is always one of the indices
}

template <typename T>
long long Filter(ImageState& image, const PixelArray<T>& source, PixelArray<T>& target,
                 int tableIndex, long double threshold) {
    const Kernel& k = kKernels[tableIndex];
    // Never step outside either array, whatever the recorded size says.
    const int rows = std::max(0, std::min({image.height, source.rows(), target.rows()}));
    const int cols = std::max(0, std::min({image.width, source.cols(), target.cols()}));
    if (rows < k.size || cols < k.size) return 0;  // no interior pixel
    const Planes<T> pl{source, target, rows, cols};
    FilterStats stats;
    if (!TryExact(pl, k, threshold, image.bscale, image.bzero, stats))
        RunPlain(pl, tableIndex, k, threshold, image.bscale, image.bzero, stats,
                 std::make_integer_sequence<int, kFilterCount>{});
    stats.storeInto(image);
    return stats.n;
}

}  // namespace

const Kernel& KernelFor(int index) {
    if (index >= 1 && index < kFilterCount) return kKernels[index];
    return kIdentity;
}

long long FilterImage(ImageState& image, int index, long double threshold) {
    const int t = index >= 1 && index < kFilterCount ? index : 0;  // 0: the identity
    EnsureSourcePixels(image);
    return VisitPixels(image, [&](auto& pixels, const auto& source) {
        return Filter(image, source, pixels, t, threshold);
    });
}

}  // namespace pelorin
