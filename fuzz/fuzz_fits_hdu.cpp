// Any bytes as the extensions of a FITS file whose primary header holds no image: the walk
// over the HDUs, image extensions with INHERIT, and tile-compressed tables handed to cfitsio
// after their header is checked. The reader refuses with a message, raises a conversion
// error, or produces an image of sound shape.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "base/Errors.h"
#include "image/Readers.h"

using pelorin::fuzz::Require;

namespace {

std::string Card(const std::string& text) {
    std::string c = text;
    c.resize(80, ' ');
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    std::string file = Card("SIMPLE  =                    T") +
                       Card("BITPIX  =                    8") +
                       Card("NAXIS   =                    0") +
                       Card("CRVAL1  =                 10.0") + Card("END");
    file.resize(2880, ' ');
    file.append(reinterpret_cast<const char*>(data), size);
    std::istringstream in(file);
    ImageState image;
    WcsInfo wcs;
    ZoomWindow zoom;
    image.currentPlane = static_cast<int>(size % 3);
    try {
        ReadFitsImage(in, image, wcs, zoom, MessageWords{});
    } catch (const OperationError&) {
        return 0;
    }
    if (image.height == 0) {
        Require(!image.errorText.empty());
        return 0;
    }
    Require(image.width > 0);
    const bool shaped = VisitPixels(image, [&](const auto& pixels, const auto&) {
        return pixels.rows() == image.height && pixels.cols() == image.width;
    });
    Require(shaped);
    volatile double sink =
        PhysicalValue(image, 0, 0) + PhysicalValue(image, image.height - 1, image.width - 1);
    (void)sink;
    std::istringstream again(file);
    HeaderText text;
    std::string error;
    ListFitsHeader(again, text, error, MessageWords{});
    return 0;
}
