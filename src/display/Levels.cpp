#include "display/Levels.h"

#include <algorithm>

namespace pelorin {

void ModeThresholds(int mode, const ImageState& image, double& low, double& high) {
    const long double m = image.mean;
    const long double s = image.sigma;
    const double dmin = image.dataMin;
    const double dmax = image.dataMax;
    const double a = static_cast<double>(2 * (m - dmin) / (static_cast<long double>(dmax) - dmin));
    const double b = static_cast<double>(2 * (dmax - m) / (static_cast<long double>(dmax) - dmin));
    switch (mode) {
        case kModeHeader:
            low = image.headerLow;
            high = image.headerHigh;
            break;
        case kModeData:
            low = dmin;
            high = dmax;
            break;
        case kModeOneSigma:
        case kModeTwoSigma: {
            const long double n = mode == kModeOneSigma ? 1 : 2;
            low = static_cast<double>(std::max<long double>(dmin, m - n * s * a));
            high = static_cast<double>(std::min<long double>(dmax, m + n * s * b));
            break;
        }
        case kMode70:
            low = static_cast<double>(dmin + 0.3L * (m - dmin));
            high = static_cast<double>(dmax - 0.3L * (dmax - m));
            break;
        default:
            break;
    }
}

}  // namespace pelorin
