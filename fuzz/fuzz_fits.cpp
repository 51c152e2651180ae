// Any bytes as a FITS file: the reader either refuses them with a message, raises a
// conversion error, or produces an image that keeps the model's invariants.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "base/Errors.h"
#include "image/Readers.h"

using pelorin::fuzz::Require;

namespace {

template <typename Array>
void RequireShape(const Array& a, int rows, int cols) {
    Require(a.rows() == rows && a.cols() == cols);
    Require(a.size() == static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    ImageState image;
    WcsInfo wcs;
    ZoomWindow zoom;
    MessageWords words;
    // The requested plane varies with the input length so that plane clamping is exercised.
    image.currentPlane = static_cast<int>(size % 5) - 1;
    try {
        ReadFitsImage(in, image, wcs, zoom, words);
    } catch (const OperationError&) {
        return 0;
    }
    if (image.height == 0) return 0;
    Require(image.height > 0 && image.width > 0);
    Require(image.currentPlane >= 1 && image.currentPlane <= image.planeCount);
    Require(image.errorText.empty());
    Require(!(image.dataMin > image.dataMax));
    switch (image.bitpix) {
        case 8:
            RequireShape(image.pixels8, image.height, image.width);
            break;
        case 16:
            RequireShape(image.pixels16, image.height, image.width);
            break;
        case 32:
            RequireShape(image.pixels32, image.height, image.width);
            break;
        case 64:
            RequireShape(image.pixels64, image.height, image.width);
            break;
        case -32:
            RequireShape(image.pixelsR32, image.height, image.width);
            break;
        case -64:
            RequireShape(image.pixelsR64, image.height, image.width);
            break;
        default:
            Require(false);
    }
    // Every stored value can be read back, corner to corner.
    volatile double sink =
        PhysicalValue(image, 0, 0) + PhysicalValue(image, image.height - 1, image.width - 1);
    (void)sink;
    return 0;
}
