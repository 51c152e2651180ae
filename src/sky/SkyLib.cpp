#include "sky/SkyLib.h"

#include <cmath>

namespace pelorin {

double Remainder(double x, double y) {
    return x - y * std::trunc(x / y);
}

}  // namespace pelorin
