// The display thresholds that each threshold mode derives from an image's statistics.
#pragma once

#include <vector>

#include "display/DisplayTypes.h"
#include "image/ImageModel.h"

namespace pelorin {

// Low and high thresholds of `mode` from the image as it stands: the header's values, the
// data range, mean -/+ 1 or 2 sigma (each side scaled by the skew of the mean within the
// range, and kept inside it), 70 % of the way from each end to the mean, or the zscale
// limits. The fixed mode leaves `low` and `high` as they are.
void ModeThresholds(int mode, const ImageState& image, double& low, double& high);

// The zscale limits: a straight line is fitted to the sorted samples, rejecting those more
// than 2.5 sigma from it (and their neighbours) up to five times; the limits are the median
// -/+ the line's slope / 0.25 over the samples' half-counts, kept inside the samples' range.
// When too few samples survive (fewer than half, or than 5), the samples' range. False,
// leaving low and high alone, when there is no sample.
bool ZscaleOfSamples(std::vector<double> samples, double& low, double& high);

// About 1000 physical values spread evenly over the plane, in the file's order (bottom row
// first), leaving out the pixels the file leaves undefined.
std::vector<double> ZscaleSamples(const ImageState& image);

}  // namespace pelorin
