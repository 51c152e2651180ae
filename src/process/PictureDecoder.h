// The interface of the outside picture decoder: the viewer shows ordinary pictures (anything
// but .bmp, which Bitmap reads itself) through it, and the decoder module implements it.
#pragma once

#include <cstdint>
#include <string>

#include "process/Bitmap.h"

namespace pelorin {

class PictureDecoder {
  public:
    virtual ~PictureDecoder() = default;
    // Decodes the picture at `path` into a 24-bit bitmap. False (and `out` untouched) when
    // the picture could not be decoded.
    virtual bool decode(const std::string& path, Bitmap& out) = 0;
    // What the picture's header announces, read without decoding, so that a picture too
    // large, or too large for the file it comes from, is refused before it takes any memory.
    struct Header {
        bool sizeKnown = false;
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        bool beyondLimits = false;  // the decoder refuses it for its size without telling it
    };
    virtual Header pictureHeader(const std::string& /*path*/) { return {}; }
};

}  // namespace pelorin
