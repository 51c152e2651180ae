// The convolution filters of the filter panel: fourteen fixed kernels applied to the pixels
// as they were loaded, the result replacing the current pixels and their statistics.
//
// The panel itself (reading the threshold text, "None" meaning restore, recomputing the
// display thresholds and redrawing afterwards) belongs to the viewer; this is the
// arithmetic.
#pragma once

#include "image/ImageModel.h"

namespace pelorin {

// A convolution kernel: size N (3 or 5), weights[i][j] multiplying the pixel at row offset
// i - N/2 and column offset j - N/2 (a 3 x 3 kernel uses the first three rows and
// columns), and the divisor applied to the weighted sum.
struct Kernel {
    int size;
    double weights[5][5];
    double divisor;
};

// Number of entries of the filter list, "None" (index 0) included.
inline constexpr int kFilterCount = 15;

// The kernel of list entry `index` (1 to 14); any other index gives the 3 x 3 identity.
const Kernel& KernelFor(int index);

// Filters the as-loaded pixels (source8 .. sourceR64, the kind named by image.bitpix) into
// the current ones (pixels8 .. pixelsR64) with the kernel of `index`. Only interior pixels
// (at least N/2 from every edge) are written; of those, the ones whose as-loaded stored value
// is below `threshold` get the weighted sum divided by the divisor, clipped to the range of
// the kind (integer kinds only) and rounded halves to even; the others get their as-loaded
// value back, except in 16-bit images where they count like filtered pixels.
//
// dataMin, dataMax, mean and sigma are recomputed in physical units from the values before
// rounding. Returns the number of pixels that entered the statistics; when it is 0 the
// statistics are left exactly as they were.
long long FilterImage(ImageState& image, int index, long double threshold);

}  // namespace pelorin
