#include "process/PictureLimits.h"

namespace pelorin {

std::string PictureSizeRefusal(std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    // Sides come from 32-bit header fields: the product cannot overflow.
    const std::uint64_t pixels = width * height;
    if (pixels > kMaxPicturePixels)
        return "Image trop grande : " + size + " pixels, au plus " +
               std::to_string(kMaxPicturePixels) + ".";
    if (pixels > kFreePicturePixels && pixels / kPicturePixelsPerFileByte > fileBytes)
        return "Image trop grande pour son fichier : " + size + " pixels pour " +
               std::to_string(fileBytes) + " octets.";
    return {};
}

std::string PictureBeyondLimitsRefusal() {
    return "Image trop grande : plus de " + std::to_string(kMaxPicturePixels) + " pixels.";
}

}  // namespace pelorin
