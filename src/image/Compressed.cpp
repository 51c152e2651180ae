// Compressed FITS files: gzip streams inflated with zlib while the reader reads them, and
// tile-compressed images, decompressed by a helper program on cfitsio, given to the reader as
// an image header made from the table's header and the stored values as the helper sends them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "base/InstallPaths.h"
#include "base/Paths.h"
#include "image/FitsSources.h"
#include "image/ReaderSupport.h"

namespace pelorin::detail {

const char* const kGzipCorrupt = "Fichier gzip corrompu";

namespace {

constexpr std::size_t kChunk = 1 << 16;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

bool IsGzipFitsName(const std::string& path) {
    const std::string name = AsciiLower(BaseName(path));
    return EndsWith(name, ".fit.gz") || EndsWith(name, ".fits.gz") || EndsWith(name, ".fts.gz");
}

std::string WithoutGzipSuffix(const std::string& path) {
    return IsGzipFitsName(path) ? path.substr(0, path.size() - 3) : path;
}

// ---- GzipInput ----

class GzipInput::Buffer : public std::streambuf {
  public:
    explicit Buffer(const std::string& path) : file_(OpenForReading(path)) {
        if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) corrupt_ = true;
    }
    ~Buffer() override { inflateEnd(&z_); }

    bool corrupt() const { return corrupt_; }
    void setLimit(std::int64_t limit) { limit_ = limit; }

  protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        start_ += egptr() - eback();
        const std::size_t n = produce();
        setg(out_, out_, out_ + n);
        return n == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }

    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        const std::int64_t here = start_ + (gptr() - eback());
        if (dir == std::ios_base::cur) return seekTo(here + off);
        if (dir == std::ios_base::beg) return seekTo(off);
        return pos_type(off_type(-1));  // the end is not known without inflating it all
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
        return seekTo(static_cast<std::int64_t>(pos));
    }

  private:
    pos_type seekTo(std::int64_t target) {
        if (target < 0) return pos_type(off_type(-1));
        if (target < start_) restart();
        for (;;) {
            const std::int64_t end = start_ + (egptr() - eback());
            if (target <= end) {
                setg(eback(), eback() + (target - start_), egptr());
                return pos_type(target);
            }
            start_ = end;
            const std::size_t n = produce();
            setg(out_, out_, out_ + n);
            if (n == 0) {
                // Beyond the end, as a file allows: reads there find nothing.
                start_ = target;
                setg(out_, out_, out_);
                return pos_type(target);
            }
        }
    }

    void restart() {
        file_.clear();
        file_.seekg(0);
        inflateReset(&z_);
        z_.avail_in = 0;
        produced_ = 0;
        start_ = 0;
        finished_ = false;
        setg(out_, out_, out_);
    }

    // Inflates the next piece into out_, at most up to the limit; 0 at the end.
    std::size_t produce() {
        if (finished_ || corrupt_ || produced_ >= limit_) return 0;
        const std::size_t room = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(kChunk), limit_ - produced_));
        z_.next_out = reinterpret_cast<Bytef*>(out_);
        z_.avail_out = static_cast<uInt>(room);
        while (z_.avail_out == room) {
            if (z_.avail_in == 0) {
                file_.read(in_, kChunk);
                const auto got = file_.gcount();
                if (got <= 0) {
                    // The compressed data end inside a member.
                    corrupt_ = true;
                    break;
                }
                z_.next_in = reinterpret_cast<Bytef*>(in_);
                z_.avail_in = static_cast<uInt>(got);
            }
            const int r = inflate(&z_, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                // gzip allows members one after the other, and zeros after the last one
                // (tape blocks): a member begins with 0x1F, never with 0.
                const int next = z_.avail_in > 0 ? *z_.next_in : file_.peek();
                if (next == std::char_traits<char>::eof() || next == 0) {
                    finished_ = true;
                    break;
                }
                inflateReset(&z_);
            } else if (r != Z_OK && r != Z_BUF_ERROR) {
                corrupt_ = true;
                break;
            }
        }
        const std::size_t n = room - z_.avail_out;
        produced_ += static_cast<std::int64_t>(n);
        return n;
    }

    std::ifstream file_;
    z_stream z_{};
    char in_[kChunk];
    char out_[kChunk];
    std::int64_t start_ = 0;     // stream position of out_[0]
    std::int64_t produced_ = 0;  // bytes inflated since the top
    std::int64_t limit_ = std::numeric_limits<std::int64_t>::max();
    bool finished_ = false;
    bool corrupt_ = false;
};

