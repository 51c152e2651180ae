#include "display/Levels.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace pelorin {

namespace {

constexpr int kZscaleSamples = 1000;
constexpr double kZscaleContrast = 0.25;
constexpr double kZscaleRejection = 2.5;  // sigma
constexpr int kZscaleIterations = 5;
constexpr int kZscaleMinPixels = 5;
constexpr double kZscaleMaxReject = 0.5;

// Least-squares line through the samples whose `bad` flag is clear (x the index).
struct Line {
    long double slope = 0;
    long double intercept = 0;
};

Line FitLine(const std::vector<double>& y, const std::vector<char>& bad) {
    long double n = 0, sx = 0, sy = 0;
    for (std::size_t i = 0; i < y.size(); ++i)
        if (!bad[i]) {
            n += 1;
            sx += i;
            sy += y[i];
        }
    if (n == 0) return {};
    const long double mx = sx / n, my = sy / n;
    long double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < y.size(); ++i)
        if (!bad[i]) {
            const long double dx = i - mx;
            sxx += dx * dx;
            sxy += dx * (y[i] - my);
        }
    const long double slope = sxx > 0 ? sxy / sxx : 0;
    return {slope, my - slope * mx};
}

}  // namespace

bool ZscaleOfSamples(std::vector<double> samples, double& low, double& high) {
    if (samples.empty()) return false;
    std::sort(samples.begin(), samples.end());
    const auto npix = static_cast<long long>(samples.size());
    low = samples.front();
    high = samples.back();
    const long long minpix =
        std::max<long long>(kZscaleMinPixels, static_cast<long long>(npix * kZscaleMaxReject));
    // Each rejected sample takes its neighbours with it: 1 % of the samples around it.
    const long long grow = std::max<long long>(1, static_cast<long long>(npix * 0.01));
    std::vector<char> bad(samples.size(), 0), grown(samples.size(), 0);
    long long good = npix, lastGood = npix + 1;
    Line fit;
    for (int iteration = 0; iteration < kZscaleIterations; ++iteration) {
        if (good >= lastGood || good < minpix) break;
        fit = FitLine(samples, bad);
        std::vector<long double> flat(samples.size());
        long double s1 = 0, s2 = 0, n = 0;
        for (long long i = 0; i < npix; ++i) {
            flat[i] = samples[i] - (fit.slope * i + fit.intercept);
            if (!bad[i]) {
                s1 += flat[i];
                n += 1;
            }
        }
        const long double mean = s1 / n;
        for (long long i = 0; i < npix; ++i)
            if (!bad[i]) s2 += (flat[i] - mean) * (flat[i] - mean);
        const long double threshold = kZscaleRejection * std::sqrt(s2 / n);
        for (long long i = 0; i < npix; ++i)
            if (flat[i] < -threshold || flat[i] > threshold) bad[i] = 1;
        // A bad sample at j marks j - (grow - 1) / 2 .. j + grow / 2.
        std::fill(grown.begin(), grown.end(), 0);
        for (long long j = 0; j < npix; ++j)
            if (bad[j])
                for (long long i = std::max(0LL, j - (grow - 1) / 2);
                     i <= std::min(npix - 1, j + grow / 2); ++i)
                    grown[i] = 1;
        bad.swap(grown);
        lastGood = good;
        good = std::count(bad.begin(), bad.end(), 0);
    }
    if (good >= minpix) {
        const long double slope = fit.slope / kZscaleContrast;
        const long long centre = (npix - 1) / 2;
        const long double median =
            npix % 2 ? samples[npix / 2]
                     : (static_cast<long double>(samples[npix / 2 - 1]) + samples[npix / 2]) / 2;
        low = std::max(low, static_cast<double>(median - (centre - 1) * slope));
        high = std::min(high, static_cast<double>(median + (npix - centre) * slope));
    }
    return true;
}

std::vector<double> ZscaleSamples(const ImageState& image) {
    return VisitPixels(image, [&](const auto& pixels, const auto&) {
        std::vector<double> samples;
        const int rows = std::min(image.height, pixels.rows());
        const int cols = std::min(image.width, pixels.cols());
        auto physical = [&](auto stored) {
            return static_cast<double>(image.bscale * static_cast<long double>(stored) +
                                       image.bzero);
        };
        auto defined = [&](auto stored) {
            if (image.zeroMayBeBlank && stored == 0) return false;
            // Integers always give a finite value; a filtered real may not.
            if constexpr (std::is_floating_point_v<decltype(stored)>)
                return std::isfinite(physical(stored));
            return true;
        };
        long long count = 0;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                count += defined(pixels[r][c]);
        const auto stride =
            static_cast<long long>(std::max(1.0, static_cast<double>(count) / kZscaleSamples));
        samples.reserve(kZscaleSamples);
        long long k = 0;
        for (int r = rows - 1; r >= 0; --r)
            for (int c = 0; c < cols; ++c) {
                if (!defined(pixels[r][c])) continue;
                if (k++ % stride) continue;
                samples.push_back(physical(pixels[r][c]));
                if (samples.size() == kZscaleSamples) return samples;
            }
        return samples;
    });
}

void ModeThresholds(int mode, const ImageState& image, double& low, double& high) {
    const long double m = image.mean;
    const long double s = image.sigma;
    const double dmin = image.dataMin;
    const double dmax = image.dataMax;
    const double a = static_cast<double>(2 * (m - dmin) / (static_cast<long double>(dmax) - dmin));
    const double b = static_cast<double>(2 * (dmax - m) / (static_cast<long double>(dmax) - dmin));
    switch (mode) {
        case kModeHeader:
            low = image.headerLow;
            high = image.headerHigh;
            break;
        case kModeData:
            low = dmin;
            high = dmax;
            break;
        case kModeOneSigma:
        case kModeTwoSigma: {
            const long double n = mode == kModeOneSigma ? 1 : 2;
            low = static_cast<double>(std::max<long double>(dmin, m - n * s * a));
            high = static_cast<double>(std::min<long double>(dmax, m + n * s * b));
            break;
        }
        case kMode70:
            low = static_cast<double>(dmin + 0.3L * (m - dmin));
            high = static_cast<double>(dmax - 0.3L * (dmax - m));
            break;
        case kModeZscale:
            // A plane without a single defined pixel falls back on the data range.
            if (!ZscaleOfSamples(ZscaleSamples(image), low, high)) {
                low = dmin;
                high = dmax;
            }
            break;
        default:
            break;
    }
}

}  // namespace pelorin
