// The header data units after the primary one: finding the image extension of a file whose
// primary array is empty, the header the reader applies for it, and its listing.
#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <unordered_set>

#include "image/FitsSources.h"
#include "image/ReaderSupport.h"

namespace pelorin::detail {

namespace {

constexpr std::int64_t kBlockSize = kFitsBlockSize;
constexpr std::size_t kCardSize = kFitsCardSize;

std::optional<std::int64_t> IntegerOf(const HeaderCards& cards, std::string_view keyword) {
    return CardInteger(cards, keyword);
}

// A string value without its quotes and trailing blanks.
std::string StringOf(const HeaderCards& cards, std::string_view keyword) {
    const HeaderCard* c = FindCard(cards, keyword);
    std::string_view v = c ? std::string_view(c->value) : std::string_view();
    if (v.size() >= 2 && v.front() == '\'') v = v.substr(1, v.find('\'', 1) - 1);
    while (!v.empty() && v.back() == ' ')
        v.remove_suffix(1);
    return std::string(v);
}

// Reads one header, its cards parsed once: false when the stream ends before END, END is not
// within the block limit, or the walk has used up its budget of header blocks. `blocks`
// counts the blocks read.
bool ReadHeader(std::istream& in, HeaderCards& cards, std::int64_t& blocks, std::int64_t& budget) {
    std::array<char, kBlockSize> block;
    blocks = 0;
    while (blocks < kMaxHeaderBlocks && budget > 0) {
        if (ReadSome(in, reinterpret_cast<std::uint8_t*>(block.data()), kBlockSize) < kBlockSize)
            return false;
        ++blocks;
        --budget;
        const ParsedHeader parsed =
            ParseHeaderBlocks(std::string_view(block.data(), kBlockSize), 1);
        cards.insert(cards.end(), std::make_move_iterator(parsed.cards.begin()),
                     std::make_move_iterator(parsed.cards.end()));
        if (parsed.complete) return true;
    }
    return false;
}

std::int64_t RoundedToBlocks(std::int64_t bytes) {
    const std::int64_t rest = bytes % kBlockSize;
    if (rest == 0) return bytes;
    return bytes > std::numeric_limits<std::int64_t>::max() - (kBlockSize - rest)
               ? -1
               : bytes + (kBlockSize - rest);
}

bool IsImageExtension(const HeaderCards& cards, bool& tileCompressed) {
    const std::string xtension = StringOf(cards, "XTENSION");
    tileCompressed = xtension == "BINTABLE" && CardIsTrue(cards, "ZIMAGE");
    if (tileCompressed) return IntegerOf(cards, "ZNAXIS").value_or(0) >= 2;
    return xtension == "IMAGE" && IntegerOf(cards, "NAXIS").value_or(0) >= 2 &&
           DataUnitBytes(cards) > 0;
}

// Keywords that describe an HDU's own structure and never pass from the primary.
bool IsStructural(std::string_view key) {
    static constexpr std::array<std::string_view, 11> kKeys = {
        "SIMPLE", "XTENSION", "BITPIX",  "NAXIS",   "EXTEND", "PCOUNT",
        "GCOUNT", "END",      "INHERIT", "BLOCKED", "GROUPS"};
    if (std::find(kKeys.begin(), kKeys.end(), key) != kKeys.end()) return true;
    return key.size() > 5 && key.substr(0, 5) == "NAXIS";
}

}  // namespace

const char* const kExtensionSeparator =
    "--------------------------------------------------------------------------------";

std::int64_t DataUnitBytes(const HeaderCards& cards) {
    const auto bitpix = IntegerOf(cards, "BITPIX");
    const auto naxis = IntegerOf(cards, "NAXIS");
    if (!bitpix || !naxis || *naxis < 0 || *naxis > 999) return -1;
    if (*bitpix != 8 && *bitpix != 16 && *bitpix != 32 && *bitpix != 64 && *bitpix != -32 &&
        *bitpix != -64)
        return -1;
    if (*naxis == 0) return 0;
    std::int64_t count = 1;
    for (int i = 1; i <= *naxis; ++i) {
        const auto n = IntegerOf(cards, "NAXIS" + DecimalText(i));
        if (!n || !MultiplyFits(count, *n, count)) return -1;
    }
    const std::int64_t pcount = IntegerOf(cards, "PCOUNT").value_or(0);
    const std::int64_t gcount = IntegerOf(cards, "GCOUNT").value_or(1);
    std::int64_t bytes = 0;
    if (pcount < 0 || count > std::numeric_limits<std::int64_t>::max() - pcount ||
        !MultiplyFits(count + pcount, gcount, count) ||
        !MultiplyFits(count, std::abs(*bitpix) / 8, bytes))
        return -1;
    return bytes;
}

bool PrimaryHasNoImage(const HeaderCards& cards) {
    if (IntegerOf(cards, "NAXIS").value_or(0) < 2) return true;
    return IntegerOf(cards, "NAXIS1").value_or(0) == 0 ||
           IntegerOf(cards, "NAXIS2").value_or(0) == 0;
}

bool LocateImage(std::istream& in, ImageExtension& found) {
    found = ImageExtension{};
    in.clear();
    in.seekg(0);
    const std::int64_t size = BytesLeft(in);
    std::int64_t budget = kMaxWalkedHeaderBlocks;
    std::int64_t blocks = 0;
    if (!ReadHeader(in, found.primary, blocks, budget)) return false;
    std::int64_t at = blocks * kBlockSize;
    found.scanned = at;
    std::int64_t bytes = DataUnitBytes(found.primary);
    if (!PrimaryHasNoImage(found.primary)) {
        found.dataStart = at;
        found.dataBytes = std::max<std::int64_t>(bytes, 0);
        return true;
    }
    for (int hdu = 1; hdu <= kMaxHdus; ++hdu) {
        bytes = RoundedToBlocks(bytes);
        if (bytes < 0 || at > std::numeric_limits<std::int64_t>::max() - bytes) return false;
        at += bytes;
        if (size >= 0 && at >= size) return false;
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
        if (!in) return false;
        HeaderCards cards;
        const bool complete = ReadHeader(in, cards, blocks, budget);
        at += blocks * kBlockSize;
        found.scanned = at;
        if (!complete) return false;
        bytes = DataUnitBytes(cards);
        if (bytes < 0) return false;
        bool tiles = false;
        if (IsImageExtension(cards, tiles)) {
            found.header = std::move(cards);
            found.hdu = hdu;
            found.dataStart = at;
            found.dataBytes = bytes;
            found.tileCompressed = tiles;
            return true;
        }
    }
    return false;
}

std::string MergedHeader(const ImageExtension& ext) {
    HeaderCards merged = ext.header;
    if (CardIsTrue(ext.header, "INHERIT")) {
        // A set of the keywords present: the headers may hold tens of thousands of cards.
        std::unordered_set<std::string_view> own;
        for (const HeaderCard& c : ext.header)
            own.insert(c.keyword);
        for (const HeaderCard& c : ext.primary) {
            const std::string_view key = c.keyword;
            if (key.empty() || IsStructural(key) || key == "COMMENT" || key == "HISTORY") continue;
            if (!own.count(key)) merged.push_back(c);
        }
    }
    return HeaderString(merged);
}

std::istream* OpenImageExtension(std::istream& file, ImageState& image, WcsInfo& wcs,
                                 ZoomWindow& zoom, const MessageWords& words, FitsHeaderInfo& info,
                                 std::unique_ptr<std::istream>& owned) {
    ImageExtension ext;
    if (!LocateImage(file, ext) || ext.hdu == 0 || !CardIsTrue(ext.primary, "SIMPLE"))
        return nullptr;
    if (ext.tileCompressed) {
        const std::string message = DecompressTiles(file, ext, owned);
        if (!message.empty()) {
            image.errorText = message;
            return nullptr;
        }
        // The image's own header and its values stand in for the table.
        ext.header = ImageCardsFromTable(ext.header);
        ext.dataStart = 0;
    }
    const std::int64_t dataStart = ext.dataStart;
    std::istringstream header(MergedHeader(ext));
    // The reader splits the merged header into the image's cards again: the walk's copies
    // would only double what a header of tens of thousands of cards costs.
    ext = ImageExtension{};
    const std::string refusal = image.errorText;
    image.errorText.clear();
    info = ReadFitsHeader(header, image, wcs, zoom, words);
    if (image.height == 0) {
        if (image.errorText.empty()) image.errorText = refusal;
        return nullptr;
    }
    std::istream& data = owned ? *owned : file;
    data.clear();
    data.seekg(static_cast<std::streamoff>(dataStart));
    return data ? &data : nullptr;
}

void PutExtensionListingFirst(std::istream& file, HeaderText& text) {
    HeaderCards primary;
    std::size_t primaryLines = text.size();
    for (std::size_t i = 0; i < text.size(); ++i) {
        HeaderCard card = ParseCard(text[i]);
        if (card.keyword == "END") {
            primaryLines = i + 1;
            break;
        }
        primary.push_back(std::move(card));
    }
    if (!PrimaryHasNoImage(primary)) return;
    ImageExtension ext;
    if (!LocateImage(file, ext) || ext.hdu == 0) return;
    // The image's own header is what the viewer wants to read first; the primary header
    // follows, both without the blank cards that pad their last block.
    HeaderText listing;
    listing.reserve(ext.header.size() + 2 + primaryLines);
    for (const HeaderCard& c : ext.header)
        listing.push_back(c.text);
    listing.push_back(std::string("END").append(kCardSize - 3, ' '));
    listing.emplace_back(kExtensionSeparator);
    listing.insert(listing.end(), text.begin(),
                   text.begin() + static_cast<std::ptrdiff_t>(primaryLines));
    text = std::move(listing);
}

}  // namespace pelorin::detail
