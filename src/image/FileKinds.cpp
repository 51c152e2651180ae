#include "image/FileKinds.h"

#include <algorithm>
#include <initializer_list>

#include "base/Paths.h"

namespace pelorin {

namespace {

bool InList(const std::string& ext, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
}

// Case-insensitive wildcard match of one mask: '*' any run, '?' any one character.
bool WildcardMatch(const char* mask, const char* name) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    const char* starMask = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (*mask == '?' || (*mask && lower(*mask) == lower(*name))) {
            ++mask;
            ++name;
        } else if (starMask) {
            mask = starMask;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == 0;
}

}  // namespace

FileKind FileKindOf(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (InList(ext, {".fit", ".fts", ".fits", ".fz"})) return FileKind::Fits;
    // gzip-compressed FITS files go by the extension under ".gz".
    if (ext == ".gz" && path.size() > 3 &&
        InList(LowerExtension(path.substr(0, path.size() - 3)), {".fit", ".fts", ".fits"}))
        return FileKind::Fits;
    if (ext == ".pic") return FileKind::Pic;
    if (InList(ext, {".bmp", ".dib", ".gif", ".jif", ".jpg", ".jpeg", ".tga", ".rle", ".pcx"}))
        return FileKind::Picture;
    return FileKind::Other;
}

std::string DecompressedName(const std::string& path) {
    const std::string ext = LowerExtension(path);
    const bool gzipFits = FileKindOf(path) == FileKind::Fits && ext == ".gz";
    // fpack names its files the same way: m51.fits.fz.
    const bool packedFits = ext == ".fz" && path.size() > 3 &&
                            FileKindOf(path.substr(0, path.size() - 3)) == FileKind::Fits;
    return gzipFits || packedFits ? path.substr(0, path.size() - 3) : path;
}

bool MatchesMasks(const std::string& name, const std::string& masks) {
    std::size_t start = 0;
    while (start <= masks.size()) {
        const auto end = std::min(masks.find(';', start), masks.size());
        std::string mask = masks.substr(start, end - start);
        mask.erase(0, mask.find_first_not_of(' '));
        if (!mask.empty() && WildcardMatch(mask.c_str(), name.c_str())) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace pelorin
