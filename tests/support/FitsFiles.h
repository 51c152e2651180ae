// FITS files built card by card: a test states exactly the header it needs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelorin::test {

// One 80-character FITS card, blank-padded ("KEY     = value").
std::string Card(const std::string& keyword, const std::string& value,
                 const std::string& comment = "");
// Cards joined and padded with blanks to whole 2880-byte blocks.
std::string HeaderBlocks(const std::vector<std::string>& cards);

// A complete FITS file: header of the given cards (END appended), then data padded with
// zeros to a whole block.
std::vector<std::uint8_t> FitsFile(const std::vector<std::string>& cards,
                                   const std::vector<std::uint8_t>& data);

// A BITPIX 16 image of cols x rows pixels, or a cube of `planes` such planes (NAXIS 3 only
// when planes > 1), with `extra` cards after the axes. Stored value number `index` of plane
// `plane` (from 1) is value(plane, index); the file's first row is the bottom row of the
// display.
std::vector<std::uint8_t> FitsInt16(int cols, int rows, int planes,
                                    const std::function<int(int plane, int index)>& value,
                                    const std::vector<std::string>& extra = {});

}  // namespace pelorin::test
