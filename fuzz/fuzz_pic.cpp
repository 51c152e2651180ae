// Any bytes as a PIC file: refused with a message or read into an image that keeps the
// model's invariants.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "image/Readers.h"

using pelorin::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    ImageState image;
    ReadPicImage(in, image);
    if (image.height == 0) {
        Require(!image.errorText.empty());
        Require(image.pixels16.size() == 1 && image.pixels32.size() == 1);
        return 0;
    }
    Require(image.height > 0 && image.width > 0);
    Require(image.pixels16.size() * image.pixels32.size() ==
            static_cast<std::size_t>(image.height) * static_cast<std::size_t>(image.width));
    Require(image.currentPlane == 1 && image.planeCount == 1);
    Require(image.dataMin <= image.dataMax);
    Require(!std::isnan(image.mean) && !std::isnan(image.sigma));
    if (image.bitpix == 16) {
        Require(image.pixels16.rows() == image.height && image.pixels16.cols() == image.width);
    } else {
        Require(image.bitpix == 32);
        Require(image.pixels32.rows() == image.height && image.pixels32.cols() == image.width);
    }
    volatile double sink = PhysicalValue(image, image.height - 1, image.width - 1);
    (void)sink;
    return 0;
}
