// FITS reader: the primary header, card by card, then one plane of the primary data array.
//
// The header is read in 2880-byte blocks of 36 cards of 80 characters until the block that
// holds END; only the keywords the viewer needs are looked at. The data that follow are big
// endian, bottom row first, planes one after the other.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/TextEncoding.h"
#include "image/FitsSources.h"
#include "image/ReaderSupport.h"
#include "image/Readers.h"

namespace pelorin {

namespace {

constexpr std::int64_t kBlockSize = 2880;
constexpr int kCardSize = 80;
constexpr int kCardsPerBlock = 36;
// No real header comes near this many blocks (72 000 cards); a file that claims more is
// refused before it costs time and memory.
constexpr std::int64_t kMaxHeaderBlocks = 2000;

// Integers the image needs in 32 bits (sizes, BITPIX): a value outside them is refused like
// any other text that is not a number.
std::int32_t IntegerValue(std::string_view value) {
    std::int64_t v = 0;
    if (!ParseHeaderInteger(value, v) || v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        ThrowInvalidInteger(Windows1252ToUtf8(value));
    return static_cast<std::int32_t>(v);
}

// A 64-bit integer, or none.
std::optional<std::int64_t> Integer64Value(std::string_view text) {
    std::int64_t v = 0;
    if (!ParseHeaderInteger(text, v)) return std::nullopt;
    return v;
}

long double ExtendedValue(std::string_view value) {
    long double v = 0;
    if (!ParseHeaderReal(value, v)) ThrowInvalidFloat(Windows1252ToUtf8(value));
    return v;
}

// Reals held as 64-bit: a number beyond the range of a double cannot be held and is refused
// like any other text that is not a number.
double RealValue(std::string_view value) {
    const long double v = ExtendedValue(value);
    if (std::fabs(v) > static_cast<long double>(DBL_MAX))
        ThrowInvalidFloat(Windows1252ToUtf8(value));
    return static_cast<double>(v);
}

// Everything one header read touches.
// Numeric sky keywords whose values are checked when read.
bool IsCheckedSkyKeyword(std::string_view key) {
    static constexpr std::string_view kKeys[] = {
        "CRPIX1", "CRPIX2", "CRVAL1",   "CRVAL2",   "CROTA1",   "CD1_1",   "CD1_2",
        "CD2_1",  "CD2_2",  "PC001001", "PC001002", "PC002001", "PC002002"};
    return std::find(std::begin(kKeys), std::end(kKeys), key) != std::end(kKeys);
}

struct HeaderRead {
    ImageState& image;
    WcsInfo& wcs;
    const MessageWords& words;
    FitsHeaderInfo info;
    bool end = false;

    std::string keywordMessage(const std::string& what) const {
        return words.msgKeyword + " \"" + what + "\"";
    }
    std::string missingMessage(const std::string& what) const {
        return words.msgKeyword + " \"" + what + "\" " + words.msgMissing;
    }

    // Applies one card; false when the card rejects the header.
    bool apply(const HeaderCard& card) {
        const std::string_view key = card.keyword;
        const std::string_view value = card.value;
        if (key == "SIMPLE") {
            if (value.empty() || value.front() != 'T') {
                image.errorText = missingMessage("SIMPLE = T");
                return false;
            }
        } else if (key == "BITPIX") {
            image.bitpix = IntegerValue(value);
        } else if (key == "NAXIS") {
            if (IntegerValue(value) < 2) {
                image.errorText = keywordMessage("NAXIS < 2");
                return false;
            }
        } else if (key == "NAXIS1") {
            image.width = IntegerValue(value);
            if (image.width == 0) {
                image.errorText = keywordMessage("NAXIS1 = 0");
                return false;
            }
            if (image.width < 0) {
                image.errorText = keywordMessage("NAXIS1 < 0");
                return false;
            }
        } else if (key == "NAXIS2") {
            image.height = IntegerValue(value);
            if (image.height == 0) {
                image.errorText = keywordMessage("NAXIS2 = 0");
                return false;
            }
            if (image.height < 0) {
                image.errorText = keywordMessage("NAXIS2 < 0");
                return false;
            }
        } else if (key == "NAXIS3") {
            image.planeCount = IntegerValue(value);
            if (image.planeCount < 0) {
                image.errorText = keywordMessage("NAXIS3 < 0");
                return false;
            }
        } else if (key == "BZERO") {
            image.bzero = ExtendedValue(value);
        } else if (key == "BSCALE") {
            image.bscale = ExtendedValue(value);
        } else if (key == "DATAMAX" || key == "THRESH") {
            image.headerHigh = RealValue(value);
        } else if (key == "DATAMIN" || key == "THRESL") {
            image.headerLow = RealValue(value);
        } else if (key == "BLANK") {
            info.blank = RealValue(value);
            info.blank64 = Integer64Value(value);
        } else if (key == "CDELT1") {
            wcs.cdelt1 = RealValue(value);
            wcs.hasCdelt = true;
        } else if (key == "CDELT2") {
            wcs.cdelt2 = RealValue(value);
            wcs.hasCdelt = true;
        } else if (key == "CROTA2") {
            RealValue(value);
            wcs.hasCdelt = true;
        } else if (IsCheckedSkyKeyword(key)) {
            // The sky position is worked out from the cards' text, but a number here that does
            // not read ends the read as it does on any numeric card.
            RealValue(value);
        } else if (key == "EPOCH" || key == "EQUINOX") {
            // 'J2000' and 'B1950' are strings; characters 3 to 6 catch them along with the
            // plain numbers of the same years.
            const std::string_view year = value.size() >= 6 ? value.substr(2, 4) : "";
            if (year != "2000" && year != "1950") RealValue(value);
        } else if (key == "END") {
            end = true;
        }
        return true;
    }

    // A header that cannot give an image leaves no size behind, whatever order its cards
    // came in, so the data reader never runs on it.
    void refuse() {
        image.height = 0;
        image.width = 0;
    }
};

void ResetHeaderValues(ImageState& image, WcsInfo& wcs) {
    image.height = 0;
    image.width = 0;
    image.planeCount = 1;
    image.bitpix = 0;
    image.headerLow = 0;
    image.headerHigh = 0;
    image.bzero = 0;
    image.bscale = 1;
    wcs.cdelt1 = wcs.cdelt2 = 0;
    wcs.hasCdelt = false;
}

using detail::PlaneStats;

// Physical value bscale * v + bzero, worked out in extended precision and held as a double.
struct Scaling {
    long double bscale;
    long double bzero;
    bool identity() const { return bscale == 1.0L && bzero == 0.0L; }
    // Any stored value goes to extended precision directly, which holds a 64-bit integer
    // whole (and every other kind as a double would).
    template <typename V>
    double operator()(V v) const {
        return static_cast<double>(bscale * static_cast<long double>(v) + bzero);
    }
};

// Big-endian values as the file holds them. The reals follow the rule that a first byte of
// 0x7F or 0xFF (NaN, infinities, the largest magnitudes) gives 0, written without branches
// so that the loops over the pixels stay straight.
inline std::int16_t Raw16(const std::uint8_t* b) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((b[0] << 8) | b[1]));
}
inline std::uint32_t Bits32(const std::uint8_t* b) {
    return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
           (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
}
inline float Real32(const std::uint8_t* b) {
    std::uint32_t u = Bits32(b);
    u = (u & 0x7F000000u) == 0x7F000000u ? 0u : u;
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}
inline std::int64_t Raw64(const std::uint8_t* b) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(Bits32(b)) << 32) | Bits32(b + 4));
}
inline double Real64(const std::uint8_t* b) {
    std::uint64_t u = (static_cast<std::uint64_t>(Bits32(b)) << 32) | Bits32(b + 4);
    u = (u & 0x7F00000000000000u) == 0x7F00000000000000u ? 0u : u;
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

// The BLANK value as an integer of the data, or a number no integer of the data equals.
std::int64_t IntegerBlank(double blank) {
    if (blank >= -2147483648.0 && blank <= 2147483647.0 && blank == std::trunc(blank))
        return static_cast<std::int64_t>(blank);
    return std::numeric_limits<std::int64_t>::max();
}

// 8- and 16-bit data: every possible stored value gets its physical value once, so the loop
// over the pixels only looks them up.
template <typename T, typename Raw>
std::vector<double> PhysicalTable(const Scaling& scale, double blank) {
    constexpr std::size_t count = std::size_t{1} << (8 * sizeof(Raw));
    std::vector<double> table(count);
    for (std::size_t i = 0; i < count; ++i) {
        double v = static_cast<T>(static_cast<Raw>(i));
        if (v == blank) v = 0;
        table[i] = scale(v);
    }
    return table;
}

// Reads 8- or 16-bit data. With a scale of 1 and a whole offset the physical values are whole
// numbers; when their sums cannot overflow, integer sums give the exact same statistics.
template <typename T, typename Raw, typename Fetch>
PlaneStats ReadSmallIntegers(std::istream& file, std::int64_t bytesInFile,
                             const detail::PlaneLayout& g, PixelArray<T>& pixels,
                             const Scaling& scale, double blank, Fetch fetch) {
    const std::int64_t blankRaw = IntegerBlank(blank);
    const std::int64_t total = g.height * g.width;
    constexpr std::int64_t largestStored = std::size_t{1} << (8 * sizeof(Raw) - 1);
    const bool wholeOffset = scale.bscale == 1.0L && std::fabs(scale.bzero) <= 2147483648.0L &&
                             scale.bzero == std::trunc(scale.bzero);
    PlaneStats stats;
    std::int64_t consumed = 0;
    if (wholeOffset && detail::IntegerSumsAreExact(
                           detail::ReadableValues(g, bytesInFile),
                           static_cast<std::int64_t>(std::fabs(scale.bzero)) + 2 * largestStored)) {
        const auto offset = static_cast<std::int64_t>(scale.bzero);
        detail::IntegerPlaneStats exact;
        consumed = detail::ReadPlane(
            file, bytesInFile, g, pixels,
            [fetch, blankRaw, offset](const std::uint8_t* p, T& s) {
                const T raw = fetch(p);
                s = raw == blankRaw ? T{0} : raw;
                return static_cast<std::int64_t>(s) + offset;
            },
            exact);
        stats = exact.extended();
    } else {
        const std::vector<double> table = PhysicalTable<T, Raw>(scale, blank);
        const double* phys = table.data();
        consumed = detail::ReadPlane(
            file, bytesInFile, g, pixels,
            [fetch, blankRaw, phys](const std::uint8_t* p, T& s) {
                const T raw = fetch(p);
                s = raw == blankRaw ? T{0} : raw;
                return phys[static_cast<Raw>(raw)];
            },
            stats);
    }
    stats.addRepeated(scale(0.0), total - consumed);
    stats.valuesRead = consumed;
    return stats;
}

// Reads 32-bit integer or real data: `fetch` gives the stored value after the BLANK rule.
template <typename T, typename Fetch>
PlaneStats ReadWideValues(std::istream& file, std::int64_t bytesInFile,
                          const detail::PlaneLayout& g, PixelArray<T>& pixels, const Scaling& scale,
                          Fetch fetch) {
    PlaneStats stats;
    std::int64_t consumed = 0;
    if (scale.identity())
        // Adding +0 turns a stored -0 into the +0 that the scaling would give.
        consumed = detail::ReadPlane(
            file, bytesInFile, g, pixels,
            [fetch](const std::uint8_t* p, T& s) {
                s = fetch(p);
                return static_cast<double>(s) + 0.0;
            },
            stats);
    else
        consumed = detail::ReadPlane(
            file, bytesInFile, g, pixels,
            [fetch, scale](const std::uint8_t* p, T& s) {
                s = fetch(p);
                return scale(s);
            },
            stats);
    stats.addRepeated(scale(0.0), g.height * g.width - consumed);
    stats.valuesRead = consumed;
    return stats;
}

PlaneStats ReadPlaneOfKind(std::istream& file, std::int64_t bytesInFile,
                           const detail::PlaneLayout& g, ImageState& image,
                           const FitsHeaderInfo& info) {
    const double blank = info.blank;
    const Scaling scale{image.bscale, image.bzero};
    const int rows = static_cast<int>(g.height);
    const int cols = static_cast<int>(g.width);
    return VisitPixelKind(image.bitpix, [&](auto kind) {
        using T = typename decltype(kind)::type;
        PixelArray<T>& pixels = PixelsOf<T>(image);
        pixels.resizeForOverwrite(rows, cols);
        if constexpr (std::is_same_v<T, std::uint8_t>) {
            return ReadSmallIntegers<T, std::uint8_t>(file, bytesInFile, g, pixels, scale, blank,
                                                      [](const std::uint8_t* p) { return *p; });
        } else if constexpr (std::is_same_v<T, std::int16_t>) {
            return ReadSmallIntegers<T, std::uint16_t>(
                file, bytesInFile, g, pixels, scale, blank,
                [](const std::uint8_t* p) { return Raw16(p); });
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
            const std::int64_t blankRaw = IntegerBlank(blank);
            return ReadWideValues(file, bytesInFile, g, pixels, scale,
                                  [blankRaw](const std::uint8_t* p) {
                                      const auto raw = static_cast<std::int32_t>(Bits32(p));
                                      return raw == blankRaw ? 0 : raw;
                                  });
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
            return ReadWideValues(file, bytesInFile, g, pixels, scale,
                                  [blank64 = info.blank64](const std::uint8_t* p) {
                                      const std::int64_t raw = Raw64(p);
                                      return blank64 && raw == *blank64 ? std::int64_t{0} : raw;
                                  });
        } else if constexpr (std::is_same_v<T, float>) {
            return ReadWideValues(file, bytesInFile, g, pixels, scale,
                                  [blank](const std::uint8_t* p) {
                                      const float v = Real32(p);
                                      return static_cast<double>(v) == blank ? 0.0f : v;
                                  });
        } else {
            return ReadWideValues(file, bytesInFile, g, pixels, scale,
                                  [blank](const std::uint8_t* p) {
                                      const double v = Real64(p);
                                      return v == blank ? 0.0 : v;
                                  });
        }
    });
}

}  // namespace

