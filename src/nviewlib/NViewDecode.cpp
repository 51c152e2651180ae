// The picture decoder module, on GraphicsMagick's Magick++.
//
// The file is read into memory once and handed to GraphicsMagick as a blob with the coder
// named explicitly: GraphicsMagick never sees the file name, so it neither interprets
// characters of it ("[0]", "%d", "FMT:" prefixes) nor picks a coder of its own choosing for
// unexpected content, and it writes no temporary file. Each candidate coder first pings
// the picture (header only) so that an absurd claimed size is refused before any pixel
// memory is taken.
#include "NViewDecode.h"

#include <Magick++.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

namespace nviewlib {

namespace {

// Bytes read at most from a file, whatever the limits: above this no picture we accept can
// be stored, even uncompressed at 32 bits a pixel with a colour map and trailing data.
std::uint64_t MaxFileBytes(const DecodeLimits& limits) {
    const std::uint64_t pixels = std::min<std::uint64_t>(limits.maxPixels, std::uint64_t{1} << 32);
    return pixels * 4 + (std::uint64_t{16} << 20);
}

void InitialiseOnce(const DecodeLimits& limits) {
    static std::once_flag once;
    std::call_once(once, [&limits] {
        MagickLib::ExceptionInfo exception;
        MagickLib::GetExceptionInfo(&exception);
        // A decoder loaded into somebody else's process has no business installing signal
        // handlers; the program (or a sanitizer) owns them.
        MagickLib::InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
        MagickLib::DestroyExceptionInfo(&exception);
        // Second line of defence behind the ping: whatever a coder finds while decoding,
        // it cannot make a larger pixel cache. No disk cache at all: pictures are decoded
        // in memory or not at all.
        MagickLib::SetMagickResourceLimit(MagickLib::WidthResource, limits.maxSide);
        MagickLib::SetMagickResourceLimit(MagickLib::HeightResource, limits.maxSide);
        MagickLib::SetMagickResourceLimit(MagickLib::PixelsResource,
                                          static_cast<MagickLib::magick_int64_t>(limits.maxPixels));
        MagickLib::SetMagickResourceLimit(MagickLib::DiskResource, 0);
    });
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerExtension(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    std::string ext(path.substr(dot));
    std::transform(ext.begin(), ext.end(), ext.begin(), LowerAscii);
    return ext;
}

const char* FormatOfExtension(const std::string& ext) {
    struct Entry {
        const char* ext;
        const char* format;
    };
    static constexpr Entry kTable[] = {
        {".tga", "TGA"},  {".dib", "BMP"},   {".rle", "BMP"},  {".bmp", "BMP"},
        {".jpg", "JPEG"}, {".jpeg", "JPEG"}, {".jif", "JPEG"}, {".jfif", "JPEG"},
        {".jpe", "JPEG"}, {".gif", "GIF"},   {".pcx", "PCX"},  {".png", "PNG"},
    };
    for (const Entry& e : kTable) {
        if (ext == e.ext) return e.format;
    }
    return nullptr;
}

const char* FormatOfContent(const unsigned char* head, std::size_t size) {
    auto startsWith = [&](std::initializer_list<unsigned char> magic) {
        return size >= magic.size() && std::equal(magic.begin(), magic.end(), head);
    };
    if (startsWith({'B', 'M'})) return "BMP";
    if (startsWith({'G', 'I', 'F', '8', '7', 'a'}) || startsWith({'G', 'I', 'F', '8', '9', 'a'})) {
        return "GIF";
    }
    if (startsWith({0xFF, 0xD8, 0xFF})) return "JPEG";
    if (startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return "PNG";
    // PCX: manufacturer 10, a known version, run-length or plain encoding, a usual depth,
    // and room for the 128-byte header.
    if (size >= 128 && head[0] == 0x0A) {
        const unsigned version = head[1];
        const unsigned encoding = head[2];
        const unsigned depth = head[3];
        const bool versionKnown = version == 0 || (version >= 2 && version <= 5);
        const bool depthKnown = depth == 1 || depth == 2 || depth == 4 || depth == 8;
        if (versionKnown && encoding <= 1 && depthKnown) return "PCX";
    }
    return nullptr;
}

struct PictureDeleter {
    void operator()(NViewPicture* p) const { NViewLibFree(p); }
};
using PicturePtr = std::unique_ptr<NViewPicture, PictureDeleter>;

// Whole file into a blob, or its first maxBytes; an empty blob when it cannot be read or is
// too large.
Magick::Blob ReadWholeFile(const char* path, const DecodeLimits& limits,
                           std::uintmax_t maxBytes = UINTMAX_MAX) {
    std::error_code ec;
    const std::filesystem::path file(path);
    if (!std::filesystem::is_regular_file(file, ec) || ec) return {};
    std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size == 0 || size > MaxFileBytes(limits)) return {};
    size = std::min(size, maxBytes);
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::unique_ptr<char[]> data(new (std::nothrow) char[size]);
    if (!data) return {};
    in.read(data.get(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) return {};
    Magick::Blob blob;
    blob.updateNoCopy(data.release(), size, Magick::Blob::NewAllocator);
    return blob;
}

// A Magick++ image set up to read the first frame only, with the given coder, without
// warnings turned into exceptions (a JPEG with a few bad bytes still decodes).
void Prepare(Magick::Image& image, const std::string& format) {
    image.quiet(true);
    image.subImage(0);
    image.subRange(1);
    image.magick(format);
}

// Alpha composited over black: transparent parts of a picture show as no signal.
void FlattenRow(const unsigned char* bgra, unsigned char* bgr, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x) {
        const unsigned alpha = bgra[4 * x + 3];
        for (int c = 0; c < 3; ++c) {
            bgr[3 * x + c] = static_cast<unsigned char>((bgra[4 * x + c] * alpha + 127) / 255);
        }
    }
}

PicturePtr DecodeAs(const Magick::Blob& blob, const std::string& format,
                    const DecodeLimits& limits) {
    auto accepted = [&](std::uint64_t w, std::uint64_t h) {
        return SizeAccepted(w, h, limits) && ExpansionAccepted(w, h, blob.length(), limits);
    };
    {
        Magick::Image probe;
        Prepare(probe, format);
        probe.ping(blob);
        if (!accepted(probe.columns(), probe.rows())) return {};
    }
    Magick::Image image;
    Prepare(image, format);
    image.read(blob);
    const std::uint32_t width = image.columns();
    const std::uint32_t height = image.rows();
    if (!accepted(width, height)) return {};
    if (image.colorSpace() == Magick::CMYKColorspace) image.colorSpace(Magick::RGBColorspace);

    const std::size_t stride = StrideFor(width);
    PicturePtr picture(new (std::nothrow) NViewPicture{});
    if (!picture) return {};
    picture->bits = new (std::nothrow) unsigned char[stride * height];
    if (!picture->bits) return {};
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    picture->stride = static_cast<int>(stride);

    const bool alpha = image.matte();
    std::vector<unsigned char> line(alpha ? std::size_t{4} * width : 0);
    const std::size_t used = std::size_t{3} * width;
    for (std::uint32_t y = 0; y < height; ++y) {
        unsigned char* row = picture->bits + y * stride;
        if (alpha) {
            image.write(0, static_cast<int>(y), width, 1, "BGRA", Magick::CharPixel, line.data());
            FlattenRow(line.data(), row, width);
        } else {
            image.write(0, static_cast<int>(y), width, 1, "BGR", Magick::CharPixel, row);
        }
        std::memset(row + used, 0, stride - used);
    }
    return picture;
}

}  // namespace

std::vector<std::string> CandidateFormats(const unsigned char* head, std::size_t size,
                                          std::string_view path) {
    std::vector<std::string> formats;
    if (const char* byContent = FormatOfContent(head, size)) formats.emplace_back(byContent);
    if (const char* byName = FormatOfExtension(LowerExtension(path))) {
        if (formats.empty() || formats.front() != byName) formats.emplace_back(byName);
    }
    return formats;
}

bool SizeAccepted(std::uint64_t width, std::uint64_t height, const DecodeLimits& limits) {
    if (width == 0 || height == 0) return false;
    if (width > limits.maxSide || height > limits.maxSide) return false;
    return width * height <= limits.maxPixels;  // sides below 2^32: no overflow
}

bool ExpansionAccepted(std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes,
                       const DecodeLimits& limits) {
    const std::uint64_t pixels = width * height;  // sides below 2^32
    return pixels <= limits.freePixels || pixels / limits.pixelsPerFileByte <= fileBytes;
}

std::size_t StrideFor(std::uint32_t width) {
    return (std::size_t{3} * width + 3) & ~std::size_t{3};
}

PingResult PingPictureFile(const char* path, std::uint64_t& width, std::uint64_t& height) {
    if (path == nullptr || *path == '\0') return PingResult::Unknown;
    try {
        const DecodeLimits limits;
        InitialiseOnce(limits);
        // The headers of every format read lie near the start of the file; a picture whose
        // size is not found there is left to the decoder's own checks.
        const Magick::Blob blob = ReadWholeFile(path, limits, std::uintmax_t{1} << 20);
        if (blob.length() == 0) return PingResult::Unknown;
        const auto* head = static_cast<const unsigned char*>(blob.data());
        for (const std::string& format : CandidateFormats(head, blob.length(), path)) {
            try {
                Magick::Image probe;
                Prepare(probe, format);
                probe.ping(blob);
                if (probe.columns() == 0 || probe.rows() == 0) continue;
                width = probe.columns();
                height = probe.rows();
                return PingResult::Found;
            } catch (const Magick::ErrorResourceLimit&) {
                return PingResult::BeyondLimits;
            } catch (...) {
                // Not this coder's format; the next candidate may know it.
            }
        }
    } catch (...) {
        // Nothing may cross the C boundary.
    }
    return PingResult::Unknown;
}

NViewPicture* DecodePictureFile(const char* path, const DecodeLimits& limits) {
    if (path == nullptr || *path == '\0') return nullptr;
    try {
        InitialiseOnce(limits);
        const Magick::Blob blob = ReadWholeFile(path, limits);
        if (blob.length() == 0) return nullptr;
        const auto* head = static_cast<const unsigned char*>(blob.data());
        for (const std::string& format : CandidateFormats(head, blob.length(), path)) {
            try {
                if (PicturePtr picture = DecodeAs(blob, format, limits)) return picture.release();
            } catch (...) {
                // This coder could not make sense of it; the next candidate may.
            }
        }
    } catch (...) {
        // Nothing may cross the C boundary.
    }
    return nullptr;
}

}  // namespace nviewlib

extern "C" {

NVIEWLIB_EXPORT NViewPicture* NViewLibLoad(const char* path, int /*flags*/) {
    return nviewlib::DecodePictureFile(path, nviewlib::DecodeLimits{});
}

NVIEWLIB_EXPORT int NViewLibPing(const char* path, int* width, int* height) {
    if (width == nullptr || height == nullptr) return 0;
    std::uint64_t w = 0, h = 0;
    const nviewlib::PingResult found = nviewlib::PingPictureFile(path, w, h);
    if (found == nviewlib::PingResult::BeyondLimits) return 2;
    if (found != nviewlib::PingResult::Found || w > INT_MAX || h > INT_MAX) return 0;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return 1;
}

NVIEWLIB_EXPORT void NViewLibFree(NViewPicture* picture) {
    if (picture == nullptr) return;
    delete[] picture->bits;
    delete picture;
}

}  // extern "C"