GzipInput::GzipInput(const std::string& path)
    : std::istream(nullptr), buffer_(std::make_unique<Buffer>(path)) {
    rdbuf(buffer_.get());
}
GzipInput::~GzipInput() = default;
bool GzipInput::corrupt() const {
    return buffer_->corrupt();
}
void GzipInput::setLimit(std::int64_t limit) {
    buffer_->setLimit(limit);
}

namespace {

// A large image must be in proportion with the compressed bytes that hold it: deflate packs
// at most 1032 bytes into one, and no real sky packs tighter, so a few kilobytes claiming
// what costs hundreds of megabytes to show are refused rather than inflated. `cost` is
// what the image costs once shown.
constexpr long double kMaxCompressionRatio = 1024;

bool OverCompressed(long double cost, std::int64_t compressedBytes) {
    return cost > kLargePlaneBytes && cost > kMaxCompressionRatio * compressedBytes;
}

std::string OverCompressedMessage(std::int64_t imageBytes, std::int64_t compressedBytes) {
    return "Image compressée illisible (taille " + DecimalText(imageBytes) + " octets pour " +
           DecimalText(compressedBytes) + " octets compressés)";
}

}  // namespace

void ReadGzipFits(const std::string& path, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                  const MessageWords& words) {
    GzipInput in(path);
    // A first walk over the headers says how far the reader may go; nothing beyond that is
    // ever inflated, however far the stream would run.
    ImageExtension where;
    const bool found = LocateImage(in, where);
    std::error_code ec;
    const auto fileBytes = static_cast<std::int64_t>(std::filesystem::file_size(path, ec));
    if (found && !where.tileCompressed && !ec) {
        const HeaderCards& h = where.hdu == 0 ? where.primary : where.header;
        const int valueBytes = static_cast<int>(std::abs(CardInteger(h, "BITPIX").value_or(0)) / 8);
        const std::int64_t cols = CardInteger(h, "NAXIS1").value_or(0);
        const std::int64_t rows = CardInteger(h, "NAXIS2").value_or(0);
        std::int64_t pixels = 0, planeBytes = 0;
        if (valueBytes > 0 && cols > 0 && rows > 0 && MultiplyFits(cols, rows, pixels) &&
            MultiplyFits(pixels, valueBytes, planeBytes) &&
            OverCompressed(PlaneMemory(pixels, valueBytes), fileBytes)) {
            StartNewImage(image);
            image.errorText = OverCompressedMessage(planeBytes, fileBytes);
            return;
        }
    }
    std::int64_t limit = where.scanned;
    if (found && where.dataBytes <= std::numeric_limits<std::int64_t>::max() - where.dataStart)
        limit = where.dataStart + where.dataBytes;
    in.clear();
    in.seekg(0);
    in.setLimit(limit);
    ReadFitsImage(in, image, wcs, zoom, words);
    // The check sum ends the stream: a little past what was read, so that damage is seen
    // without inflating what follows the image in a larger file.
    constexpr std::int64_t kTrailerReach = 1 << 20;
    if (limit < std::numeric_limits<std::int64_t>::max() - kTrailerReach) {
        in.setLimit(limit + kTrailerReach);
        in.clear();
        in.seekg(static_cast<std::streamoff>(limit + kTrailerReach));
    }
    if (in.corrupt()) {
        image.height = 0;
        image.width = 0;
        image.errorText = kGzipCorrupt;
    }
}

bool ListGzipFits(const std::string& path, HeaderText& text, std::string& errorText,
                  const MessageWords& words) {
    GzipInput in(path);
    ImageExtension where;
    LocateImage(in, where);
    std::int64_t limit = where.scanned;
    if (where.hdu > 0) limit = where.dataStart;
    in.clear();
    in.seekg(0);
    in.setLimit(std::max<std::int64_t>(limit, 2880));
    const bool listed = ListFitsHeader(in, text, errorText, words);
    if (in.corrupt()) {
        errorText = kGzipCorrupt;
        return false;
    }
    return listed;
}

// ---- Tile-compressed images ----

