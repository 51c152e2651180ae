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
#include <limits>
#include <vector>

#include "image/Errors.h"
#include "image/ReaderSupport.h"
#include "image/Readers.h"
#include "image/TextEncoding.h"
#include "sky/NumberText.h"
#include "sky/SkyLib.h"

namespace pelorin {

namespace {

constexpr std::int64_t kBlockSize = 2880;
constexpr int kCardSize = 80;
constexpr int kCardsPerBlock = 36;

std::int32_t IntegerValue(std::string_view value) {
    std::int32_t v = 0;
    if (!TryParseInteger(value, v)) ThrowInvalidInteger(Windows1252ToUtf8(value));
    return v;
}

long double ExtendedValue(std::string_view value) {
    long double v = 0;
    if (!TryParseReal(value, v)) ThrowInvalidFloat(Windows1252ToUtf8(value));
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
    bool apply(std::string_view card) {
        const detail::CardParts parts = detail::SplitCard(card);
        const std::string_view key = parts.keyword;
        const std::string_view value = parts.value;
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
        } else if (key == "CTYPE1") {
            wcs.ctype1 = std::string(value);
        } else if (key == "CTYPE2") {
            wcs.ctype2 = std::string(value);
        } else if (key == "CRPIX1") {
            wcs.crpix1 = RealValue(value);
        } else if (key == "CRPIX2") {
            wcs.crpix2 = RealValue(value);
        } else if (key == "CRVAL1") {
            wcs.crval1 = RealValue(value);
        } else if (key == "CRVAL2") {
            wcs.crval2 = RealValue(value);
        } else if (key == "CDELT1") {
            wcs.cdelt1 = RealValue(value);
            wcs.hasCdelt = true;
        } else if (key == "CDELT2") {
            wcs.cdelt2 = RealValue(value);
            wcs.hasCdelt = true;
        } else if (key == "CROTA1") {
            wcs.crota1 = RealValue(value);
        } else if (key == "CROTA2") {
            wcs.crota2 = RealValue(value);
            wcs.hasCdelt = true;
        } else if (key == "CD1_1" || key == "CD1_2" || key == "CD2_1" || key == "CD2_2") {
            const double v = RealValue(value);
            (key == "CD1_1"   ? wcs.cd1_1
             : key == "CD1_2" ? wcs.cd1_2
             : key == "CD2_1" ? wcs.cd2_1
                              : wcs.cd2_2) = v;
            wcs.hasCd = true;
        } else if (key == "PC001001" || key == "PC001002" || key == "PC002001" ||
                   key == "PC002002") {
            const double v = RealValue(value);
            (key == "PC001001"   ? wcs.pc1_1
             : key == "PC001002" ? wcs.pc1_2
             : key == "PC002001" ? wcs.pc2_1
                                 : wcs.pc2_2) = v;
            wcs.hasPc = true;
        } else if (key == "EPOCH" || key == "EQUINOX") {
            // 'J2000' and 'B1950' are strings; characters 3 to 6 catch them along with the
            // plain numbers of the same years.
            const std::string_view year = value.size() >= 6 ? value.substr(2, 4) : "";
            if (year == "2000")
                wcs.equinox = 2000;
            else if (year == "1950")
                wcs.equinox = 1950;
            else
                wcs.equinox = RealValue(value);
        } else if (key == "RADECSYS") {
            wcs.radecsys = std::string(value);
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
    wcs.ctype1.clear();
    wcs.ctype2.clear();
    wcs.crpix1 = wcs.crpix2 = 0;
    wcs.crval1 = wcs.crval2 = 0;
    wcs.cdelt1 = wcs.cdelt2 = 0;
    wcs.crota1 = wcs.crota2 = 0;
    wcs.cd1_1 = wcs.cd1_2 = wcs.cd2_1 = wcs.cd2_2 = 0;
    wcs.pc1_1 = 1;
    wcs.pc1_2 = 0;
    wcs.pc2_1 = 0;
    wcs.pc2_2 = 1;
    wcs.hasCdelt = wcs.hasCd = wcs.hasPc = false;
    wcs.equinox = 0;
    wcs.radecsys.clear();
}

int ValueBytes(int bitpix) {
    switch (bitpix) {
        case 8:
            return 1;
        case 16:
            return 2;
        case 32:
        case -32:
            return 4;
        case -64:
            return 8;
        default:
            return 0;
    }
}

// Physical value bscale * v + bzero, worked out in extended precision and held as a double.
struct Scaling {
    long double bscale;
    long double bzero;
    bool identity() const { return bscale == 1.0L && bzero == 0.0L; }
    double operator()(double v) const {
        return static_cast<double>(bscale * static_cast<long double>(v) + bzero);
    }
};

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

void ReadPlaneOfKind(std::istream& file, std::int64_t bytesInFile, const detail::PlaneLayout& g,
                     ImageState& image, double blank, detail::PlaneStats& stats) {
    const Scaling scale{image.bscale, image.bzero};
    const double missing = scale(0.0);
    const int rows = static_cast<int>(std::min<std::int64_t>(g.height, kMaxImageSide));
    const int cols = static_cast<int>(std::min<std::int64_t>(g.width, kMaxImageSide));
    switch (image.bitpix) {
        case 8: {
            image.pixels8.resize(rows, cols);
            const std::vector<double> table =
                PhysicalTable<std::uint8_t, std::uint8_t>(scale, blank);
            const double* phys = table.data();
            detail::ReadPlane(
                file, bytesInFile, g, image.pixels8,
                [phys, blank](const std::uint8_t* p, std::uint8_t& s) {
                    s = static_cast<double>(*p) == blank ? 0 : *p;
                    return phys[*p];
                },
                missing, stats);
            break;
        }
        case 16: {
            image.pixels16.resize(rows, cols);
            const std::vector<double> table =
                PhysicalTable<std::int16_t, std::uint16_t>(scale, blank);
            const double* phys = table.data();
            detail::ReadPlane(
                file, bytesInFile, g, image.pixels16,
                [phys, blank](const std::uint8_t* p, std::int16_t& s) {
                    const std::int16_t raw = BigEndian16(p);
                    s = static_cast<double>(raw) == blank ? std::int16_t{0} : raw;
                    return phys[static_cast<std::uint16_t>(raw)];
                },
                missing, stats);
            break;
        }
        case 32: {
            image.pixels32.resize(rows, cols);
            auto stored = [blank](const std::uint8_t* p) {
                const std::int32_t raw = BigEndian32(p);
                return static_cast<double>(raw) == blank ? 0 : raw;
            };
            if (scale.identity())
                detail::ReadPlane(
                    file, bytesInFile, g, image.pixels32,
                    [stored](const std::uint8_t* p, std::int32_t& s) {
                        s = stored(p);
                        return static_cast<double>(s);
                    },
                    missing, stats);
            else
                detail::ReadPlane(
                    file, bytesInFile, g, image.pixels32,
                    [stored, scale](const std::uint8_t* p, std::int32_t& s) {
                        s = stored(p);
                        return scale(s);
                    },
                    missing, stats);
            break;
        }
        case -32: {
            image.pixelsR32.resize(rows, cols);
            auto stored = [blank](const std::uint8_t* p) {
                const float v = RealBigEndian32(p);
                return static_cast<double>(v) == blank ? 0.0f : v;
            };
            // Adding +0 turns a stored -0 into the +0 the scaling would give.
            if (scale.identity())
                detail::ReadPlane(
                    file, bytesInFile, g, image.pixelsR32,
                    [stored](const std::uint8_t* p, float& s) {
                        s = stored(p);
                        return static_cast<double>(s) + 0.0;
                    },
                    missing, stats);
            else
                detail::ReadPlane(
                    file, bytesInFile, g, image.pixelsR32,
                    [stored, scale](const std::uint8_t* p, float& s) {
                        s = stored(p);
                        return scale(s);
                    },
                    missing, stats);
            break;
        }
        case -64: {
            image.pixelsR64.resize(rows, cols);
            auto stored = [blank](const std::uint8_t* p) {
                const double v = RealBigEndian64(p);
                return v == blank ? 0.0 : v;
            };
            if (scale.identity())
                detail::ReadPlane(
                    file, bytesInFile, g, image.pixelsR64,
                    [stored](const std::uint8_t* p, double& s) {
                        s = stored(p);
                        return s + 0.0;
                    },
                    missing, stats);
            else
                detail::ReadPlane(
                    file, bytesInFile, g, image.pixelsR64,
                    [stored, scale](const std::uint8_t* p, double& s) {
                        s = stored(p);
                        return scale(s);
                    },
                    missing, stats);
            break;
        }
        default:
            break;
    }
}

}  // namespace

FitsHeaderInfo ReadFitsHeader(std::istream& file, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                              const MessageWords& words) {
    ResetHeaderValues(image, wcs);
    HeaderRead read{image, wcs, words, {}, false};

    std::array<std::uint8_t, kBlockSize> block;
    std::int64_t blocks = 0;
    for (;;) {
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
            if (!read.apply(std::string_view(text + i * kCardSize, kCardSize))) {
                read.refuse();
                return read.info;
            }
        }
        if (image.bitpix == 0) return read.info;
        if (read.end) break;
    }

