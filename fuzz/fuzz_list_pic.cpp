// Any bytes as a PIC header listing: always 24 lines, each starting with its 20-byte label.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "image/Readers.h"

using pelorin::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    HeaderText text;
    Require(ListPicHeader(in, text));
    Require(text.size() == 24);
    for (const std::string& line : text)
        Require(line.size() >= 20 && line.size() <= 20 + 80);
    return 0;
}
