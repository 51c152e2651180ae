// The display thresholds that each threshold mode derives from an image's statistics.
#pragma once

#include "display/DisplayTypes.h"
#include "image/ImageModel.h"

namespace pelorin {

// Low and high thresholds of `mode` from the image as it stands: the header's values, the
// data range, mean -/+ 1 or 2 sigma (each side scaled by the skew of the mean within the
// range, and kept inside it), or 70 % of the way from each end to the mean. The fixed mode
// leaves `low` and `high` as they are.
void ModeThresholds(int mode, const ImageState& image, double& low, double& high);

}  // namespace pelorin
