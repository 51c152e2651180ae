// Any bytes as a FITS header listing: success with whole cards (the last one possibly cut
// short by the end of the file), or failure with the SIMPLE message.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "image/Readers.h"

using pelorin::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in(bytes);
    HeaderText text;
    std::string error;
    const bool ok = ListFitsHeader(in, text, error, MessageWords{});
    Require(ok == error.empty());
    // The lines are the file's bytes, in order, 80 to a line; after a separator, the whole
    // cards of an extension's header.
    std::size_t at = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i].size() == 80 && text[i].find_first_not_of('-') == std::string::npos &&
            bytes.compare(at, 80, text[i]) != 0) {
            for (++i; i < text.size(); ++i)
                Require(text[i].size() == 80 && bytes.find(text[i]) != std::string::npos);
            break;
        }
        Require(text[i].size() == 80 || (i + 1 == text.size() && text[i].size() < 80));
        Require(bytes.compare(at, text[i].size(), text[i]) == 0);
        at += text[i].size();
    }
    return 0;
}
