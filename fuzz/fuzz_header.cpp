// Any bytes as a FITS header: the blocks are split into cards once, and what the cards say
// must hold together: each part lies within its card, the header text built from the cards
// parses back to the same cards, and the numbers read from them are stable.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "image/HeaderCards.h"

using pelorin::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelorin;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ParsedHeader parsed = ParseHeaderBlocks(bytes, 50);
    Require(parsed.blocks <= 50 &&
            parsed.blocks * kFitsBlockSize <= static_cast<std::int64_t>(size));
    Require(parsed.cards.size() <= static_cast<std::size_t>(parsed.blocks) * 36);
    for (const HeaderCard& c : parsed.cards) {
        Require(c.text.size() == kFitsCardSize);
        Require(c.keyword != "END");
        Require(c.text.find(c.keyword) != std::string::npos);
        Require(c.text.find(c.value) != std::string::npos);
        Require(c.text.find(c.comment) != std::string::npos);
        std::int64_t i = 0;
        long double r = 0;
        // A value that reads as an integer reads as the same real.
        if (ParseHeaderInteger(c.value, i)) {
            Require(ParseHeaderReal(c.value, r));
            Require(r == static_cast<long double>(i));
        }
    }
    const std::string text = HeaderString(parsed.cards);
    Require(static_cast<std::int64_t>(text.size()) % kFitsBlockSize == 0);
    const ParsedHeader again = ParseHeaderBlocks(text, 1000000);
    Require(again.complete);
    Require(again.cards.size() == parsed.cards.size());
    for (std::size_t k = 0; k < again.cards.size(); ++k) {
        Require(again.cards[k].keyword == parsed.cards[k].keyword);
        Require(again.cards[k].value == parsed.cards[k].value);
        Require(again.cards[k].comment == parsed.cards[k].comment);
    }
    return 0;
}
