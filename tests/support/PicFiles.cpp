#include "PicFiles.h"

namespace pelorin::test {

Bytes PicHeader(int columns, int rows, int dataLength, int dataType, int high, int low) {
    Bytes h(290, 0);
    PutLE16At(h, 68, columns);
    PutLE16At(h, 70, rows);
    PutLE16At(h, 72, dataLength);
    PutLE16At(h, 74, dataType);
    PutLE16At(h, 118, high);
    PutLE16At(h, 120, low);
    return h;
}

}  // namespace pelorin::test
