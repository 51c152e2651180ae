#include "process/Png.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "base/Errors.h"
#include "process/AtomicFile.h"

namespace pelorin {

namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// One chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data,
              std::size_t size) {
    PutU32(out, static_cast<std::uint32_t>(size));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    PutU32(out, libdeflate_crc32(0, out.data() + typeAt, size + 4));
}

// The scanlines, top row first, each after its filter byte, all with filter None. Palette
// indices mean nothing as differences; and a rendered colour image takes its colours from a
// palette too, so its rows repeat whole colours that the compressor finds as they are: the
// filters that predict a byte from its neighbours (Sub, Up, or the choice per row of the one
// with the smallest bytes) make these files 9 to 13 % larger, for photographs they gain 2 to
// 3 %.
// Every byte is written below: no zero fill first.
using Bytes = std::unique_ptr<std::uint8_t[]>;

std::size_t ScanLineBytes(const Bitmap& bitmap, bool indexed) {
    return static_cast<std::size_t>(bitmap.width()) * (indexed ? 1 : 3) + 1;
}

// Scanline y into out (ScanLineBytes bytes).
void ScanLine(const Bitmap& bitmap, bool indexed, int y, std::uint8_t* out) {
    const int w = bitmap.width();
    const int depth = bitmap.bitsPerPixel();
    const std::uint8_t* in = bitmap.row(y);
    *out++ = 0;
    if (indexed && depth == 8) {
        std::copy(in, in + w, out);
    } else if (indexed) {
        const int perByte = 8 / depth;
        for (int x = 0; x < w; ++x) {
            const int shift = 8 - depth * (x % perByte + 1);
            out[x] = static_cast<std::uint8_t>((in[x / perByte] >> shift) & ((1 << depth) - 1));
        }
    } else if (depth == 24) {
        for (int x = 0; x < w; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    } else if (depth == 8) {  // a palette rendering written in RGB: its colours by table
        std::array<RgbColour, 256> colours{};
        const auto& palette = bitmap.palette();
        std::copy_n(palette.begin(), std::min<std::size_t>(palette.size(), 256), colours.begin());
        for (int x = 0; x < w; ++x) {
            const RgbColour c = colours[in[x]];
            out[3 * x] = c.red;
            out[3 * x + 1] = c.green;
            out[3 * x + 2] = c.blue;
        }
    } else {
        for (int x = 0; x < w; ++x) {
            const RgbColour c = bitmap.pixelColour(x, y);
            out[3 * x] = c.red;
            out[3 * x + 1] = c.green;
            out[3 * x + 2] = c.blue;
        }
    }
}

Bytes ScanLines(const Bitmap& bitmap, bool indexed, std::size_t& size) {
    const std::size_t line = ScanLineBytes(bitmap, indexed);
    size = line * static_cast<std::size_t>(bitmap.height());
    Bytes rows(new std::uint8_t[size]);
    for (int y = 0; y < bitmap.height(); ++y)
        ScanLine(bitmap, indexed, y, rows.get() + line * static_cast<std::size_t>(y));
    return rows;
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Colour rows: libdeflate's fastest level. Its matches find the whole colours a rendered
// image repeats, as well as the usual zlib settings do, in a fraction of their time.
Bytes DeflateFast(const std::uint8_t* in, std::size_t inSize, std::size_t& size) {
    size = 0;
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(1));
    if (!compressor) return nullptr;
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), inSize);
    Bytes out(new std::uint8_t[bound]);
    size = libdeflate_zlib_compress(compressor.get(), in, inSize, out.get(), bound);
    return out;
}

// Palette indices. A rendered image's indices repeat in runs (flat sky, saturated stars) and
// otherwise vary like noise, where matches at a distance gain nothing: a deflate stream of
// literals and of runs, each run a match at distance one, is as small as what zlib's run
// strategy makes of a 4000 x 4000 sky, and written in about a third of its time (0.035 s
// against 0.1 s for 16 MB). The scanlines go by blocks of about 256 KB that stay in the cache
// for the two passes, one counting the symbols, one writing them with a Huffman code made for
// the block.

