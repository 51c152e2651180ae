// PIC files: a 290-byte little-endian header, then the rows of data.
#pragma once

#include "ByteOrder.h"

namespace pelorin::test {

// A PIC header with the fields the reader looks at (columns, rows, bytes per value, data
// type, high and low thresholds); every other byte zero.
Bytes PicHeader(int columns, int rows, int dataLength, int dataType = 3, int high = 0, int low = 0);

}  // namespace pelorin::test
