// The BMP reader on arbitrary bytes. Beyond not crashing, a file it accepts must be a
// consistent bitmap that survives writing and reading back unchanged, and whose 24-bit
// conversion shows the same colours. Read from a file, which reads the headers first and
// then only the bytes the pixels need, it must come out the same.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "FuzzSupport.h"
#include "base/Errors.h"
#include "process/Bitmap.h"
#include "process/PictureLimits.h"

using pelorin::fuzz::Require;

namespace {

// A smaller picture limit than the reader's own keeps each run fast; the checks are the same.
constexpr std::uint64_t kFuzzMaxPixels = std::uint64_t{1} << 18;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using pelorin::Bitmap;
    Bitmap bmp;
    try {
        bmp = Bitmap::FromBmpBytes(std::span<const std::uint8_t>(data, size), kFuzzMaxPixels);
    } catch (const pelorin::OperationError& e) {
        Require(std::strcmp(e.what(), "Bitmap image is not valid") == 0);
        return 0;
    }
    Require(bmp.width() > 0 && bmp.height() > 0);
    Require(bmp.stride() == Bitmap::StrideFor(bmp.width(), bmp.bitsPerPixel()));
    Require(bmp.bits().size() == bmp.stride() * static_cast<std::size_t>(bmp.height()));
    Require(bmp.bitsPerPixel() > 8 || bmp.palette().size() == (1u << bmp.bitsPerPixel()));

    const Bitmap back = Bitmap::FromBmpBytes(bmp.toBmpBytes(), kFuzzMaxPixels);
    Require(back == bmp);

    const std::string scratch = pelorin::fuzz::WriteScratchFile("bmp.bmp", data, size);
    Require(!scratch.empty());
    try {
        Require(Bitmap::ReadBmpFile(scratch) == bmp);
    } catch (const pelorin::PictureRefused&) {
        // refused for its size against the file's: a rule the bytes alone do not apply
    }

    Bitmap rgb = bmp;
    rgb.convertTo24();
    Require(rgb.bitsPerPixel() == 24 && rgb.width() == bmp.width());
    for (int y = 0; y < bmp.height(); ++y)
        for (int x = 0; x < bmp.width(); ++x)
            Require(rgb.pixelColour(x, y) == bmp.pixelColour(x, y));
    return 0;
}
