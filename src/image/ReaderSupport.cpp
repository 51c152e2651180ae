#include "image/ReaderSupport.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "base/Errors.h"
#include "base/FileChecks.h"

namespace pelorin::detail {

std::ifstream OpenForReading(const std::string& path) {
    OpenedFile f = OpenRegularFile(path);
    // A path through something that is not a folder names nothing, as a missing file.
    if (f.error == ENOTDIR) ThrowOpenError(ENOENT);
    if (f.error != 0 && f.notRegular.empty()) ThrowOpenError(f.error);
    // A folder opens on some systems but yields no bytes; say what it is instead.
    if (f.directory) ThrowOpenError(EISDIR);
    // A pipe or a device (put there after the viewer's own look, say) is never read.
    if (!f.notRegular.empty()) throw OperationError(f.notRegular);
    return std::move(f.stream);
}

std::int64_t BytesLeft(std::istream& in) {
    const std::streampos here = in.tellg();
    if (here == std::streampos(-1)) {
        in.clear();
        return -1;
    }
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.clear();
    in.seekg(here);
    if (end == std::streampos(-1) || !in) {
        in.clear();
        in.seekg(here);
        return -1;
    }
    const std::int64_t left = static_cast<std::int64_t>(static_cast<std::streamoff>(end - here));
    return left < 0 ? 0 : left;
}

std::int64_t ReadSome(std::istream& in, std::uint8_t* into, std::int64_t count) {
    if (count <= 0 || !in) return 0;
    in.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(count));
    return static_cast<std::int64_t>(in.gcount());
}

std::string DecimalText(std::int64_t v) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string DamagedPlaneMessage(std::int64_t width, std::int64_t height, std::int64_t planeBytes) {
    return "Fichier endommagé : l'image de " + DecimalText(width) + " x " + DecimalText(height) +
           " annonce " + DecimalText(planeBytes) +
           " octets, le fichier n'en contient pas la moitié";
}

namespace {

std::string FixedText(const std::uint8_t* b, std::size_t width) {
    const void* nul = std::memchr(b, 0, width);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - b) : width;
    return std::string(reinterpret_cast<const char*>(b), n);
}

}  // namespace

PicHeader ReadPicHeaderBytes(std::istream& in) {
    std::uint8_t b[kPicHeaderSize] = {};
    ReadSome(in, b, kPicHeaderSize);
    PicHeader h;
    h.signature = b[0];
    h.version = b[1];
    h.headerSize = LittleEndian16(b + 2);
    h.imageName = FixedText(b + 4, 32);
    h.linkedImageName = FixedText(b + 36, 32);
    h.columnCount = LittleEndian16(b + 68);
    h.rowCount = LittleEndian16(b + 70);
    h.dataLength = LittleEndian16(b + 72);
    h.dataType = LittleEndian16(b + 74);
    h.orientation = LittleEndian32(b + 76);
    h.scaleX = LittleEndian32(b + 80);
    h.scaleY = LittleEndian32(b + 84);
    h.binningX = LittleEndian16(b + 88);
    h.binningY = LittleEndian16(b + 90);
    h.colourPlanes = LittleEndian16(b + 92);
    h.date = FixedText(b + 94, 10);
    h.time = FixedText(b + 104, 14);
    h.thresholdHigh = LittleEndian16(b + 118);
    h.thresholdLow = LittleEndian16(b + 120);
    h.fractionHigh = LittleEndian16(b + 122);
    h.fractionLow = LittleEndian16(b + 124);
    h.integrationTime = LittleEndian32(b + 126);
    h.comment1 = FixedText(b + 130, 80);
    h.comment2 = FixedText(b + 210, 80);
    return h;
}

}  // namespace pelorin::detail
