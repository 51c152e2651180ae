#include "process/PictureImport.h"

#include <algorithm>

namespace pelorin {

void GreyPixelsFromPicture(const Bitmap& picture, ImageState& image) {
    const int h = picture.height();
    const int w = picture.width();
    const int bpp = picture.bitsPerPixel();
    StatsAccumulator stats;
    int plane = 0;
    switch (bpp) {
        case 8:
        case 15:
        case 16:
            image.planeCount = 1;
            image.currentPlane = 1;
            break;
        case 24:
            image.planeCount = 3;
            image.currentPlane = std::clamp(image.currentPlane, 0, 3);
            plane = image.currentPlane;
            break;
        case 32:
            image.planeCount = 1;
            break;
        default:
            // 1- and 4-bit pictures carry no intensities to convert.
            image.mean = 0;
            image.sigma = 0;
            return;
    }
    image.pixels8.resize(h, w);
    image.height = h;
    image.width = w;
    image.headerLow = 0;
    image.headerHigh = 255;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = picture.row(y);
        std::uint8_t* dst = image.pixels8[y];
        for (int x = 0; x < w; ++x) {
            int g = 0;
            switch (bpp) {
                case 8:
                    g = src[x];
                    break;
                case 15:
                case 16:
                    g = (src[2 * x] + src[2 * x + 1]) / 2;
                    break;
                case 24: {
                    const std::uint8_t* p = src + 3 * x;  // blue, green, red
                    g = plane == 1   ? p[2]
                        : plane == 2 ? p[1]
                        : plane == 3 ? p[0]
                                     : (p[0] + p[1] + p[2]) / 3;
                    break;
                }
                default: {
                    const std::uint8_t* p = src + 4 * x;
                    g = (p[0] + p[1] + p[2] + p[3]) / 4;
                    break;
                }
            }
            dst[x] = static_cast<std::uint8_t>(g);
            stats.add(g);
        }
    }
    image.dataMin = stats.dataMin;
    image.dataMax = stats.dataMax;
    stats.finish(image.mean, image.sigma);
    image.bitpix = 8;
}

}  // namespace pelorin
