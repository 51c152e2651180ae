// Palette (LUT) and intensity table (ITT) files: plain text, one entry a line, each value a
// real in 0..1 (a LUT line holds red, green and blue).
#include "display/Palettes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/Paths.h"

namespace pelorin {

namespace fs = std::filesystem;

namespace {

// Case-insensitive ordering for the palette lists.
struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return AsciiLower(a) < AsciiLower(b);
    }
};

std::string ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) ThrowOpenError(errno);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Reads the numbers of a palette text file. The format is loose, and existing palette files
// rely on every detail of it: a number is a run of at most 64 characters ended by a character below
// 33 or the end of the file; blanks and line ends before a number are skipped; after an entry's
// numbers the rest of its line is skipped. Numbers past the end of the file read as 0.
// A bad number is reported with the file and the line it is on, after the usual text.
class PaletteReader {
  public:
    PaletteReader(std::string path, const char* emptyMessage)
        : path_(std::move(path)), text_(ReadWholeFile(path_)) {
        // A file without a single number would silently turn every pixel black.
        if (std::all_of(text_.begin(), text_.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 33; }))
            throw OperationError(emptyMessage + path_);
    }

    long double number() {
        while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) < 33)
            ++pos_;
        if (pos_ >= text_.size()) return 0;
        const std::size_t start = pos_;
        while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) >= 33 &&
               pos_ - start < 64)
            ++pos_;
        long double v = 0;
        if (!TryParseReal(std::string_view(text_).substr(start, pos_ - start), v))
            throw OperationError("Invalid numeric input (" + path_ + ", ligne " +
                                 std::to_string(lineOf(start)) + ")");
        return v;
    }

    void skipLine() {
        while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\r')
            ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    }

  private:
    // Lines ended by LF, CR LF or a lone CR, counted from 1.
    std::size_t lineOf(std::size_t at) const {
        std::size_t line = 1;
        for (std::size_t i = 0; i < at; ++i)
            if (text_[i] == '\n' || (text_[i] == '\r' && (i + 1 >= at || text_[i + 1] != '\n')))
                ++line;
        return line;
    }

    std::string path_;
    std::string text_;
    std::size_t pos_ = 0;
};

// The byte of a value in 0..1: value x 255 rounded (halves to even), low 8 bits, so values
// outside the range wrap.
std::uint8_t EntryByte(long double value) {
    const double v = static_cast<double>(value);  // the files' numbers are 64-bit reals
    long double r = RoundHalfEven(static_cast<long double>(v) * 255);
    if (!std::isfinite(r)) return 0;
    r = std::fmod(r, 256.0L);
    if (r < 0) r += 256;
    return static_cast<std::uint8_t>(static_cast<int>(r) & 0xFF);
}

}  // namespace

std::string FindPaletteFile(const std::string& folder, const std::string& name,
                            const std::string& extension) {
    const std::string wanted = AsciiLower(name + extension);
    std::error_code ec;
    const fs::path exact = fs::path(folder) / (name + extension);
    if (fs::is_regular_file(exact, ec)) return exact.string();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        if (AsciiLower(it->path().filename().string()) == wanted) return it->path().string();
    }
    return {};
}

void ListPaletteNames(const std::string& folder, std::vector<std::string>& luts,
                      std::vector<std::string>& itts) {
    std::set<std::string, CaseInsensitiveLess> lutNames, ittNames;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string fileName = it->path().filename().string();
        if (fileName.empty() || fileName.front() == '.') continue;  // hidden files
        const auto lastDot = fileName.rfind('.');
        if (lastDot == std::string::npos) continue;
        const std::string extension = AsciiLower(fileName.substr(lastDot));
        const std::string name = AsciiLower(fileName.substr(0, fileName.find('.')));
        if (extension == ".lut") lutNames.insert(name);
        if (extension == ".itt") ittNames.insert(name);
    }
    luts.assign(lutNames.begin(), lutNames.end());
    itts.assign(ittNames.begin(), ittNames.end());
}

LutTable GreyLut() {
    LutTable table;
    for (std::size_t i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        table[i] = LutEntry{v, v, v, 1};
    }
    return table;
}

LutTable ReadLutFile(const std::string& path) {
    LutTable table;
    PaletteReader reader(path, "Palette vide : ");
    table[0] = LutEntry{0, 0, 0, 1};
    for (std::size_t i = 1; i < 256; ++i) {
        const std::uint8_t r = EntryByte(reader.number());
        const std::uint8_t g = EntryByte(reader.number());
        const std::uint8_t b = EntryByte(reader.number());
        table[i] = LutEntry{r, g, b, 1};
        reader.skipLine();
    }
    return table;
}

void SetRampItt(IttTable& itt) {
    for (std::size_t i = 1; i < 256; ++i)
        itt[i] = static_cast<std::uint8_t>(i);
    itt[0] = itt[1];
}

void ReadIttFile(const std::string& path, IttTable& itt) {
    // Entries are replaced as they are read: a bad number leaves the ones before it new and
    // entry 0 and the rest as they were.
    PaletteReader reader(path, "Table d'intensité vide : ");
    for (std::size_t i = 1; i < 256; ++i) {
        itt[i] = EntryByte(reader.number());
        reader.skipLine();
    }
    itt[0] = itt[1];
}

}  // namespace pelorin
