// The header data units after the primary one: finding the image extension of a file whose
// primary array is empty, the header the reader applies for it, and its listing.
#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>

#include "image/FitsSources.h"
#include "image/ReaderSupport.h"

namespace pelorin::detail {

namespace {

constexpr std::int64_t kBlockSize = 2880;
constexpr std::size_t kCardSize = 80;
// As for the listing: no real header comes near this many blocks.
constexpr int kMaxHeaderBlocks = 10000;
// Walking stops after this many extensions.
constexpr int kMaxHdus = 1000;

std::optional<std::int64_t> Integer(std::string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
    if (i == text.size()) return std::nullopt;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        if (v > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return std::nullopt;
        v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

// The value text of the first card with `keyword`, or none.
std::optional<std::string_view> Value(const CardList& cards, std::string_view keyword) {
    for (const std::string& c : cards) {
        const CardParts parts = SplitCard(c);
        if (parts.keyword == keyword) return parts.value;
    }
    return std::nullopt;
}

std::optional<std::int64_t> IntegerOf(const CardList& cards, std::string_view keyword) {
    const auto v = Value(cards, keyword);
    return v ? Integer(*v) : std::nullopt;
}

bool IsTrue(const CardList& cards, std::string_view keyword) {
    const auto v = Value(cards, keyword);
    return v && !v->empty() && v->front() == 'T';
}

// A string value without its quotes and trailing blanks.
std::string StringOf(const CardList& cards, std::string_view keyword) {
    auto v = Value(cards, keyword).value_or("");
    if (v.size() >= 2 && v.front() == '\'') v = v.substr(1, v.find('\'', 1) - 1);
    while (!v.empty() && v.back() == ' ')
        v.remove_suffix(1);
    return std::string(v);
}

// Reads one header: false when the stream ends before END or END is not within the limit.
bool ReadHeader(std::istream& in, CardList& cards, CardList& blockCards) {
    std::array<char, kBlockSize> block;
    for (int blocks = 0; blocks < kMaxHeaderBlocks; ++blocks) {
        if (ReadSome(in, reinterpret_cast<std::uint8_t*>(block.data()), kBlockSize) < kBlockSize)
            return false;
        bool end = false;
        for (std::size_t at = 0; at < kBlockSize; at += kCardSize) {
            const std::string_view card(block.data() + at, kCardSize);
            blockCards.emplace_back(card);
            if (end) continue;
            if (CardKeyword(card) == "END")
                end = true;
            else
                cards.emplace_back(card);
        }
        if (end) return true;
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

bool IsImageExtension(const CardList& cards, bool& tileCompressed) {
    const std::string xtension = StringOf(cards, "XTENSION");
    tileCompressed = xtension == "BINTABLE" && IsTrue(cards, "ZIMAGE");
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

std::int64_t DataUnitBytes(const CardList& cards) {
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

bool PrimaryHasNoImage(const CardList& cards) {
    if (IntegerOf(cards, "NAXIS").value_or(0) < 2) return true;
    return IntegerOf(cards, "NAXIS1").value_or(0) == 0 ||
           IntegerOf(cards, "NAXIS2").value_or(0) == 0;
}

bool LocateImage(std::istream& in, ImageExtension& found) {
    found = ImageExtension{};
    in.clear();
    in.seekg(0);
    const std::int64_t size = BytesLeft(in);
    CardList blocks;
    if (!ReadHeader(in, found.primary, blocks)) return false;
    std::int64_t at = static_cast<std::int64_t>(blocks.size() * kCardSize);
    found.scanned = at;
    std::int64_t bytes = DataUnitBytes(found.primary);
    if (!PrimaryHasNoImage(found.primary)) {
        found.dataStart = at;
        found.dataBytes = std::max<std::int64_t>(bytes, 0);
        found.blockCards = std::move(blocks);
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
        CardList cards, blockCards;
        const bool complete = ReadHeader(in, cards, blockCards);
        at += static_cast<std::int64_t>(blockCards.size() * kCardSize);
        found.scanned = at;
        if (!complete) return false;
        bytes = DataUnitBytes(cards);
        if (bytes < 0) return false;
        bool tiles = false;
        if (IsImageExtension(cards, tiles)) {
            found.cards = std::move(cards);
            found.blockCards = std::move(blockCards);
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
    std::string header;
    auto add = [&header](std::string_view card) {
        std::string c(card.substr(0, kCardSize));
        c.resize(kCardSize, ' ');
        header += c;
    };
    for (const std::string& c : ext.cards)
        add(c);
    if (IsTrue(ext.cards, "INHERIT")) {
        for (const std::string& c : ext.primary) {
            const std::string_view key = SplitCard(c).keyword;
            if (key.empty() || IsStructural(key) || key == "COMMENT" || key == "HISTORY") continue;
            if (!Value(ext.cards, key)) add(c);
        }
    }
    add("END");
    header.resize(
        static_cast<std::size_t>(RoundedToBlocks(static_cast<std::int64_t>(header.size()))), ' ');
    return header;
}

std::istream* OpenImageExtension(std::istream& file, ImageState& image, WcsInfo& wcs,
                                 ZoomWindow& zoom, const MessageWords& words, FitsHeaderInfo& info,
                                 std::unique_ptr<std::istream>& owned) {
    ImageExtension ext;
    if (!LocateImage(file, ext) || ext.hdu == 0 || !IsTrue(ext.primary, "SIMPLE")) return nullptr;
    if (ext.tileCompressed) {
        std::string pixels;
        const std::string message = DecompressTiles(file, ext, pixels);
        if (!message.empty()) {
            image.errorText = message;
            return nullptr;
        }
        // The image's own header and its values stand in for the table.
        ext.cards = ImageCardsFromTable(ext.cards);
        ext.dataStart = 0;
        owned = std::make_unique<std::istringstream>(std::move(pixels));
    }
    std::istringstream header(MergedHeader(ext));
    const std::string refusal = image.errorText;
    image.errorText.clear();
    info = ReadFitsHeader(header, image, wcs, zoom, words);
    if (image.height == 0) {
        if (image.errorText.empty()) image.errorText = refusal;
        return nullptr;
    }
    std::istream& data = owned ? *owned : file;
    data.clear();
    data.seekg(static_cast<std::streamoff>(ext.dataStart));
    return data ? &data : nullptr;
}

void AppendExtensionListing(std::istream& file, HeaderText& text) {
    CardList primary;
    for (const std::string& line : text) {
        if (CardKeyword(line) == "END") break;
        primary.push_back(line);
    }
    if (!PrimaryHasNoImage(primary)) return;
    ImageExtension ext;
    if (!LocateImage(file, ext) || ext.hdu == 0) return;
    text.emplace_back(kExtensionSeparator);
    text.insert(text.end(), ext.blockCards.begin(), ext.blockCards.end());
}

}  // namespace pelorin::detail
