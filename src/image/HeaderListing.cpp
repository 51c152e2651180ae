// Header listings for the text view: a FITS header card by card, or the fields of a PIC
// header one per labelled line. The lines are the file's own bytes (Windows-1252), and so are
// the labels of the PIC lines.
#include <array>
#include <string_view>

#include "image/FitsSources.h"
#include "image/ReaderSupport.h"
#include "image/Readers.h"

namespace pelorin {

namespace {

constexpr std::int64_t kBlockSize = 2880;
constexpr std::size_t kCardSize = 80;

// A file whose first block names SIMPLE but that never reaches END would otherwise be listed
// in full, 80 bytes to a line, however large it is. No real header comes near this many
// blocks (360 000 cards).
constexpr int kMaxListedBlocks = 10000;

std::string Hex4(unsigned v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s(4, '0');
    for (int i = 3; i >= 0; --i, v >>= 4)
        s[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
    return s;
}

// Labels of the PIC lines, 20 bytes each, in Windows-1252 ("\xE9" is e acute).
constexpr std::array<std::string_view, 24> kPicLabels = {
    "Signature           ",
    "Version             ",
    "Dimension du header ",
    "Nom de l'image      ",
    "Nom de l'image li\xE9"
    "e ",
    "Nombre de colonnes  ",
    "Nombre de lignes    ",
    "Dimension donn\xE9"
    "es   ",
    "Type de donn\xE9"
    "es     ",
    "Orientation         ",
    "Echelle en X        ",
    "Echelle en Y        ",
    "Binning en X        ",
    "Binning en Y        ",
    "Plans couleurs      ",
    "Date                ",
    "Heure               ",
    "Seuil haut          ",
    "Seuil bas           ",
    "Fract. seuil haut   ",
    "Fract. seuil bas    ",
    "Temps d'int\xE9gration ",
    "Commentaire 1       ",
    "Commentaire 2       ",
};

constexpr bool AllLabelsTwentyBytes() {
    for (std::string_view l : kPicLabels)
        if (l.size() != 20) return false;
    return true;
}
static_assert(AllLabelsTwentyBytes());

}  // namespace

bool ListFitsHeader(std::istream& file, HeaderText& text, std::string& errorText,
                    const MessageWords& words) {
    text.clear();
    bool simple = false;
    bool end = false;
    std::array<std::uint8_t, kBlockSize> block;
    for (int blocks = 0; blocks < kMaxListedBlocks; ++blocks) {
        const std::int64_t got = detail::ReadSome(file, block.data(), kBlockSize);
        const std::string_view bytes(reinterpret_cast<const char*>(block.data()),
                                     static_cast<std::size_t>(got));
        // A block cut short by the end of the file is listed as far as it goes.
        for (std::size_t at = 0; at < bytes.size(); at += kCardSize) {
            const std::string_view card = bytes.substr(at, kCardSize);
            const std::string keyword = ParseCard(card).keyword;
            if (keyword == "SIMPLE") simple = true;
            if (keyword == "END") end = true;
            text.emplace_back(card);
        }
        if (!simple) {
            errorText = words.msgKeyword + " \"SIMPLE = T\" " + words.msgMissing;
            return false;
        }
        if (end || got < kBlockSize) break;
    }
    // Reaching the end of the file before END still lists what the header holds.
    if (end) detail::PutExtensionListingFirst(file, text);
    return true;
}

bool ListFitsHeader(const std::string& path, HeaderText& text, std::string& errorText,
                    const MessageWords& words) {
    if (detail::IsGzipFitsName(path)) return detail::ListGzipFits(path, text, errorText, words);
    std::ifstream file = detail::OpenForReading(path);
    return ListFitsHeader(file, text, errorText, words);
}

bool ListPicHeader(std::istream& file, HeaderText& text) {
    text.clear();
    const detail::PicHeader h = detail::ReadPicHeaderBytes(file);
    using detail::DecimalText;
    const std::array<std::string, 24> values = {
        Hex4(h.signature),
        Hex4(h.version),
        DecimalText(h.headerSize),
        h.imageName,
        h.linkedImageName,
        DecimalText(h.columnCount),
        DecimalText(h.rowCount),
        DecimalText(h.dataLength),
        DecimalText(h.dataType),
        DecimalText(h.orientation),
        DecimalText(h.scaleX),
        DecimalText(h.scaleY),
        DecimalText(h.binningX),
        DecimalText(h.binningY),
        DecimalText(h.colourPlanes),
        h.date,
        h.time,
        DecimalText(h.thresholdHigh),
        DecimalText(h.thresholdLow),
        DecimalText(h.fractionHigh),
        DecimalText(h.fractionLow),
        DecimalText(h.integrationTime),
        h.comment1,
        h.comment2,
    };
    for (std::size_t i = 0; i < values.size(); ++i)
        text.push_back(std::string(kPicLabels[i]) + values[i]);
    return true;
}

bool ListPicHeader(const std::string& path, HeaderText& text) {
    std::ifstream file = detail::OpenForReading(path);
    return ListPicHeader(file, text);
}

}  // namespace pelorin
