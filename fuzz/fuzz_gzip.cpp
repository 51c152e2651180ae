// Any bytes as a gzip-compressed FITS file: loaded and listed by path, as the viewer does.
// A damaged stream ends with its message; nothing is inflated past what the headers need.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/Errors.h"
#include "image/Readers.h"

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    static const std::string path =
        "/tmp/pelorin_fuzz_gzip_" + std::to_string(getpid()) + ".fits.gz";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    ImageState image;
    WcsInfo wcs;
    ZoomWindow zoom;
    try {
        ReadFitsImage(path, image, wcs, zoom, MessageWords{});
        if (image.height > 0)
            Require(image.width > 0 && image.height <= kMaxImageSide &&
                    image.width <= kMaxImageSide);
        HeaderText text;
        std::string error;
        ListFitsHeader(path, text, error, MessageWords{});
    } catch (const OperationError&) {
    }
    return 0;
}
