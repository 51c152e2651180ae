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
    // The size the picture's header announces, read without decoding, so that a picture too
    // large for the file it comes from is refused before it takes any memory. False when the
    // decoder cannot tell.
    virtual bool pictureSize(const std::string& /*path*/, std::uint64_t& /*width*/,
                             std::uint64_t& /*height*/) {
        return false;
    }
};

}  // namespace pelorin
