// The picture decoder entry on arbitrary files. The entry takes a path, so each input is
// written to a scratch file first; its first byte chooses the file's extension (which
// decides the decoder tried when the content announces none) and the rest is the file.
//
// The limits are smaller than the module's own so that a legitimately large picture does not
// trip the fuzzer's memory limit; the code path is the same.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "NViewDecode.h"

namespace {

constexpr const char* kExtensions[] = {".tga", ".dib", ".rle", ".jpg",
                                       ".jif", ".gif", ".pcx", ".jpeg"};

class ScratchFolder {
  public:
    ScratchFolder() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("nviewlib-fuzz-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path file(const char* extension) const {
        return path_ / (std::string("input") + extension);
    }

  private:
    std::filesystem::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const ScratchFolder scratch;
    const auto path = scratch.file(kExtensions[data[0] % std::size(kExtensions)]);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }

    nviewlib::DecodeLimits limits;
    limits.maxSide = 4096;
    limits.maxPixels = std::uint64_t{1} << 22;
    NViewPicture* picture = nviewlib::DecodePictureFile(path.c_str(), limits);
    if (picture != nullptr) {
        // The promised layout, every byte of it readable, padding zeroed.
        const auto width = static_cast<std::uint32_t>(picture->width);
        if (picture->width <= 0 || picture->height <= 0 || picture->bits == nullptr ||
            static_cast<std::size_t>(picture->stride) != nviewlib::StrideFor(width) ||
            !nviewlib::SizeAccepted(width, static_cast<std::uint32_t>(picture->height), limits)) {
            __builtin_trap();
        }
        for (int y = 0; y < picture->height; ++y) {
            const unsigned char* row =
                picture->bits + static_cast<std::size_t>(y) * picture->stride;
            unsigned sum = 0;
            for (int i = 0; i < picture->stride; ++i)
                sum += row[i];
            for (int i = 3 * picture->width; i < picture->stride; ++i) {
                if (row[i] != 0) __builtin_trap();
            }
            if (sum > 255u * static_cast<unsigned>(picture->stride)) __builtin_trap();
        }
    }
    NViewLibFree(picture);
    return 0;
}
