// Where the image of a FITS file lies when it is not the primary data array, and the sources
// the FITS reader reads besides a plain file: a gzip stream inflated while it is read, and the
// tiles of a compressed image, decompressed into memory by a helper program.
//
// Not part of the public interface of the image module: include Readers.h instead.
#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/ImageModel.h"
#include "image/Readers.h"

namespace pelorin::detail {

// ---- Header data units ----

// Bytes of the data unit a header describes (BITPIX, NAXIS, NAXISn, PCOUNT, GCOUNT), not
// rounded to blocks; -1 when the numbers are missing, negative or their product overflows.
std::int64_t DataUnitBytes(const HeaderCards& cards);

// Whether a primary header describes no two-dimensional image (NAXIS below 2, or a side of 0).
bool PrimaryHasNoImage(const HeaderCards& cards);

// However hostile a file, the walk over its HDUs ends: no header may run over this many
// blocks, no walk over this many HDUs nor, all headers together, this many header blocks.
inline constexpr std::int64_t kMaxHeaderBlocks = 1000;
inline constexpr int kMaxHdus = 1000;
inline constexpr std::int64_t kMaxWalkedHeaderBlocks = 10000;

// The image HDU that is shown when the primary holds none: the first extension after it that
// is an IMAGE with NAXIS >= 2 or a tile-compressed image (a binary table with ZIMAGE = T).
struct ImageExtension {
    HeaderCards primary;         // the primary header
    HeaderCards header;          // the extension's own header
    int hdu = 0;                 // 0 for the primary, 1 for the first extension...
    std::int64_t dataStart = 0;  // byte position of its data unit
    std::int64_t dataBytes = 0;  // size of that data unit
    std::int64_t scanned = 0;    // how far the walk went
    bool tileCompressed = false;
};

// Walks the HDUs of `in` from byte 0. A primary with an image is the answer itself (hdu 0);
// otherwise each data unit is skipped by its size, up to the first image extension. Stops at
// the end of the stream, at a header without END within its block limit, at a size that
// overflows or runs past the end of the stream (when that can be told). False when no image
// was found; `scanned` then says how far the walk read.
bool LocateImage(std::istream& in, ImageExtension& found);

// For the FITS reader, after the primary header of `file` was refused: when the primary holds
// no image and an image extension follows, reads that extension's header (with what it
// inherits) into image, wcs, zoom and info and returns the stream positioned at its data,
// which is `file` itself or, for compressed tiles, a stream kept in `owned`. Otherwise leaves
// the refusal as it was and returns null.
std::istream* OpenImageExtension(std::istream& file, ImageState& image, WcsInfo& wcs,
                                 ZoomWindow& zoom, const MessageWords& words, FitsHeaderInfo& info,
                                 std::unique_ptr<std::istream>& owned);

// For the header listing, with `text` the listed primary header: when it holds no image and
// an image extension follows, puts that extension's header first, then the separator and
// the primary header, each up to its END card.
void PutExtensionListingFirst(std::istream& file, HeaderText& text);

// Reads and lists gzip-compressed FITS files, for the entry points that take a path.
void ReadGzipFits(const std::string& path, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                  const MessageWords& words);
bool ListGzipFits(const std::string& path, HeaderText& text, std::string& errorText,
                  const MessageWords& words);

// The header the reader applies for an extension: its own cards, then, with INHERIT = T, the
// primary's cards for the keywords it lacks (structural ones aside), then END, in blocks.
std::string MergedHeader(const ImageExtension& ext);

// The line between the primary header and the extension header in a header listing.
extern const char* const kExtensionSeparator;

// ---- gzip ----

// Whether the name ends in .fit.gz, .fits.gz or .fts.gz, in any case.
bool IsGzipFitsName(const std::string& path);
// The name without ".gz" when IsGzipFitsName, else the name itself.
std::string WithoutGzipSuffix(const std::string& path);

// A gzip file read as the bytes it holds, inflated piece by piece as the reader asks for them:
// only a small buffer is ever held, and `limit` caps how many bytes may be produced at all.
// Forward seeks inflate and drop; backward seeks start again from the top. A stream that is
// not gzip, damaged or cut short ends the bytes early and reports corrupt().
class GzipInput : public std::istream {
  public:
    explicit GzipInput(const std::string& path);
    ~GzipInput() override;
    bool corrupt() const;
    void setLimit(std::int64_t limit);

  private:
    class Buffer;
    std::unique_ptr<Buffer> buffer_;
};

// The message for a gzip stream that could not be inflated.
extern const char* const kGzipCorrupt;

// ---- Tile-compressed images ----

// Decompresses the tile-compressed image `ext` of `in` (the whole file from byte 0) after
// checking its header and its tile table, in the helper program pelorin-fitsdecomp. On
// success `values` reads the image's stored values in FITS byte order as the helper sends
// them, and the result is empty; otherwise the result is the message. Reading `values` throws
// TileValuesFailure when the helper fails midway. A helper that cannot be found or started
// raises OperationError: that is no fault of the file.
std::string DecompressTiles(std::istream& in, const ImageExtension& ext,
                            std::unique_ptr<std::istream>& values);
struct TileValuesFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The header of the image a compressed table holds, made from the table's header as the tile
// compression convention says: XTENSION, BITPIX, NAXIS, NAXISn, PCOUNT and GCOUNT from their
// Z-keywords, BLANK from ZBLANK for integers, the table's own keywords and those of the
// compression left out, every other card (scaling, world coordinates...) kept in its order.
HeaderCards ImageCardsFromTable(const HeaderCards& table);

}  // namespace pelorin::detail
