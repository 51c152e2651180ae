// Compressed FITS files: gzip streams inflated with zlib while the reader reads them, and
// tile-compressed images decompressed with cfitsio into a FITS file in memory.
#include <fitsio.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

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

void ReadGzipFits(const std::string& path, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                  const MessageWords& words) {
    GzipInput in(path);
    // A first walk over the headers says how far the reader may go; nothing beyond that is
    // ever inflated, however far the stream would run.
    ImageExtension where;
    const bool found = LocateImage(in, where);
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

// The decompressed image is held in memory whole: no larger than this.
constexpr std::int64_t kMaxImageBytes = std::int64_t{1} << 29;
// Nor may the compressed table be.
constexpr std::int64_t kMaxTableBytes = std::int64_t{1} << 30;

std::optional<std::int64_t> CardInteger(const CardList& cards, const std::string& keyword) {
    for (const std::string& c : cards) {
        const CardParts parts = SplitCard(c);
        if (parts.keyword != keyword) continue;
        std::int64_t v = 0;
        const char* first = parts.value.data();
        const char* last = first + parts.value.size();
        if (first != last && *first == '+') ++first;
        const auto [ptr, ec] = std::from_chars(first, last, v);
        if (ec != std::errc() || ptr != last) return std::nullopt;
        return v;
    }
    return std::nullopt;
}

std::string CfitsioMessage(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return "Image compressée illisible (" + DecimalText(status) + " " + text + ")";
}

// The header must describe an image cfitsio can rebuild within the limits, from a table
// that the data unit holds whole: checked here, since cfitsio trusts what it is given.
std::string CheckTileHeader(const ImageExtension& ext, std::int64_t& imageBytes) {
    const CardList& c = ext.cards;
    const std::string tooLarge = "Mot clé \"ZNAXISn\" trop grand";
    const auto zbitpix = CardInteger(c, "ZBITPIX");
    const auto znaxis = CardInteger(c, "ZNAXIS");
    if (!zbitpix || (*zbitpix != 8 && *zbitpix != 16 && *zbitpix != 32 && *zbitpix != 64 &&
                     *zbitpix != -32 && *zbitpix != -64))
        return "Mot clé \"ZBITPIX\" ?";
    if (!znaxis || *znaxis < 2 || *znaxis > 999) return "Mot clé \"ZNAXIS\" ?";
    std::int64_t pixels = 1, tiles = 1;
    for (int i = 1; i <= *znaxis; ++i) {
        const auto n = CardInteger(c, "ZNAXIS" + DecimalText(i));
        if (!n || *n < 1) return "Mot clé \"ZNAXIS" + DecimalText(i) + "\" ?";
        const auto tile = CardInteger(c, "ZTILE" + DecimalText(i)).value_or(i == 1 ? *n : 1);
        // A tile larger than the image would only make cfitsio allocate for it.
        if (tile < 1 || tile > *n) return "Mot clé \"ZTILE" + DecimalText(i) + "\" ?";
        if (!MultiplyFits(pixels, *n, pixels) ||
            !MultiplyFits(tiles, (*n + tile - 1) / tile, tiles))
            return tooLarge;
    }
    if (!MultiplyFits(pixels, std::abs(*zbitpix) / 8, imageBytes) || imageBytes > kMaxImageBytes)
        return tooLarge;
    // One table row per tile.
    if (CardInteger(c, "NAXIS2").value_or(-1) != tiles) return "Mot clé \"NAXIS2\" ?";
    if (ext.dataBytes > kMaxTableBytes || ext.dataStart > kMaxTableBytes) return tooLarge;
    return {};
}

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

// cfitsio allocates for each tile what the table's array descriptors claim: every descriptor
// must point inside the heap that the data unit holds, and the row layout must fit NAXIS1.
std::string CheckDescriptors(const ImageExtension& ext, const std::vector<char>& file) {
    const std::string bad = "Image compressée illisible (table des tuiles)";
    const CardList& c = ext.cards;
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
        std::string form;
        for (const std::string& card : c) {
            const CardParts parts = SplitCard(card);
            if (parts.keyword == "TFORM" + DecimalText(i)) form = std::string(parts.value);
        }
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
    for (std::int64_t r = 0; r < rows; ++r)
        for (const Column& col : arrays) {
            const std::uint8_t* d = table + r * rowBytes + col.offset;
            const int half = col.wide ? 8 : 4;
            const std::uint64_t count = big(d, half);
            const std::uint64_t at = big(d + half, half);
            const auto room = static_cast<std::uint64_t>(heapEnd - heapStart);
            if (count > room / static_cast<std::uint64_t>(col.elementBytes) || at > room ||
                count * static_cast<std::uint64_t>(col.elementBytes) > room - at)
                return bad;
        }
    return {};
}

}  // namespace

