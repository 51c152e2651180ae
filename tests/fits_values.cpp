// Prints what the FITS reader holds for one plane of a file, for scripts that compare it with
// another reader: "width height bitpix bzero bscale" on the first line (or "refused: TEXT"),
// then the stored values in file order (first file row first), one per line.
//
// Usage: fits_values FILE [PLANE]
#include <cstdio>
#include <iostream>
#include <string>

#include "image/Readers.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: fits_values FILE [PLANE]\n";
        return 2;
    }
    using namespace pelorin;
    ImageState image;
    WcsInfo wcs;
    ZoomWindow zoom;
    image.currentPlane = argc == 3 ? std::stoi(argv[2]) : 1;
    try {
        ReadFitsImage(argv[1], image, wcs, zoom, MessageWords{});
    } catch (const std::exception& e) {
        std::cout << "error: " << e.what() << '\n';
        return 1;
    }
    if (image.height == 0) {
        std::cout << "refused: " << image.errorText << '\n';
        return 0;
    }
    std::printf("%d %d %d %.17Lg %.17Lg\n", image.width, image.height, image.bitpix, image.bzero,
                image.bscale);
    for (int r = image.height - 1; r >= 0; --r)
        for (int c = 0; c < image.width; ++c)
            std::printf("%.17g\n", StoredValue(image, r, c));
    return 0;
}