FitsHeaderInfo ReadFitsHeader(std::istream& file, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                              const MessageWords& words) {
    ResetHeaderValues(image, wcs);
    HeaderRead read{image, wcs, words, {}, false};

    image.cards.clear();
    image.axes.clear();
    bool endSeen = false;
    std::array<std::uint8_t, kBlockSize> block;
    std::int64_t blocks = 0;
    for (;;) {
        // However long a header claims to run, it cannot hold more blocks than a sane one.
        if (blocks >= kMaxHeaderBlocks) {
            image.errorText = read.missingMessage("END");
            read.refuse();
            return read.info;
        }
        if (detail::ReadSome(file, block.data(), kBlockSize) < kBlockSize) {
            // The file ends before the header does: there is no data to show.
            image.errorText = read.missingMessage("END");
            read.refuse();
            return read.info;
        }
        ++blocks;
        read.info.dataOffset = blocks * kBlockSize;
        const char* text = reinterpret_cast<const char*>(block.data());
        for (int i = 0; i < kCardsPerBlock; ++i) {
            HeaderCard card = ParseCard(std::string_view(text + i * kCardSize, kCardSize));
            const bool accepted = read.apply(card);
            if (!endSeen) {
                endSeen = read.end;
                if (!endSeen) image.cards.push_back(std::move(card));
            }
            if (!accepted) {
                read.refuse();
                return read.info;
            }
        }
        if (image.bitpix == 0) return read.info;
        if (read.end) break;
    }

    if (wcs.hasCdelt && wcs.cdelt1 > 0) zoom.flipHorizontal = true;
    if (wcs.hasCdelt && wcs.cdelt2 < 0) zoom.flipVertical = true;

    // The axes as the header gives them, for whoever needs more than the plane shown.
    const std::int64_t naxis = CardInteger(image.cards, "NAXIS").value_or(0);
    for (std::int64_t i = 1; i <= std::min<std::int64_t>(naxis, 999); ++i)
        image.axes.push_back(
            CardInteger(image.cards, "NAXIS" + detail::DecimalText(i)).value_or(0));

    // A header that names no size cannot be read as an image.
    if (image.height == 0) {
        image.errorText = read.missingMessage("NAXIS2");
        read.refuse();
    } else if (image.width == 0) {
        image.errorText = read.missingMessage("NAXIS1");
        read.refuse();
    }
    return read.info;
}

