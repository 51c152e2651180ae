// The header of one FITS header data unit as the program reads it: a list of cards, each
// split once into its keyword, value text and comment, with the 80 bytes of the card kept for
// whoever needs the header as the file wrote it (a world-coordinate library, the listing).
//
// The split follows the program's one card rule: the keyword is what stands before the first
// "=" (columns 1-8 when the card has none), the value what stands between that "=" and the
// first "/" (up to column 79 without a "/"), the comment what follows that "/"; all three
// trimmed of blanks and control characters, string values keeping their quotes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

struct HeaderCard {
    std::string text;  // the card's bytes, 80 of them (fewer only for a file cut inside it)
    std::string keyword;
    std::string value;
    std::string comment;
};
using HeaderCards = std::vector<HeaderCard>;

inline constexpr std::int64_t kFitsBlockSize = 2880;
inline constexpr std::size_t kFitsCardSize = 80;

// One card split by the rule above.
HeaderCard ParseCard(std::string_view card);
// The same split as views into `card`: keyword, value, comment.
struct CardTexts {
    std::string_view keyword;
    std::string_view value;
    std::string_view comment;
};
CardTexts SplitCardText(std::string_view card);
// Blanks and control characters (bytes 0-32 and 127) cut from both ends.
std::string_view TrimCardText(std::string_view text);

// The one integer reading of a value text: decimal digits with an optional sign, surrounding
// blanks allowed, within 64 bits.
bool ParseHeaderInteger(std::string_view text, std::int64_t& value);
// The one real reading: optional sign, digits with an optional '.', optional exponent
// introduced by E or e; surrounding blanks allowed; no infinities, NaN or hexadecimal forms.
bool ParseHeaderReal(std::string_view text, long double& value);

// The first card with `keyword`, or null.
const HeaderCard* FindCard(const HeaderCards& cards, std::string_view keyword);
// The integer value of the first card with `keyword`, none when absent or no integer.
std::optional<std::int64_t> CardInteger(const HeaderCards& cards, std::string_view keyword);
// Whether the first card with `keyword` holds a logical true (its value begins with T).
bool CardIsTrue(const HeaderCards& cards, std::string_view keyword);

// The cards as one header text: every card padded to 80 bytes, then an END card, the whole
// padded with blanks to a multiple of 2880 bytes.
std::string HeaderString(const HeaderCards& cards);

// One header parsed from a sequence of 2880-byte blocks.
struct ParsedHeader {
    HeaderCards cards;        // every card before END
    std::int64_t blocks = 0;  // blocks looked at, the END block included
    bool complete = false;    // END was found within the blocks and the limit
};
// Parses the header at the start of `bytes`, block after block, until the block that holds
// END, at most `maxBlocks` blocks. A last block cut short is not a header block.
ParsedHeader ParseHeaderBlocks(std::string_view bytes, std::int64_t maxBlocks = 10000);

}  // namespace pelorin
