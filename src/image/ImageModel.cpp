#include "image/ImageModel.h"

#include <cmath>

namespace pelorin {

void StatsAccumulator::finish(long double& mean, long double& sigma) const {
    mean = s1 / n;
    const long double variance = s2 / n - mean * mean;
    sigma = variance > 0 ? std::sqrt(variance) : 0.0L;
}

void ResetImageArrays(ImageState& image) {
    image.pixels8.reset();
    image.pixels16.reset();
    image.pixels32.reset();
    image.pixelsR32.reset();
    image.pixelsR64.reset();
    image.source8.reset();
    image.source16.reset();
    image.source32.reset();
    image.sourceR32.reset();
    image.sourceR64.reset();
}

void SaveSourcePixels(ImageState& image) {
    switch (image.bitpix) {
        case 8:
            image.source8 = image.pixels8;
            break;
        case 16:
            image.source16 = image.pixels16;
            break;
        case 32:
            image.source32 = image.pixels32;
            break;
        case -32:
            image.sourceR32 = image.pixelsR32;
            break;
        case -64:
            image.sourceR64 = image.pixelsR64;
            break;
        default:
            break;
    }
}

void SaveSourceStatistics(ImageState& image) {
    image.sourceDataMin = image.dataMin;
    image.sourceDataMax = image.dataMax;
    image.sourceMean = image.mean;
    image.sourceSigma = image.sigma;
}

void RestoreSource(ImageState& image) {
    switch (image.bitpix) {
        case 8:
            image.pixels8 = image.source8;
            break;
        case 16:
            image.pixels16 = image.source16;
            break;
        case 32:
            image.pixels32 = image.source32;
            break;
        case -32:
            image.pixelsR32 = image.sourceR32;
            break;
        case -64:
            image.pixelsR64 = image.sourceR64;
            break;
        default:
            break;
    }
    image.dataMin = image.sourceDataMin;
    image.dataMax = image.sourceDataMax;
    image.mean = image.sourceMean;
    image.sigma = image.sourceSigma;
}

double StoredValue(const ImageState& image, int row, int column) {
    switch (image.bitpix) {
        case 8:
            return image.pixels8[row][column];
        case 16:
            return image.pixels16[row][column];
        case 32:
            return image.pixels32[row][column];
        case -32:
            return image.pixelsR32[row][column];
        case -64:
            return image.pixelsR64[row][column];
        default:
            return 0;
    }
}

double PhysicalValue(const ImageState& image, int row, int column) {
    switch (image.bitpix) {
        case 8:
        case 16:
        case 32:
        case -32:
        case -64:
            return static_cast<double>(
                image.bscale * static_cast<long double>(StoredValue(image, row, column)) +
                image.bzero);
        default:
            return 0;
    }
}

}  // namespace pelorin