namespace {

// The decompressed image, all its planes, is no larger than this: the helper decompresses
// all of them, and the reader holds the plane shown (which must also fit in memory).
constexpr std::int64_t kMaxImageBytes = std::int64_t{1} << 31;
// Nor may the compressed table be.
constexpr std::int64_t kMaxTableBytes = std::int64_t{1} << 30;
// The helper sends the values in bands of about this many bytes.
constexpr std::int64_t kHelperBandBytes = std::int64_t{4} << 20;

// What a tile-compressed image claims: its bytes, those of its largest tile, and the bytes
// of one value.
struct TileClaim {
    std::int64_t imageBytes = 0;
    std::int64_t tileBytes = 0;
    int valueBytes = 0;
};

// The header must describe an image cfitsio can rebuild within the limits, from a table
// that the data unit holds whole: checked here, since cfitsio trusts what it is given.
std::string CheckTileHeader(const ImageExtension& ext, TileClaim& claim) {
    const HeaderCards& c = ext.header;
    const std::string tooLarge = "Mot clé \"ZNAXISn\" trop grand";
    const auto zbitpix = CardInteger(c, "ZBITPIX");
    const auto znaxis = CardInteger(c, "ZNAXIS");
    if (!zbitpix || (*zbitpix != 8 && *zbitpix != 16 && *zbitpix != 32 && *zbitpix != 64 &&
                     *zbitpix != -32 && *zbitpix != -64))
        return "Mot clé \"ZBITPIX\" ?";
    if (!znaxis || *znaxis < 2 || *znaxis > 999) return "Mot clé \"ZNAXIS\" ?";
    std::int64_t pixels = 1, tiles = 1, tilePixels = 1;
    std::string size;  // "W x H", planes after
    for (int i = 1; i <= *znaxis; ++i) {
        const auto n = CardInteger(c, "ZNAXIS" + DecimalText(i));
        if (!n || *n < 1) return "Mot clé \"ZNAXIS" + DecimalText(i) + "\" ?";
        const auto tile = CardInteger(c, "ZTILE" + DecimalText(i)).value_or(i == 1 ? *n : 1);
        // A tile larger than the image would only make cfitsio allocate for it.
        if (tile < 1 || tile > *n) return "Mot clé \"ZTILE" + DecimalText(i) + "\" ?";
        size += (i > 1 ? " x " : "") + DecimalText(*n);
        if (!MultiplyFits(pixels, *n, pixels) ||
            !MultiplyFits(tiles, (*n + tile - 1) / tile, tiles) ||
            !MultiplyFits(tilePixels, tile, tilePixels))
            return tooLarge;
    }
    claim.valueBytes = static_cast<int>(std::abs(*zbitpix) / 8);
    if (!MultiplyFits(pixels, claim.valueBytes, claim.imageBytes)) return tooLarge;
    if (claim.imageBytes > kMaxImageBytes)
        return "Image trop grande : " + size + " pixels (" + DecimalText(claim.imageBytes) +
               " octets, au plus " + DecimalText(kMaxImageBytes) + ")";
    claim.tileBytes = tilePixels * claim.valueBytes;
    // One table row per tile.
    if (CardInteger(c, "NAXIS2").value_or(-1) != tiles) return "Mot clé \"NAXIS2\" ?";
    if (ext.dataBytes > kMaxTableBytes || ext.dataStart > kMaxTableBytes) return tooLarge;
    return {};
}

}  // namespace

// ---- The image header of a compressed table ----

