// The render engine: the shown window of an image mapped to 8-bit display levels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/DisplayTypes.h"
#include "image/ImageModel.h"

namespace pelorin {

// Where the levels go: row `line` of the window (0 the top row shown) starts at
// first + line * stride, and holds zoom.cols bytes.
struct LevelRows {
    std::uint8_t* first = nullptr;
    std::ptrdiff_t stride = 0;
};

// True when the zoom window lies inside the stored array of the image's kind (and inside the
// image's own size), so that it can be read.
bool WindowInsideImage(const ImageState& image, const ZoomWindow& zoom);

// Every pixel of the zoom window through the thresholds into its level 0..255, then through
// the intensity table, with the window's flips applied. The level of a stored value s is
// t = (bscale * s + bzero - low) * 255 / (high - low) with the physical value at extended
// precision and t rounded to a 64-bit real, clamped to 0..255 and truncated; NaN gives 0;
// equal thresholds give a step at the threshold. Large windows are split over the cores.
// Nothing is written when the window does not fit the arrays.
void RenderLevels(const ImageState& image, const ZoomWindow& zoom, const DisplayLevels& levels,
                  const IttTable& itt, const LevelRows& out);

}  // namespace pelorin