// Bits in deflate's order, lowest first, into a buffer with 8 bytes to spare at its end.
class BitWriter {
  public:
    explicit BitWriter(std::uint8_t* out) : out_(out) {}
    // The n lowest bits of value; at most 56 bits between two flushes.
    void put(std::uint64_t value, int n) {
        bits_ |= value << count_;
        count_ += n;
    }
    // Writes out the whole bytes held: at most 7 bits stay.
    void flush() {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out_, &bits_, 8);
        } else {
            for (int i = 0; i < 8; ++i)
                out_[i] = static_cast<std::uint8_t>(bits_ >> (8 * i));
        }
        out_ += count_ >> 3;
        bits_ >>= count_ & ~7;
        count_ &= 7;
    }
    // Pads with zero bits to the next byte boundary.
    void align() {
        put(0, (8 - count_) & 7);
        flush();
    }
    // Bytes as they are, after align().
    void copy(const std::uint8_t* in, std::size_t size) {
        std::memcpy(out_, in, size);
        out_ += size;
    }
    std::uint8_t* end() const { return out_; }

  private:
    std::uint8_t* out_;
    std::uint64_t bits_ = 0;
    int count_ = 0;
};

// Lengths of a Huffman code for the counts, none longer than maxBits. When the best code
// has longer ones, the counts are halved (none below 1) until it has not.
void CodeLengths(const std::uint32_t* counts, int n, int maxBits, std::uint8_t* lengths) {
    std::vector<std::uint32_t> count(counts, counts + n);
    std::vector<int> leaves;
    for (int s = 0; s < n; ++s)
        if (count[s]) leaves.push_back(s);
    // A code has two symbols at least: a lone one gets a one-bit code beside an unused one.
    while (leaves.size() < 2) {
        const int unused = leaves.empty() || leaves[0] != 0 ? 0 : 1;
        count[unused] = 1;
        leaves.push_back(unused);
    }
    const int m = static_cast<int>(leaves.size());
    // Nodes 0..m-1 are the leaves in their sorted order, m.. the inner nodes as they are made.
    std::vector<std::uint64_t> weight(m - 1);
    std::vector<int> parent(2 * m - 1), depth(2 * m - 1);
    for (;;) {
        std::sort(leaves.begin(), leaves.end(),
                  [&](int a, int b) { return count[a] != count[b] ? count[a] < count[b] : a < b; });
        // The two lightest of the sorted leaves and the inner nodes, made in rising weight.
        int leaf = 0, inner = 0;
        auto lightest = [&](int made) {
            if (leaf < m && (inner == made || count[leaves[leaf]] <= weight[inner])) {
                const int node = leaf++;
                return std::pair<int, std::uint64_t>(node, count[leaves[node]]);
            }
            const int node = inner++;
            return std::pair<int, std::uint64_t>(m + node, weight[node]);
        };
        for (int made = 0; made < m - 1; ++made) {
            const auto a = lightest(made);
            const auto b = lightest(made);
            weight[made] = a.second + b.second;
            parent[a.first] = parent[b.first] = m + made;
        }
        depth[2 * m - 2] = 0;
        for (int node = 2 * m - 3; node >= 0; --node)
            depth[node] = depth[parent[node]] + 1;
        if (*std::max_element(depth.begin(), depth.begin() + m) <= maxBits) break;
        for (int s : leaves)
            count[s] = (count[s] >> 1) | 1;
    }
    std::fill(lengths, lengths + n, 0);
    for (int i = 0; i < m; ++i)
        lengths[leaves[i]] = static_cast<std::uint8_t>(depth[i]);
}