namespace {

// `card` under another keyword, its value and comment kept.
std::string Renamed(std::string_view card, std::string_view keyword) {
    std::string out(keyword);
    out.resize(8, ' ');
    const std::size_t eq = card.find('=');
    if (eq != std::string_view::npos) out += card.substr(eq);
    out.resize(80, ' ');
    return out;
}

// Whether `key` is `root` followed by a number (TTYPE1, ZTILE12).
bool IsNumbered(std::string_view key, std::string_view root) {
    if (key.size() <= root.size() || key.substr(0, root.size()) != root) return false;
    return std::all_of(key.begin() + static_cast<std::ptrdiff_t>(root.size()), key.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Keywords that describe the table or its compression rather than the image.
bool IsTableKeyword(std::string_view key) {
    static constexpr std::string_view kOwn[] = {
        "XTENSION", "BITPIX",   "NAXIS",    "PCOUNT",   "GCOUNT",  "TFIELDS",  "THEAP",
        "CHECKSUM", "DATASUM",  "ZIMAGE",   "ZCMPTYPE", "ZBITPIX", "ZNAXIS",   "ZMASKCMP",
        "ZQUANTIZ", "ZDITHER0", "ZSIMPLE",  "ZTENSION", "ZEXTEND", "ZBLOCKED", "ZPCOUNT",
        "ZGCOUNT",  "ZHECKSUM", "ZDATASUM", "ZBLANK",   "ZSCALE",  "ZZERO"};
    static constexpr std::string_view kNumbered[] = {"NAXIS", "ZNAXIS", "ZTILE", "ZNAME", "ZVAL",
                                                     "TTYPE", "TFORM",  "TUNIT", "TNULL", "TSCAL",
                                                     "TZERO", "TDISP",  "TDIM",  "TBCOL"};
    return std::find(std::begin(kOwn), std::end(kOwn), key) != std::end(kOwn) ||
           std::any_of(std::begin(kNumbered), std::end(kNumbered),
                       [&](std::string_view root) { return IsNumbered(key, root); });
}

}  // namespace

HeaderCards ImageCardsFromTable(const HeaderCards& table) {
    auto renamed = [](const HeaderCard& card, std::string_view keyword) {
        return ParseCard(Renamed(card.text, keyword));
    };
    HeaderCards image;
    const HeaderCard* tension = FindCard(table, "ZTENSION");
    image.push_back(tension ? renamed(*tension, "XTENSION") : ParseCard("XTENSION= 'IMAGE   '"));
    if (const HeaderCard* c = FindCard(table, "ZBITPIX")) image.push_back(renamed(*c, "BITPIX"));
    const auto axes = CardInteger(table, "ZNAXIS");
    if (const HeaderCard* c = FindCard(table, "ZNAXIS")) image.push_back(renamed(*c, "NAXIS"));
    for (std::int64_t i = 1; axes && i <= *axes && i <= 999; ++i)
        if (const HeaderCard* c = FindCard(table, "ZNAXIS" + DecimalText(i)))
            image.push_back(renamed(*c, "NAXIS" + DecimalText(i)));
    const HeaderCard* pcount = FindCard(table, "ZPCOUNT");
    const HeaderCard* gcount = FindCard(table, "ZGCOUNT");
    image.push_back(pcount ? renamed(*pcount, "PCOUNT")
                           : ParseCard("PCOUNT  =                    0"));
    image.push_back(gcount ? renamed(*gcount, "GCOUNT")
                           : ParseCard("GCOUNT  =                    1"));
    for (const HeaderCard& c : table) {
        if (IsTableKeyword(c.keyword)) continue;
        // The name cfitsio gives every compressed table, not the image's.
        if (c.keyword == "EXTNAME" && c.value.starts_with("'COMPRESSED_IMAGE")) continue;
        image.push_back(c);
    }
    // An integer image keeps its undefined value; for reals it only marked undefined values
    // in the quantised tiles, which come back as NaN.
    const HeaderCard* zblank = FindCard(table, "ZBLANK");
    if (zblank && CardInteger(table, "ZBITPIX").value_or(0) > 0 && !FindCard(table, "BLANK"))
        image.push_back(renamed(*zblank, "BLANK"));
    return image;
}

namespace {

// Bytes of one element of a binary-table column type code; 0 for an unknown code.
std::int64_t ElementBytes(char code) {
    switch (code) {
        case 'L':
        case 'B':
        case 'A':
        case 'X':
            return 1;
        case 'I':
            return 2;
        case 'J':
        case 'E':
            return 4;
        case 'K':
        case 'D':
        case 'C':
        case 'P':
            return 8;
        case 'M':
        case 'Q':
            return 16;
        default:
            return 0;
    }
}

// cfitsio allocates for each tile what the table's array descriptors claim and decompresses
// whatever they point at: every descriptor must point inside the heap that the data unit
// holds, the row layout must fit NAXIS1, and together they may claim no more than the heap
// holds (descriptors sharing one area would make a small file cost its claimed area once per
// tile). A large image must also be in proportion with its compressed bytes, as a gzip
// file's: Rice packs less than deflate. PLIO and HCOMPRESS can pack an empty mask or a flat
// image tighter, but such an image of that size tells nothing worth its memory: the same
// bound holds for them, so that the size of the file bounds what any image costs.
std::string CheckDescriptors(const ImageExtension& ext, const std::vector<char>& file,
                             const TileClaim& claim) {
    const std::string bad = "Image compressée illisible (table des tuiles)";
    const HeaderCards& c = ext.header;
    const std::int64_t rowBytes = CardInteger(c, "NAXIS1").value_or(-1);
    const std::int64_t rows = CardInteger(c, "NAXIS2").value_or(-1);
    const std::int64_t fields = CardInteger(c, "TFIELDS").value_or(-1);
    std::int64_t tableBytes = 0;
    if (rowBytes < 0 || rows < 0 || fields < 0 || fields > 999 ||
        !MultiplyFits(rowBytes, rows, tableBytes) || tableBytes > ext.dataBytes)
        return bad;
    const std::int64_t heapStart = CardInteger(c, "THEAP").value_or(tableBytes);
    const std::int64_t heapEnd = ext.dataBytes;
    if (heapStart < tableBytes || heapStart > heapEnd) return bad;
    struct Column {
        std::int64_t offset;
        bool wide;  // Q: 64-bit descriptors
        std::int64_t elementBytes;
    };
    std::vector<Column> arrays;
    std::int64_t offset = 0;
    for (int i = 1; i <= fields; ++i) {
        const HeaderCard* formCard = FindCard(c, "TFORM" + DecimalText(i));
        std::string form = formCard ? formCard->value : std::string();
        std::erase(form, '\'');
        std::size_t at = 0;
        std::int64_t repeat = 0;
        while (at < form.size() && form[at] >= '0' && form[at] <= '9' && repeat < 1000000)
            repeat = repeat * 10 + (form[at++] - '0');
        if (at == 0) repeat = 1;
        if (at >= form.size()) return bad;
        const char code = form[at];
        std::int64_t width = ElementBytes(code);
        if (width == 0) return bad;
        if (code == 'X') {  // bits, in whole bytes
            repeat = (repeat + 7) / 8;
            width = 1;
        }
        if (code == 'P' || code == 'Q') {
            if (at + 1 >= form.size() || ElementBytes(form[at + 1]) == 0) return bad;
            const std::int64_t element = form[at + 1] == 'X' ? 1 : ElementBytes(form[at + 1]);
            for (std::int64_t k = 0; k < repeat; ++k)
                arrays.push_back({offset + k * width, code == 'Q', element});
        }
        offset += repeat * width;
        if (offset > rowBytes) return bad;
    }
    const auto* table = reinterpret_cast<const std::uint8_t*>(file.data() + ext.dataStart);
    auto big = [](const std::uint8_t* b, int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | b[i];
        return v;
    };
    const auto room = static_cast<std::uint64_t>(heapEnd - heapStart);
    std::uint64_t claimed = 0;
    for (std::int64_t r = 0; r < rows; ++r)
        for (const Column& col : arrays) {
            const std::uint8_t* d = table + r * rowBytes + col.offset;
            const int half = col.wide ? 8 : 4;
            const std::uint64_t count = big(d, half);
            const std::uint64_t at = big(d + half, half);
            if (count > room / static_cast<std::uint64_t>(col.elementBytes) || at > room ||
                count * static_cast<std::uint64_t>(col.elementBytes) > room - at)
                return bad;
            claimed += count * static_cast<std::uint64_t>(col.elementBytes);
            if (claimed > room) return bad;
        }
    // What the image costs, in proportion with the compressed bytes: here what its display
    // takes, in the helper a few copies of its largest tile (cfitsio decompresses a tile
    // whole) or of the band of rows sent at a time.
    const std::int64_t pixels = claim.imageBytes / claim.valueBytes;
    const long double here = PlaneMemory(pixels, claim.valueBytes);
    const long double helper = 3.0L * std::max<std::int64_t>(claim.tileBytes, kHelperBandBytes);
    if (OverCompressed(std::max(here, helper), ext.dataBytes))
        return OverCompressedMessage(claim.imageBytes, ext.dataBytes);
    return {};
}

}  // namespace

namespace {

const char* const kHelperName = "pelorin-fitsdecomp";
const char* const kUnreadable = "Image compressée illisible";

// The helper is one of the program's companion files; it is never looked up in PATH.
std::string FindHelper() {
    for (const std::string& c : CompanionFileCandidates(kHelperName))
        if (access(c.c_str(), X_OK) == 0) return c;
    throw OperationError(std::string("Décompresseur d'images introuvable : ") + kHelperName);
}

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    int* out() { return &fd_; }

  private:
    int fd_ = -1;
};

// The helper's process, killed and reaped however the exchange ends.
class Child {
  public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            wait();
        }
    }
    // Ends the helper now if it still runs; the code it exited with, -1 if it was killed.
    int exitStatus() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGKILL);
        const int status = wait();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    int wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }
    pid_t pid_;
};

