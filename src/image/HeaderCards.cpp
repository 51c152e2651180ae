#include "image/HeaderCards.h"

#include <algorithm>
#include <limits>

#include "base/NumberText.h"

namespace pelorin {

namespace {

bool IsBlankOrControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

// Characters from..to (1-based, inclusive) of the card, cut to its length.
std::string_view Characters(std::string_view card, std::size_t from, std::size_t to) {
    if (to < from || from > card.size()) return {};
    to = std::min(to, card.size());
    return card.substr(from - 1, to - from + 1);
}

}  // namespace

std::string_view TrimCardText(std::string_view t) {
    while (!t.empty() && IsBlankOrControl(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && IsBlankOrControl(t.back()))
        t.remove_suffix(1);
    return t;
}

CardTexts SplitCardText(std::string_view card) {
    const auto eqAt = card.find('=');
    const auto slAt = card.find('/');
    const std::size_t eq = eqAt == std::string_view::npos ? 9 : eqAt + 1;
    const std::size_t sl = slAt == std::string_view::npos ? 80 : slAt + 1;
    CardTexts t;
    t.keyword = TrimCardText(Characters(card, 1, eq - 1));
    if (sl > eq + 1) t.value = TrimCardText(Characters(card, eq + 1, sl - 1));
    if (slAt != std::string_view::npos) t.comment = TrimCardText(card.substr(slAt + 1));
    return t;
}

HeaderCard ParseCard(std::string_view card) {
    const CardTexts t = SplitCardText(card);
    return HeaderCard{std::string(card), std::string(t.keyword), std::string(t.value),
                      std::string(t.comment)};
}

bool ParseHeaderInteger(std::string_view text, std::int64_t& value) {
    std::string_view t = TrimCardText(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    if (t.empty()) return false;
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (char ch : t) {
        if (ch < '0' || ch > '9') return false;
        const auto digit = static_cast<std::uint64_t>(ch - '0');
        if (magnitude > (kLimit - digit) / 10) return false;  // before it can wrap around
        magnitude = magnitude * 10 + digit;
    }
    if (!negative && magnitude == kLimit) return false;
    value =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool ParseHeaderReal(std::string_view text, long double& value) {
    return TryParseReal(text, value);
}

const HeaderCard* FindCard(const HeaderCards& cards, std::string_view keyword) {
    for (const HeaderCard& c : cards)
        if (c.keyword == keyword) return &c;
    return nullptr;
}

std::optional<std::int64_t> CardInteger(const HeaderCards& cards, std::string_view keyword) {
    const HeaderCard* c = FindCard(cards, keyword);
    std::int64_t v = 0;
    if (!c || !ParseHeaderInteger(c->value, v)) return std::nullopt;
    return v;
}

bool CardIsTrue(const HeaderCards& cards, std::string_view keyword) {
    const HeaderCard* c = FindCard(cards, keyword);
    return c && !c->value.empty() && c->value.front() == 'T';
}

std::string HeaderString(const HeaderCards& cards) {
    std::string header;
    header.reserve((cards.size() + 1) * kFitsCardSize + kFitsBlockSize);
    for (const HeaderCard& c : cards) {
        header.append(c.text, 0, std::min(c.text.size(), kFitsCardSize));
        header.resize((header.size() + kFitsCardSize - 1) / kFitsCardSize * kFitsCardSize, ' ');
    }
    header += "END";
    header.resize((header.size() + kFitsBlockSize - 1) / kFitsBlockSize * kFitsBlockSize, ' ');
    return header;
}

ParsedHeader ParseHeaderBlocks(std::string_view bytes, std::int64_t maxBlocks) {
    ParsedHeader h;
    while (h.blocks < maxBlocks &&
           static_cast<std::int64_t>(bytes.size()) >= (h.blocks + 1) * kFitsBlockSize) {
        const std::string_view block =
            bytes.substr(static_cast<std::size_t>(h.blocks * kFitsBlockSize), kFitsBlockSize);
        ++h.blocks;
        for (std::size_t at = 0; at < block.size(); at += kFitsCardSize) {
            HeaderCard card = ParseCard(block.substr(at, kFitsCardSize));
            if (card.keyword == "END") {
                h.complete = true;
                return h;
            }
            h.cards.push_back(std::move(card));
        }
    }
    return h;
}

}  // namespace pelorin