namespace {

// Decompresses with cfitsio: the image alone, as a FITS file, into `fits`.
std::string RunCfitsio(std::vector<char>& file, const ImageExtension& ext, std::int64_t imageBytes,
                       std::string& fits) {
    int status = 0;
    fitsfile* source = nullptr;
    void* memory = file.data();
    std::size_t memorySize = file.size();
    fits_open_memfile(&source, "tiles", READONLY, &memory, &memorySize, 0, nullptr, &status);
    int type = 0;
    fits_movabs_hdu(source, ext.hdu + 1, &type, &status);
    int compressed = status == 0 ? fits_is_compressed_image(source, &status) : 0;
    if (status == 0 && !compressed) status = NOT_IMAGE;

    void* outMemory = nullptr;
    std::size_t outSize = 0;
    fitsfile* target = nullptr;
    if (status == 0) {
        // Room for the header and the image, so that cfitsio never has to grow the buffer.
        outSize = static_cast<std::size_t>(imageBytes + 2880 * 64);
        outMemory = std::malloc(outSize);
        if (!outMemory) status = MEMORY_ALLOCATION;
    }
    if (status == 0)
        fits_create_memfile(&target, &outMemory, &outSize, 2880 * 16, std::realloc, &status);
    if (status == 0) fits_img_decompress(source, target, &status);
    if (status == 0) fits_flush_file(target, &status);
    std::string message;
    if (status == 0) {
        LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
        fits_get_hduaddrll(target, &headStart, &dataStart, &dataEnd, &status);
        if (status == 0)
            fits.assign(static_cast<const char*>(outMemory), static_cast<std::size_t>(dataEnd));
    }
    if (status != 0) message = CfitsioMessage(status);
    int ignored = 0;
    if (target) fits_close_file(target, &ignored);
    ignored = 0;
    if (source) fits_close_file(source, &ignored);
    std::free(outMemory);
    return message;
}

// cfitsio has faulted on hostile tiles that pass every check made here (its Rice decoder reads
// past its input), so it runs in a child process: a fault there ends the child, and the load
// ends with a message. The child sends a flag byte, then the FITS file or the message.
template <typename Work>
std::string Isolated(const Work& work, std::int64_t maxBytes, std::string& fits) {
    const std::string failed = "Image compressée illisible";
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return failed;
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return failed;
    }
    if (child == 0) {
        close(pipeFds[0]);
        std::string out;
        const std::string message = work(out);
        const std::string reply = (message.empty() ? "1" : "0") + (message.empty() ? out : message);
        const char* p = reply.data();
        std::size_t left = reply.size();
        while (left > 0) {
            const ssize_t n = write(pipeFds[1], p, left);
            if (n <= 0) _exit(1);
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(pipeFds[1]);
    std::string reply;
    char buffer[1 << 16];
    bool tooLong = false;
    for (;;) {
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (static_cast<std::int64_t>(reply.size()) + n > maxBytes + 1) tooLong = true;
        if (!tooLong) reply.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (tooLong || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || reply.empty()) return failed;
    if (reply[0] != '1') return reply.substr(1);
    // The image may be hundreds of megabytes: drop the flag in place rather than copy.
    reply.erase(0, 1);
    fits = std::move(reply);
    return {};
}

}  // namespace

std::string DecompressTiles(std::istream& in, const ImageExtension& ext, std::string& fits) {
    std::int64_t imageBytes = 0;
    if (std::string message = CheckTileHeader(ext, imageBytes); !message.empty()) return message;

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
    if (std::string message = CheckDescriptors(ext, file); !message.empty()) return message;
    // cfitsio wants the whole last block.
    file.resize(static_cast<std::size_t>((size + 2879) / 2880 * 2880), 0);
    return Isolated([&](std::string& out) { return RunCfitsio(file, ext, imageBytes, out); },
                    imageBytes + 2880 * 64, fits);
}

}  // namespace pelorin::detail