// The values of the image as the helper sends them, read as the reader asks for them, so
// that the image is held once, in the reader's arrays. The input file goes to the helper
// while its reply is awaited. The helper bounds its own memory and processor time; here,
// the wall-clock time is bounded too, so that nothing it does can hold the load. A helper
// that fails, faults, sends what it should not or runs out of time ends the reading with
// TileValuesFailure.
class HelperReply : public std::streambuf {
  public:
    HelperReply(int socket, pid_t pid, std::vector<char> input, std::int64_t imageBytes,
                std::chrono::steady_clock::time_point deadline)
        : socket_(socket),
          child_(pid),
          input_(std::move(input)),
          total_(imageBytes),
          deadline_(deadline) {}

    // Waits for the first frame: empty when values follow, else the helper's message. A helper
    // whose program could not be run ends the action.
    std::string start(const std::string& helper) {
        try {
            nextFrame();
            return {};
        } catch (const TileValuesFailure& failure) {
            if (child_.exitStatus() == 127)
                throw OperationError(std::string("Décompresseur d'images impossible à lancer (") +
                                     helper + ")");
            return failure.what();
        }
    }

  protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        if (pending_) {  // a seek past what was received: the bytes between are dropped
            std::int64_t skip = *pending_ - delivered_;
            pending_.reset();
            while (skip > 0) {
                const std::int64_t n = fill(skip);
                if (n == 0) return traits_type::eof();
                skip -= n;
            }
        }
        const std::int64_t n = fill(static_cast<std::int64_t>(sizeof buffer_));
        setg(buffer_, buffer_, buffer_ + n);
        return n == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
    }

    // The reader asks where it is, how far the end is, and to skip planes: positions are
    // counted from the first value; a seek forward is made when the reader reads again.
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        const std::int64_t base = dir == std::ios_base::beg   ? 0
                                  : dir == std::ios_base::cur ? (pending_ ? *pending_ : consumed())
                                                              : total_;
        return seekTo(base + off);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
        return seekTo(static_cast<std::int64_t>(static_cast<off_type>(pos)));
    }

  private:
    std::int64_t consumed() const {
        return delivered_ - (pending_ ? savedUnread_ : egptr() - gptr());
    }

    pos_type seekTo(std::int64_t target) {
        const std::int64_t here = consumed();
        if (target < here || target > total_) return pos_type(off_type(-1));
        if (pending_) {
            setg(eback(), egptr() - savedUnread_, egptr());
            pending_.reset();
        }
        if (target - here <= egptr() - gptr()) {
            gbump(static_cast<int>(target - here));
        } else {
            savedUnread_ = egptr() - gptr();
            pending_ = target;
            setg(eback(), egptr(), egptr());
        }
        return pos_type(off_type(target));
    }

    // Up to `most` values into the buffer, from the current frame or the next ones; 0 at
    // the end of the image.
    std::int64_t fill(std::int64_t most) {
        if (delivered_ == total_) return 0;
        while (frameLeft_ == 0)
            nextFrame();
        const std::int64_t n =
            std::min({most, frameLeft_, static_cast<std::int64_t>(sizeof buffer_)});
        receive(buffer_, n);
        frameLeft_ -= n;
        delivered_ += n;
        return n;
    }

    [[noreturn]] void fail(const std::string& message = kUnreadable) {
        throw TileValuesFailure(message);
    }

    void nextFrame() {
        char head[5];
        receive(head, sizeof head);
        std::int64_t length = 0;
        for (int i = 1; i < 5; ++i)
            length = (length << 8) | static_cast<unsigned char>(head[i]);
        if (head[0] == 'D' && length > 0 && length <= total_ - delivered_ - frameLeft_) {
            frameLeft_ = length;
            return;
        }
        if (head[0] != 'E' || length > 1000) fail();
        std::string message(static_cast<std::size_t>(length), '\0');
        receive(message.data(), length);
        fail(message);
    }

    // Exactly `count` bytes of the reply, sending the input as the helper takes it.
    void receive(char* into, std::int64_t count) {
        std::int64_t got = 0;
        while (got < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline_ - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) fail();
            const bool sending = sent_ < input_.size();
            pollfd p{socket_.get(), static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
            const int ready = poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, 1000)));
            if (ready < 0 && errno != EINTR) fail();
            if (ready <= 0) continue;
            if (sending && (p.revents & POLLOUT)) {
                const ssize_t n = send(socket_.get(), input_.data() + sent_, input_.size() - sent_,
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) sent_ += static_cast<std::size_t>(n);
                if (n < 0 && errno != EAGAIN && errno != EINTR) sent_ = input_.size();
                if (sent_ == input_.size()) std::vector<char>().swap(input_);
            }
            if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = recv(socket_.get(), into + got,
                                       static_cast<std::size_t>(count - got), MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) fail();
                if (n > 0) got += n;
            }
        }
    }

    Fd socket_;
    Child child_;
    std::vector<char> input_;
    std::size_t sent_ = 0;
    const std::int64_t total_;
    const std::chrono::steady_clock::time_point deadline_;
    std::int64_t delivered_ = 0;  // values put into the buffer so far
    std::int64_t frameLeft_ = 0;  // values of the current frame not yet received
    std::optional<std::int64_t> pending_;
    std::ptrdiff_t savedUnread_ = 0;
    char buffer_[1 << 16];
};

