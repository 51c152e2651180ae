#include "image/ImageModel.h"

#include <unistd.h>

#include <cmath>
#include <string>

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

void StartNewImage(ImageState& image) {
    ImageState fresh;
    fresh.fileName = std::move(image.fileName);
    fresh.currentPlane = image.currentPlane;
    fresh.loaded = image.loaded;
    fresh.sourceDataMin = image.sourceDataMin;
    fresh.sourceDataMax = image.sourceDataMax;
    fresh.sourceMean = image.sourceMean;
    fresh.sourceSigma = image.sourceSigma;
    image = std::move(fresh);
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

namespace {

// Memory of the machine, or none when the system cannot tell.
long double PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<long double>(pages) * pageSize;
}

}  // namespace

std::string ImageSizeRefusal(std::int64_t width, std::int64_t height, int valueBytes, bool failed) {
    const long double pixels = static_cast<long double>(width) * static_cast<long double>(height);
    // A 24-bit BMP of the rendering holds 3 bytes a pixel in a file of at most 4 GB.
    constexpr long double kMaxBmpPixels = 4294967295.0L / 3 - 65536;
    const long double memory = PhysicalMemory();
    const bool tooLarge =
        pixels > kMaxBmpPixels || (memory > 0 && pixels * (valueBytes + 1) > memory);
    if (!failed && !tooLarge) return {};
    return "Image trop grande : " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels (mémoire insuffisante)";
}

std::string DamageText(const ImageState& image) {
    if (image.missingBytes <= 0) return {};
    return "tronqué : " + std::to_string(image.missingBytes) + " octets manquants";
}

std::string DamageNote(const ImageState& image) {
    const std::string text = DamageText(image);
    return text.empty() ? text : " (" + text + ")";
}

}  // namespace pelorin