// The canonical codes of the lengths, bits reversed as deflate sends a code highest bit first.
void CanonicalCodes(const std::uint8_t* lengths, int n, std::uint32_t* codes) {
    std::array<std::uint32_t, 17> count{}, next{};
    for (int s = 0; s < n; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    for (int len = 1; len <= 16; ++len)
        next[len] = (next[len - 1] + count[len - 1]) << 1;
    for (int s = 0; s < n; ++s) {
        std::uint32_t code = lengths[s] ? next[lengths[s]]++ : 0, reversed = 0;
        for (int b = 0; b < lengths[s]; ++b, code >>= 1)
            reversed = (reversed << 1) | (code & 1);
        codes[s] = reversed;
    }
}

// A match length's symbol (257..285) and its extra bits.
struct LengthSymbol {
    std::uint16_t symbol = 0;
    std::uint8_t extraBits = 0;
    std::uint8_t extra = 0;
};

const std::array<LengthSymbol, 259>& LengthSymbols() {
    static const std::array<LengthSymbol, 259> table = [] {
        std::array<LengthSymbol, 259> t{};
        int length = 3;
        for (int symbol = 257; symbol < 285; ++symbol) {
            const int extraBits = symbol < 265 ? 0 : (symbol - 261) / 4;
            for (int e = 0; e < (1 << extraBits) && length + e < 258; ++e)
                t[length + e] = {static_cast<std::uint16_t>(symbol),
                                 static_cast<std::uint8_t>(extraBits),
                                 static_cast<std::uint8_t>(e)};
            length += 1 << extraBits;
        }
        t[258] = {285, 0, 0};
        return t;
    }();
    return table;
}

// How many of the 8 bytes at p, from the first, equal byte.
int SameBytes(const std::uint8_t* p, std::uint8_t byte) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    word ^= 0x0101010101010101ull * byte;
    if (word == 0) return 8;
    if constexpr (std::endian::native == std::endian::little) return std::countr_zero(word) / 8;
    return std::countl_zero(word) / 8;
}

// How many of the bytes in[i, limit) equal byte, from the first.
std::size_t RunLength(const std::uint8_t* in, std::size_t i, std::size_t limit, std::uint8_t byte) {
    std::size_t j = i;
    while (j + 8 <= limit) {
        const int same = SameBytes(in + j, byte);
        j += same;
        if (same < 8) return j - i;
    }
    while (j < limit && in[j] == byte)
        ++j;
    return j - i;
}

// The tokens of in[0, size): each byte is a literal, and while the bytes after it repeat
// it, a match of 3 to 258 of them at distance one follows.
template <typename Literal, typename Match>
void Tokens(const std::uint8_t* in, std::size_t size, Literal literal, Match match) {
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t byte = in[i++];
        literal(byte);
        // The usual case, where no run follows, at the cost of one test.
        if (i + 8 <= size && SameBytes(in + i, byte) < 3) continue;
        for (;;) {
            const std::size_t run = RunLength(in, i, std::min(size, i + 258), byte);
            if (run < 3) break;
            match(static_cast<int>(run));
            i += run;
        }
    }
}

// Bits of the stored blocks of size bytes, at most: 65535 bytes a block, each block with
// 3 bits of header, up to 7 of padding and 32 of lengths.
std::uint64_t StoredBits(std::size_t size) {
    return 8 * std::uint64_t{size} + 42 * (std::uint64_t{size} / 65535 + 1);
}