class HelperValues : public std::istream {
  public:
    explicit HelperValues(std::unique_ptr<HelperReply> reply)
        : std::istream(reply.get()), reply_(std::move(reply)) {
        // A failure of the helper while the values are read reaches the reader's caller.
        exceptions(std::ios::badbit);
    }

  private:
    std::unique_ptr<HelperReply> reply_;
};

// Starts the helper on `file` (whole blocks, up to the end of the table). A helper that
// cannot be started at all ends the action (OperationError); one that fails at once leaves
// its message for this file.
std::string RunHelper(std::vector<char> file, int hdu, std::int64_t imageBytes,
                      std::unique_ptr<std::istream>& values) {
    const std::string helper = FindHelper();
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) ThrowIoError(errno);
    Fd mine(ends[0]), theirs(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Whatever other threads opened without close-on-exec stays out of the helper.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> args = {helper, DecimalText(getpid()), DecimalText(hdu),
                                     DecimalText(static_cast<std::int64_t>(file.size())),
                                     DecimalText(imageBytes)};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char* environment[] = {nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, helper.c_str(), &actions, &attributes, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        throw OperationError(std::string("Décompresseur d'images impossible à lancer (") +
                             std::strerror(spawned) + ")");
    theirs.reset();

    // As the helper's own limit on processor time, with room for a busy machine.
    const std::int64_t work = static_cast<std::int64_t>(file.size()) + 3 * imageBytes;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(10 + 3 * (work / (std::int64_t{16} << 20)));
    auto reply =
        std::make_unique<HelperReply>(*mine.out(), pid, std::move(file), imageBytes, deadline);
    *mine.out() = -1;  // the reply owns it now
    if (std::string message = reply->start(helper); !message.empty()) return message;
    values = std::make_unique<HelperValues>(std::move(reply));
    return {};
}

}  // namespace

