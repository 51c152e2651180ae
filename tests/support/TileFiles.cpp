#include "TileFiles.h"

#include "TestUtil.h"

#include <fitsio.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace pelorin::test {

namespace {

void Check(int status, const char* what) {
    if (status == 0) return;
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    throw std::runtime_error(std::string(what) + ": " + text);
}

int Codec(const std::string& name) {
    if (name == "RICE_1") return RICE_1;
    if (name == "GZIP_1") return GZIP_1;
    if (name == "GZIP_2") return GZIP_2;
    if (name == "HCOMPRESS_1") return HCOMPRESS_1;
    if (name == "PLIO_1") return PLIO_1;
    throw std::invalid_argument("no codec " + name);
}

std::uint32_t Big32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

void PutBig32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

std::pair<std::uint32_t, std::uint32_t> TileFile::descriptor(std::size_t row,
                                                             std::size_t column) const {
    const std::uint8_t* d = bytes.data() + table + row * rowBytes + 8 * column;
    return {Big32(d), Big32(d + 4)};
}

void TileFile::setDescriptor(std::size_t row, std::size_t column, std::uint32_t count,
                             std::uint32_t offset) {
    std::uint8_t* d = bytes.data() + table + row * rowBytes + 8 * column;
    PutBig32(d, count);
    PutBig32(d + 4, offset);
}

void TileFile::setCard(const std::string& keyword, const std::string& value) {
    std::string key = keyword;
    key.resize(8, ' ');
    key += "= ";
    for (std::size_t at = 2880; at + 80 <= table; at += 80) {
        if (std::memcmp(bytes.data() + at, key.data(), key.size()) != 0) continue;
        std::string v = value;
        if (v.size() < 20) v.insert(0, 20 - v.size(), ' ');
        std::memcpy(bytes.data() + at + 10, v.data(), v.size());
        return;
    }
    throw std::invalid_argument("no card " + keyword);
}

TileFile TileCompressedFits(int bitpix, int cols, int rows, const std::vector<double>& values,
                            const std::string& codec, int tileCols, int tileRows,
                            const std::vector<std::string>& cards) {
    const TempDir dir;
    const std::string path = dir.file("tiles.fz");
    int status = 0;
    fitsfile* f = nullptr;
    fits_create_file(&f, path.c_str(), &status);
    fits_set_compression_type(f, Codec(codec), &status);
    long tiles[2] = {tileCols, tileRows};
    fits_set_tile_dim(f, 2, tiles, &status);
    if (bitpix < 0) fits_set_quantize_level(f, 0, &status);  // lossless
    long naxes[2] = {cols, rows};
    fits_create_img(f, bitpix, 2, naxes, &status);
    for (const std::string& card : cards)
        fits_write_record(f, card.c_str(), &status);
    fits_set_bscale(f, 1, 0, &status);
    const auto n = static_cast<LONGLONG>(values.size());
    if (bitpix == 16) {
        std::vector<short> stored(values.begin(), values.end());
        fits_write_img(f, TSHORT, 1, n, stored.data(), &status);
    } else {
        std::vector<float> stored(values.begin(), values.end());
        fits_write_img(f, TFLOAT, 1, n, stored.data(), &status);
    }
    Check(status, "writing the tile-compressed image");

    fits_close_file(f, &status);
    Check(status, "closing the tile-compressed image");

    // Where the table lies, read back from the file as written.
    TileFile file;
    LONGLONG head = 0, data = 0, end = 0, heapBytes = 0;
    long rowBytes = 0, rowCount = 0;
    int type = 0;
    fits_open_file(&f, path.c_str(), READONLY, &status);
    fits_movabs_hdu(f, 2, &type, &status);
    fits_get_hduaddrll(f, &head, &data, &end, &status);
    fits_read_key(f, TLONG, "NAXIS1", &rowBytes, nullptr, &status);
    fits_read_key(f, TLONG, "NAXIS2", &rowCount, nullptr, &status);
    fits_read_key(f, TLONGLONG, "PCOUNT", &heapBytes, nullptr, &status);
    fits_close_file(f, &status);
    Check(status, "reading the tile-compressed image back");
    file.bytes = ReadFile(path);
    const LONGLONG heapStart = data + static_cast<LONGLONG>(rowBytes) * rowCount;
    file.table = static_cast<std::size_t>(data);
    file.rowBytes = static_cast<std::size_t>(rowBytes);
    file.rows = static_cast<std::size_t>(rowCount);
    file.heap = static_cast<std::size_t>(heapStart);
    file.heapBytes = static_cast<std::size_t>(heapBytes);
    return file;
}

}  // namespace pelorin::test
