// Tile-compressed FITS files written by cfitsio, with where their tile table lies, so that a
// test can damage exactly the part it is about.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelorin::test {

struct TileFile {
    std::vector<std::uint8_t> bytes;
    std::size_t table = 0;     // byte position of the tile table (the data unit)
    std::size_t rowBytes = 0;  // bytes of one table row
    std::size_t rows = 0;      // one row per tile
    std::size_t heap = 0;      // byte position of the heap
    std::size_t heapBytes = 0;

    // The array descriptor (element count, heap offset) of column `column` (from 0, in 8-byte
    // P descriptors) in row `row`.
    std::pair<std::uint32_t, std::uint32_t> descriptor(std::size_t row,
                                                       std::size_t column = 0) const;
    void setDescriptor(std::size_t row, std::size_t column, std::uint32_t count,
                       std::uint32_t offset);
    // Replaces the value of a header card of the table, keeping its width.
    void setCard(const std::string& keyword, const std::string& value);
};

// An empty primary and the image of `bitpix` (16 or -32) cols x rows, stored values
// values[i] in file order, compressed with `codec` ("RICE_1", "GZIP_1", "GZIP_2",
// "HCOMPRESS_1", "PLIO_1") in tiles of tileCols x tileRows; `cards` (whole 80-character
// cards) added to the table's header. Reals are compressed losslessly.
TileFile TileCompressedFits(int bitpix, int cols, int rows, const std::vector<double>& values,
                            const std::string& codec, int tileCols, int tileRows,
                            const std::vector<std::string>& cards = {});

}  // namespace pelorin::test