std::string DecompressTiles(std::istream& in, const ImageExtension& ext,
                            std::unique_ptr<std::istream>& values) {
    TileClaim claim;
    if (std::string message = CheckTileHeader(ext, claim); !message.empty()) return message;

    // The file up to the end of the table, in memory, grown as the bytes arrive so that a
    // header claiming more than the file holds costs nothing.
    const std::int64_t size = ext.dataStart + ext.dataBytes;
    std::vector<char> file;
    in.clear();
    in.seekg(0);
    constexpr std::int64_t kPiece = 1 << 20;
    while (static_cast<std::int64_t>(file.size()) < size) {
        const std::int64_t at = static_cast<std::int64_t>(file.size());
        const std::int64_t want = std::min(kPiece, size - at);
        file.resize(static_cast<std::size_t>(at + want));
        if (ReadSome(in, reinterpret_cast<std::uint8_t*>(file.data() + at), want) < want)
            return "Image compressée tronquée";
    }
    if (std::string message = CheckDescriptors(ext, file, claim); !message.empty()) return message;
    // cfitsio wants the whole last block.
    file.resize(static_cast<std::size_t>((size + 2879) / 2880 * 2880), 0);
    return RunHelper(std::move(file), ext.hdu + 1, claim.imageBytes, values);
}

}  // namespace pelorin::detail
