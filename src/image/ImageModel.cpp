#include "image/ImageModel.h"

#include <cmath>

namespace pelorin {

void StatsAccumulator::finish(long double& mean, long double& sigma) const {
    mean = s1 / n;
    const long double variance = s2 / n - mean * mean;
    sigma = variance > 0 ? std::sqrt(variance) : 0.0L;
}

void ResetImageArrays(ImageState& image) {
    for (int bitpix : {8, 16, 32, 64, -32, -64})
        VisitPixelKind(bitpix, [&](auto kind) {
            using T = typename decltype(kind)::type;
            PixelsOf<T>(image).reset();
            SourceOf<T>(image).reset();
        });
    image.sourceInPixels = false;
}

void SaveSourcePixels(ImageState& image) {
    VisitPixels(image, [](const auto& pixels, auto& source) { source = pixels; });
    image.sourceInPixels = false;
}

void KeepPixelsAsSource(ImageState& image) {
    VisitPixels(image, [](const auto&, auto& source) { source.reset(); });
    image.sourceInPixels = true;
}

void EnsureSourcePixels(ImageState& image) {
    if (image.sourceInPixels) SaveSourcePixels(image);
}

void SaveSourceStatistics(ImageState& image) {
    image.sourceDataMin = image.dataMin;
    image.sourceDataMax = image.dataMax;
    image.sourceMean = image.mean;
    image.sourceSigma = image.sigma;
}

void RestoreSource(ImageState& image) {
    if (!image.sourceInPixels)
        VisitPixels(image, [](auto& pixels, const auto& source) { pixels = source; });
    image.dataMin = image.sourceDataMin;
    image.dataMax = image.sourceDataMax;
    image.mean = image.sourceMean;
    image.sigma = image.sourceSigma;
}

double StoredValue(const ImageState& image, int row, int column) {
    return VisitPixels(image, [&](const auto& pixels, const auto&) {
        return static_cast<double>(pixels[row][column]);
    });
}

// From the stored value itself, so that a 64-bit integer enters the scaling whole.
double PhysicalValue(const ImageState& image, int row, int column) {
    return VisitPixels(image, [&](const auto& pixels, const auto&) {
        return static_cast<double>(image.bscale * static_cast<long double>(pixels[row][column]) +
                                   image.bzero);
    });
}

}  // namespace pelorin
