// Inside of the picture decoder module. Only NViewLibLoad and NViewLibFree leave the shared
// library; the fuzz target links these sources directly and may use what is declared here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nviewlib.h"

namespace nviewlib {

// Largest picture decoded. A claimed size above these is refused from the header alone,
// before any pixel memory is taken: a few bytes of a crafted file must not be able to make
// the program allocate gigabytes.
// A small file may not claim a large picture either: beyond freePixels a picture needs one
// byte of file for every pixelsPerFileByte pixels, so that a few kilobytes of run-length or
// compressed data cannot expand into hundreds of megabytes.
struct DecodeLimits {
    std::uint32_t maxSide = 65535;
    std::uint64_t maxPixels = std::uint64_t{1} << 26;   // 8192 x 8192
    std::uint64_t freePixels = std::uint64_t{1} << 22;  // 2048 x 2048
    std::uint64_t pixelsPerFileByte = 64;
};

// The decoders tried for a file, best guess first, as coder names ("BMP", "JPEG", ...):
// the format its first bytes announce, then the one its extension names. TARGA files have
// no signature, so they are only ever recognised by their ".tga" extension. Empty when
// neither tells anything we decode.
std::vector<std::string> CandidateFormats(const unsigned char* head, std::size_t size,
                                          std::string_view path);

// Whether a picture of width x height is within the limits.
bool SizeAccepted(std::uint64_t width, std::uint64_t height, const DecodeLimits& limits);
// Whether a picture of width x height may come from a file of fileBytes bytes.
bool ExpansionAccepted(std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes,
                       const DecodeLimits& limits);

// Bytes per row of a 24-bit picture, rounded up to a multiple of 4.
std::size_t StrideFor(std::uint32_t width);

// The width and height a picture file's header announces, found without decoding it.
enum class PingResult { Unknown, Found, BeyondLimits };
// Unknown when no decoder recognises the file; BeyondLimits when one refuses it for its size
// without telling it (the pixel limit is checked while the header is read). Never raises.
PingResult PingPictureFile(const char* path, std::uint64_t& width, std::uint64_t& height);

// Decodes a picture file with the given limits; NULL when it cannot. Never raises.
NViewPicture* DecodePictureFile(const char* path, const DecodeLimits& limits);

}  // namespace nviewlib
