// Any header cards and zoom window: reading the coordinate system and computing the caption
// and the readout must stay free of undefined behaviour, and whatever is shown must be a
// finite position with the right ascension in [0, 24) h.
//
// Input layout: the int32 values colStart, cols, rowStart, rows, height (20 bytes, missing
// bytes read as 0), then the header text, read as 80-character cards.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "sky/SkyLib.h"
#include "sky/Wcs.h"

using pelorin::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    std::int32_t numbers[5] = {};
    const std::size_t head = std::min(size, sizeof numbers);
    std::memcpy(numbers, data, head);
    ZoomWindow z;
    z.colStart = numbers[0];
    z.cols = numbers[1];
    z.rowStart = numbers[2];
    z.rows = numbers[3];
    const std::int32_t height = numbers[4];

    WcsInfo w;
    const CelestialWcs sky(std::string(reinterpret_cast<const char*>(data) + head, size - head),
                           z.cols, height);
    ComputeSkyPosition(w, sky, z, height);
    const std::string suffix = SkySuffix(w);
    if (w.fieldWidth != 0) {
        Require(std::isfinite(w.fieldWidth) && w.fieldWidth > 0);
        Require(std::isfinite(w.centreDec));
        Require(w.centreRa >= 0 && w.centreRa < 24);
        Require(!suffix.empty());
    } else {
        Require(suffix.empty());
    }
    (void)PixelSkyText(sky, height, z.rowStart, z.colStart);
    return 0;
}
