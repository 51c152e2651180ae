// Which reader a file goes to, decided by its extension, and the wildcard masks of the file
// list.
#pragma once

#include <string>

namespace pelorin {

// Extensions are matched whole and without regard to case: "x." or "x.f" is of no kind.
// FITS files also come tile-compressed (".fz") and gzip-compressed (".fits.gz" and the like).
enum class FileKind { Other, Fits, Pic, Picture };
FileKind FileKindOf(const std::string& path);

// The name of the file a compressed FITS file holds ("m51.fits.gz" and "m51.fits.fz" ->
// "m51.fits"); any other name as it is.
std::string DecompressedName(const std::string& path);

// Whether a file name matches one of the ";"-separated wildcard masks ("*.fit;*.fts",
// "?x*"), without regard to case. Blanks before a mask are ignored.
bool MatchesMasks(const std::string& name, const std::string& masks);

}  // namespace pelorin
