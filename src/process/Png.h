// PNG output: the very pixels a BMP of the same bitmap would hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "process/Bitmap.h"

namespace pelorin {

// The PNG file image of a bitmap: depths up to 8 bits as an indexed picture with the bitmap's
// palette (one byte per pixel) unless `trueColour`, every other depth as 8-bit RGB. Raises
// OperationError("Cannot create file <what>") when the encoder fails.
std::vector<std::uint8_t> ToPngBytes(const Bitmap& bitmap, const std::string& what,
                                     bool trueColour = false);

// Writes the PNG to path through a temporary file in the same folder, as the BMP is written.
// Raises OperationError("Cannot create file <path>").
void SavePngFile(const Bitmap& bitmap, const std::string& path, bool trueColour = false);

}  // namespace pelorin
