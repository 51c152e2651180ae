#include "FitsFiles.h"

#include "ByteOrder.h"

namespace pelorin::test {

std::string Card(const std::string& keyword, const std::string& value, const std::string& comment) {
    std::string c = keyword;
    c.resize(8, ' ');
    if (!value.empty() || keyword != "END") {
        if (keyword == "END" || keyword == "COMMENT" || keyword == "HISTORY") {
            c += value;
        } else {
            c += "= ";
            std::string v = value;
            if (v.size() < 20 && v.front() != '\'') v.insert(0, 20 - v.size(), ' ');
            c += v;
            if (!comment.empty()) c += " / " + comment;
        }
    }
    c.resize(80, ' ');
    return c;
}

std::string HeaderBlocks(const std::vector<std::string>& cards) {
    std::string h;
    for (const auto& c : cards)
        h += c;
    h.resize((h.size() + 2879) / 2880 * 2880, ' ');
    return h;
}

std::vector<std::uint8_t> FitsFile(const std::vector<std::string>& cards,
                                   const std::vector<std::uint8_t>& data) {
    std::vector<std::string> all = cards;
    all.push_back(Card("END", ""));
    const std::string h = HeaderBlocks(all);
    std::vector<std::uint8_t> out(h.begin(), h.end());
    out.insert(out.end(), data.begin(), data.end());
    out.resize((out.size() + 2879) / 2880 * 2880, 0);
    return out;
}

std::vector<std::uint8_t> FitsInt16(int cols, int rows, int planes,
                                    const std::function<int(int plane, int index)>& value,
                                    const std::vector<std::string>& extra) {
    std::vector<std::string> cards = {
        Card("SIMPLE", "T"), Card("BITPIX", "16"), Card("NAXIS", planes > 1 ? "3" : "2"),
        Card("NAXIS1", std::to_string(cols)), Card("NAXIS2", std::to_string(rows))};
    if (planes > 1) cards.push_back(Card("NAXIS3", std::to_string(planes)));
    cards.insert(cards.end(), extra.begin(), extra.end());
    Bytes data;
    for (int p = 1; p <= planes; ++p)
        for (int i = 0; i < rows * cols; ++i)
            PutBE16(data, value(p, i));
    return FitsFile(cards, data);
}

}  // namespace pelorin::test