namespace {

// Whether a stream that cannot tell its length (a gzip stream) holds `bytes` more bytes from
// its current position, which is kept.
bool StreamReaches(std::istream& file, std::int64_t bytes) {
    const std::streampos here = file.tellg();
    file.seekg(static_cast<std::streamoff>(bytes - 1), std::ios::cur);
    char c = 0;
    if (file) file.read(&c, 1);
    const bool reached = file && file.gcount() == 1;
    file.clear();
    file.seekg(here);
    return reached;
}

// Reads the data of the header just read, from the current position of `file`.
void ReadFitsData(std::istream& file, ImageState& image, const FitsHeaderInfo& info,
                  const MessageWords& words) {
    image.dataMax = -1e100;
    image.dataMin = 1e100;
    image.zeroMayBeBlank = image.bitpix < 0 || info.blank != 0 || info.blank64.has_value();
    // NAXIS3 = 0 leaves the plane count at 1: the data are read as a single plane.
    if (image.planeCount < 1) image.planeCount = 1;
    image.currentPlane = std::max(1, std::min(image.currentPlane, image.planeCount));

    const int bytes = ValueBytes(image.bitpix);
    if (bytes == 0) {
        image.errorText =
            words.msgKeyword + " \"BITPIX = " + detail::DecimalText(image.bitpix) + "\" ?";
        image.height = 0;
        return;
    }

    // The size of the whole data array must be a byte count the file system can address.
    detail::PlaneLayout layout{image.height, image.width, bytes};
    std::int64_t pixelCount = 0, planeBytes = 0, allBytes = 0;
    if (!detail::MultiplyFits(layout.height, layout.width, pixelCount) ||
        !detail::MultiplyFits(pixelCount, bytes, planeBytes) ||
        !detail::MultiplyFits(planeBytes, image.planeCount, allBytes) ||
        allBytes > std::numeric_limits<std::int64_t>::max() - info.dataOffset) {
        image.errorText = words.msgKeyword + " \"NAXISn\" trop grand";
        image.height = 0;
        image.width = 0;
        return;
    }

    std::int64_t bytesInFile = detail::BytesLeft(file);
    const std::string size =
        detail::DecimalText(layout.width) + " x " + detail::DecimalText(layout.height);
    // A header alone shows nothing: there is no data to show.
    if (bytesInFile == 0 && allBytes > 0) {
        image.errorText = "Aucune donnée après l'en-tête (" + size + " annoncés)";
        image.height = 0;
        image.width = 0;
        return;
    }
    // A large plane of which the file holds less than half is damage, not an image.
    if (IsLargePlane(pixelCount, bytes) &&
        (bytesInFile >= 0 ? bytesInFile < planeBytes / 2 : !StreamReaches(file, planeBytes / 2))) {
        image.errorText = detail::DamagedPlaneMessage(layout.width, layout.height, planeBytes);
        image.height = 0;
        image.width = 0;
        return;
    }
    const std::string tooLarge = ImageSizeRefusal(layout.width, layout.height, bytes);
    if (!tooLarge.empty()) {
        image.errorText = tooLarge;
        image.height = 0;
        image.width = 0;
        return;
    }
    if (bytesInFile >= 0 && bytesInFile < allBytes) image.missingBytes = allBytes - bytesInFile;

    // Move to the plane. What lies beyond the end of the file is not read but counted.
    const std::int64_t skip = planeBytes * (image.currentPlane - 1);
    if (bytesInFile >= 0 && skip >= bytesInFile) {
        bytesInFile = 0;
    } else if (skip > 0) {
        file.seekg(static_cast<std::streamoff>(skip), std::ios::cur);
        if (!file) ThrowIoError(EIO);
        if (bytesInFile >= 0) bytesInFile -= skip;
    }

    PlaneStats stats;
    try {
        stats = ReadPlaneOfKind(file, bytesInFile, layout, image, info);
    } catch (const std::bad_alloc&) {
        ResetImageArrays(image);
        image.errorText = ImageSizeRefusal(layout.width, layout.height, bytes, true);
        image.height = 0;
        image.width = 0;
        return;
    }
    // A stream that cannot tell its length says so by ending early.
    if (bytesInFile < 0 && stats.valuesRead < pixelCount) {
        if (stats.valuesRead == 0 && skip == 0) {
            ResetImageArrays(image);
            image.errorText = "Aucune donnée après l'en-tête (" + size + " annoncés)";
            image.height = 0;
            image.width = 0;
            return;
        }
        image.missingBytes = allBytes - (skip + stats.valuesRead * bytes);
    }
    image.dataMin = stats.dataMin;
    image.dataMax = stats.dataMax;
    stats.accumulator().finish(image.mean, image.sigma);
}

}  // namespace

void ReadFitsImage(std::istream& file, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                   const MessageWords& words) {
    FitsHeaderInfo info = ReadFitsHeader(file, image, wcs, zoom, words);
    if (image.height > 0) return ReadFitsData(file, image, info, words);
    // An empty primary array: the image may be in an extension.
    std::unique_ptr<std::istream> owned;
    if (std::istream* data =
            detail::OpenImageExtension(file, image, wcs, zoom, words, info, owned)) {
        try {
            ReadFitsData(*data, image, info, words);
        } catch (const detail::TileValuesFailure& failure) {
            ResetImageArrays(image);
            image.errorText = failure.what();
            image.height = 0;
            image.width = 0;
        }
    }
}

void ReadFitsImage(const std::string& fileName, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                   const MessageWords& words) {
    if (detail::IsGzipFitsName(fileName))
        return detail::ReadGzipFits(fileName, image, wcs, zoom, words);
    std::ifstream file = detail::OpenForReading(fileName);
    ReadFitsImage(file, image, wcs, zoom, words);
}

}  // namespace pelorin
