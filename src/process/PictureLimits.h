// How large an ordinary picture may be. A picture costs about a dozen bytes a pixel by the
// time it is decoded, turned into grey levels, rendered and written, so the limits keep any
// one file under a gigabyte, and a small file under a hundred megabytes unless its pixels
// are really in it: a few bytes of run-length or compressed data must not be able to claim
// a huge picture.
#pragma once

#include <cstdint>
#include <string>

#include "base/Errors.h"

namespace pelorin {

// At most 8192 x 8192 pixels.
inline constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{1} << 26;
// Pictures up to this many pixels (2048 x 2048) are accepted from a file of any size...
inline constexpr std::uint64_t kFreePicturePixels = std::uint64_t{1} << 22;
// ...larger ones only with at least one byte of file for this many pixels: a 24-bit picture
// may expand 192 times, an 8-bit run-length one 64 times.
inline constexpr std::uint64_t kPicturePixelsPerFileByte = 64;

// Empty when a picture of width x height read from a file of fileBytes bytes may be decoded;
// otherwise why not, for the status line.
std::string PictureSizeRefusal(std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes);

// For a picture that a decoder refuses for its size without telling the size.
std::string PictureBeyondLimitsRefusal();

// A picture refused for its size before decoding. A rejection, not a failure: the load
// reports it as an unsupported format with this reason, and a batch goes on.
class PictureRefused : public OperationError {
  public:
    using OperationError::OperationError;
};

}  // namespace pelorin