    if (wcs.hasCdelt && wcs.cdelt1 > 0) zoom.flipHorizontal = true;
    if (wcs.hasCdelt && wcs.cdelt2 < 0) zoom.flipVertical = true;
    if (wcs.radecsys.empty()) wcs.radecsys = "'FK4'";
    if (wcs.equinox == 0)
        wcs.equinox =
            wcs.radecsys.size() >= 4 && wcs.radecsys.compare(1, 3, "FK4") == 0 ? 1950 : 2000;

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

void ReadFitsImage(std::istream& file, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                   const MessageWords& words) {
    const FitsHeaderInfo info = ReadFitsHeader(file, image, wcs, zoom, words);
    if (image.height == 0) return;

    image.dataMax = -1e100;
    image.dataMin = 1e100;
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

    // Move to the plane. What lies beyond the end of the file is not read but counted.
    const std::int64_t skip = planeBytes * (image.currentPlane - 1);
    std::int64_t bytesInFile = detail::BytesLeft(file);
    if (bytesInFile >= 0 && skip >= bytesInFile) {
        bytesInFile = 0;
    } else if (skip > 0) {
        file.seekg(static_cast<std::streamoff>(skip), std::ios::cur);
        if (!file) ThrowIoError(EIO);
        if (bytesInFile >= 0) bytesInFile -= skip;
    }

    detail::PlaneStats stats;
    ReadPlaneOfKind(file, bytesInFile, layout, image, info.blank, stats);

    image.height = std::min(image.height, kMaxImageSide);
    image.width = std::min(image.width, kMaxImageSide);
    image.dataMin = stats.dataMin;
    image.dataMax = stats.dataMax;
    stats.accumulator().finish(image.mean, image.sigma);
}

void ReadFitsImage(const std::string& fileName, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                   const MessageWords& words) {
    std::ifstream file = detail::OpenForReading(fileName);
    ReadFitsImage(file, image, wcs, zoom, words);
}

}  // namespace pelorin
