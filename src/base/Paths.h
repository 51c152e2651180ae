// Small helpers on path texts, independent of the file system.
#pragma once

#include <string>

namespace pelorin {

// The platform's path separator.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Lower-cased extension of a path with its dot ("x/Image.FITS" -> ".fits"): the text from the
// last "." of the name (after the last folder separator) to the end; empty when there is none.
std::string LowerExtension(const std::string& path);
// The file name of a path, without its folder.
std::string BaseName(const std::string& path);
// ASCII lower case; other bytes (UTF-8 included) are left alone.
std::string AsciiLower(std::string text);

}  // namespace pelorin
