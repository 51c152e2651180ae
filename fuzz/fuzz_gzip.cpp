// Any bytes as a gzip-compressed FITS file: loaded and listed by path, as the viewer does.
// A damaged stream ends with its message; nothing is inflated past what the headers need.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "base/Errors.h"
#include "image/Readers.h"

using pelorin::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    const std::string path = fuzz::WriteScratchFile("gzip.fits.gz", data, size);
    if (path.empty()) return 0;
    ImageState image;
    WcsInfo wcs;
    ZoomWindow zoom;
    try {
        ReadFitsImage(path, image, wcs, zoom, MessageWords{});
        if (image.height > 0) Require(image.width > 0);
        HeaderText text;
        std::string error;
        ListFitsHeader(path, text, error, MessageWords{});
    } catch (const OperationError&) {
    }
    return 0;
}