// One block: a Huffman code made for it, or stored bytes when that is smaller.
void PutRunsBlock(BitWriter& writer, const std::uint8_t* in, std::size_t size, bool last) {
    // A copy of the writer of our own: the compiler keeps it in registers, where it could not
    // be sure that the bytes written do not change the caller's.
    BitWriter out = writer;
    // Where a code length goes in the header's code of the code lengths.
    static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                11, 4,  12, 3, 13, 2, 14, 1, 15};
    const auto& lengthSymbols = LengthSymbols();
    std::array<std::uint32_t, 286> counts{};
    std::uint64_t matches = 0;
    Tokens(
        in, size, [&](std::uint8_t byte) { ++counts[byte]; },
        [&](int length) {
            ++counts[lengthSymbols[length].symbol];
            ++matches;
        });
    counts[256] = 1;  // end of block
    std::array<std::uint8_t, 286> lengths{};
    CodeLengths(counts.data(), 286, 15, lengths.data());
    int symbols = 286;
    while (symbols > 257 && lengths[symbols - 1] == 0)
        --symbols;
    // The code lengths sent: the literal and length code, then two one-bit distance codes,
    // of which only the first, distance one, is used.
    std::array<std::uint8_t, 288> sent{};
    std::copy(lengths.begin(), lengths.begin() + symbols, sent.begin());
    sent[symbols] = sent[symbols + 1] = 1;
    const int sentCount = symbols + 2;
    std::array<std::uint32_t, 19> sentCounts{};
    for (int s = 0; s < sentCount; ++s)
        ++sentCounts[sent[s]];
    std::array<std::uint8_t, 19> sentLengths{};
    CodeLengths(sentCounts.data(), 19, 7, sentLengths.data());
    int orderCount = 19;
    while (orderCount > 4 && sentLengths[kOrder[orderCount - 1]] == 0)
        --orderCount;

    std::uint64_t bits = 3 + 5 + 5 + 4 + 3 * orderCount + matches;  // a match's distance bit
    for (int s = 0; s < sentCount; ++s)
        bits += sentLengths[sent[s]];
    for (int s = 0; s < 286; ++s)
        bits += std::uint64_t{counts[s]} * (lengths[s] + (s >= 265 && s < 285 ? (s - 261) / 4 : 0));
    if (bits > StoredBits(size)) {
        for (std::size_t at = 0; at < size; at += 65535) {
            const std::size_t part = std::min<std::size_t>(65535, size - at);
            out.put(last && at + part == size ? 1 : 0, 3);
            out.align();
            out.put(part | (part ^ 0xFFFF) << 16, 32);
            out.flush();
            out.copy(in + at, part);
        }
        writer = out;
        return;
    }

    std::array<std::uint32_t, 19> sentCodes{};
    CanonicalCodes(sentLengths.data(), 19, sentCodes.data());
    out.put(last ? 1 : 0, 1);
    out.put(2, 2);  // dynamic Huffman codes
    out.put(symbols - 257, 5);
    out.put(1, 5);  // two distance codes
    out.put(orderCount - 4, 4);
    for (int k = 0; k < orderCount; ++k) {
        out.put(sentLengths[kOrder[k]], 3);
        out.flush();
    }
    for (int s = 0; s < sentCount; ++s) {
        out.put(sentCodes[sent[s]], sentLengths[sent[s]]);
        out.flush();
    }
    std::array<std::uint32_t, 286> codes{};
    CanonicalCodes(lengths.data(), 286, codes.data());
    // Each literal and each match length as one code: its bits, and their count above bit 24.
    // A match is its length's code, the length's extra bits, and the distance code 0.
    std::array<std::uint32_t, 256> literalCodes{};
    for (int b = 0; b < 256; ++b)
        literalCodes[b] = codes[b] | std::uint32_t{lengths[b]} << 24;
    std::array<std::uint32_t, 259> matchCodes{};
    for (int length = 3; length <= 258; ++length) {
        const LengthSymbol& l = lengthSymbols[length];
        const int n = lengths[l.symbol];
        matchCodes[length] = (codes[l.symbol] | std::uint32_t{l.extra} << n) |
                             std::uint32_t(n + l.extraBits + 1) << 24;
    }
    auto put = [&](std::uint32_t code) {
        out.put(code & 0xFFFFFF, static_cast<int>(code >> 24));
        out.flush();
    };
    Tokens(
        in, size, [&](std::uint8_t byte) { put(literalCodes[byte]); },
        [&](int length) { put(matchCodes[length]); });
    out.put(codes[256], lengths[256]);
    out.flush();
    writer = out;
}

