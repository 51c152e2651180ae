// Any numbers as world-coordinate values and zoom window: the transform must stay free of
// undefined behaviour, and whatever it shows must be a finite position with the right
// ascension in [0, 24) h.
//
// Input layout: one byte of flags and coordinate types, then the doubles crpix1, crpix2,
// crval1, crval2, cdelt1, cdelt2, crota2, cd1_1, cd1_2, cd2_1, cd2_2, pc1_1, pc1_2, pc2_1,
// pc2_2, equinox, then the int32 values colStart, cols, rowStart, rows, height (missing
// bytes read as 0).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "sky/SkyLib.h"
#include "sky/Wcs.h"

using pelorin::fuzz::Require;

namespace {

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    template <typename T>
    T next() {
        unsigned char bytes[sizeof(T)] = {};
        for (std::size_t i = 0; i < sizeof(T) && pos_ < size_; ++i)
            bytes[i] = data_[pos_++];
        T v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    Reader in(data, size);
    const std::uint8_t flags = in.next<std::uint8_t>();
    static const char* const kTypes1[] = {"'RA---TAN'", "'GLON-CAR'", "'RA---SIN'", "'X'"};
    static const char* const kTypes2[] = {"'DEC--TAN'", "'GLAT-CAR'", "'DEC--SIN'", "'Y'"};
    static const char* const kSystems[] = {"'FK4'", "'FK5'", "'ICRS'", ""};
    WcsInfo w;
    w.ctype1 = kTypes1[flags & 3];
    w.ctype2 = kTypes2[(flags >> 2) & 3];
    w.radecsys = kSystems[(flags >> 4) & 3];
    w.hasCdelt = flags & 0x40;
    w.hasCd = flags & 0x80;
    w.hasPc = (flags & 0xC0) == 0xC0;
    double* const reals[] = {&w.crpix1, &w.crpix2, &w.crval1, &w.crval2, &w.cdelt1, &w.cdelt2,
                             &w.crota2, &w.cd1_1,  &w.cd1_2,  &w.cd2_1,  &w.cd2_2,  &w.pc1_1,
                             &w.pc1_2,  &w.pc2_1,  &w.pc2_2,  &w.equinox};
    for (double* r : reals)
        *r = in.next<double>();
    ZoomWindow z;
    z.colStart = in.next<std::int32_t>();
    z.cols = in.next<std::int32_t>();
    z.rowStart = in.next<std::int32_t>();
    z.rows = in.next<std::int32_t>();
    const std::int32_t height = in.next<std::int32_t>();

    ComputeSkyPosition(w, z, height);
    const std::string suffix = SkySuffix(w);
    if (w.fieldWidth != 0) {
        Require(std::isfinite(w.fieldWidth) && w.fieldWidth > 0);
        Require(std::isfinite(w.centreDec));
        Require(w.centreRa >= 0 && w.centreRa < 24);
        Require(!suffix.empty());
    } else {
        Require(suffix.empty());
    }
    // The formatters on their own, with whatever the bytes say.
    (void)Degrees(w.crval1);
    (void)Hours(w.crval2);
    return 0;
}
