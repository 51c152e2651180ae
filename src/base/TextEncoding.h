// The bytes of FITS cards and PIC text fields are Windows-1252; everything the program
// shows or prints is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace pelorin {

std::string Windows1252ToUtf8(std::string_view bytes);

}  // namespace pelorin