// The zlib stream of the indexed scanlines.
Bytes DeflateRuns(const Bitmap& bitmap, std::size_t& size) {
    constexpr std::size_t kBlockBytes = std::size_t{1} << 18;
    const std::size_t line = ScanLineBytes(bitmap, true);
    const std::size_t total = line * static_cast<std::size_t>(bitmap.height());
    const int rowsPerBlock = static_cast<int>(
        std::clamp<std::size_t>(kBlockBytes / line, 1, static_cast<std::size_t>(bitmap.height())));
    const std::size_t blocks = (bitmap.height() + rowsPerBlock - 1) / rowsPerBlock;
    // The zlib header and check value, the blocks at their stored size at most, the writer's
    // 8 spare bytes.
    const std::size_t bound = 2 + (StoredBits(total) + 42 * blocks) / 8 + 1 + 4 + 8;
    Bytes out(new std::uint8_t[bound]);
    out[0] = 0x78;  // deflate, 32 KB window, no dictionary
    out[1] = 0x01;
    BitWriter writer(out.get() + 2);
    const Bytes lines(new std::uint8_t[line * rowsPerBlock]);
    std::uint32_t adler = 1;
    for (int y = 0; y < bitmap.height(); y += rowsPerBlock) {
        const int rows = std::min(rowsPerBlock, bitmap.height() - y);
        for (int r = 0; r < rows; ++r)
            ScanLine(bitmap, true, y + r, lines.get() + line * r);
        const std::size_t bytes = line * static_cast<std::size_t>(rows);
        adler = libdeflate_adler32(adler, lines.get(), bytes);
        PutRunsBlock(writer, lines.get(), bytes, y + rows == bitmap.height());
    }
    writer.align();
    std::uint8_t* end = writer.end();
    for (int shift = 24; shift >= 0; shift -= 8)
        *end++ = static_cast<std::uint8_t>(adler >> shift);
    size = static_cast<std::size_t>(end - out.get());
    return out;
}

}  // namespace

std::vector<std::uint8_t> ToPngBytes(const Bitmap& bitmap, const std::string& what,
                                     bool trueColour) {
    if (bitmap.empty()) throw OperationError("Cannot create file " + what);
    const bool indexed = !trueColour && bitmap.bitsPerPixel() <= 8 && !bitmap.palette().empty();
    std::size_t size = 0;
    Bytes compressed;
    if (indexed) {
        compressed = DeflateRuns(bitmap, size);
    } else {
        std::size_t rowsSize = 0;
        const Bytes rows = ScanLines(bitmap, false, rowsSize);
        compressed = DeflateFast(rows.get(), rowsSize, size);
    }
    if (size == 0) throw OperationError("Cannot create file " + what);

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.reserve(size + size / 1000 + 2048);
    std::vector<std::uint8_t> header;
    PutU32(header, static_cast<std::uint32_t>(bitmap.width()));
    PutU32(header, static_cast<std::uint32_t>(bitmap.height()));
    // 8 bits a sample; palette or RGB; deflate, filters of each row, no interlace.
    header.insert(header.end(), {8, static_cast<std::uint8_t>(indexed ? 3 : 2), 0, 0, 0});
    PutChunk(out, "IHDR", header.data(), header.size());
    if (indexed) {
        // An indexed PNG holds at most 256 colours, and every index must name one.
        std::vector<std::uint8_t> palette;
        const auto& colours = bitmap.palette();
        const std::size_t entries = std::size_t{1} << bitmap.bitsPerPixel();
        for (std::size_t i = 0; i < entries; ++i) {
            const RgbColour c = i < colours.size() ? colours[i] : RgbColour{};
            palette.insert(palette.end(), {c.red, c.green, c.blue});
        }
        PutChunk(out, "PLTE", palette.data(), palette.size());
    }
    constexpr std::size_t kIdatBytes = std::size_t{8} << 20;
    for (std::size_t at = 0; at < size; at += kIdatBytes)
        PutChunk(out, "IDAT", compressed.get() + at, std::min(kIdatBytes, size - at));
    PutChunk(out, "IEND", nullptr, 0);
    return out;
}

void SavePngFile(const Bitmap& bitmap, const std::string& path, bool trueColour) {
    const std::vector<std::uint8_t> bytes = ToPngBytes(bitmap, path, trueColour);
    WriteFileAtomically(path, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    });
}

}  // namespace pelorin
