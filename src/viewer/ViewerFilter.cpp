// The filter panel's two buttons.
#include "base/NumberText.h"
#include "process/Filters.h"
#include "viewer/Viewer.h"

namespace pelorin {

void Viewer::applyFilter() {
    BusyScope busy(onBusy);
    const long double threshold = StrToFloat(controls.filterThresholdText);
    const int index = controls.filterList.index;
    if (index == 0) {
        restoreUnfiltered();
        return;
    }
    // When no pixel was filtered the statistics stay as they were, and the view is still
    // redrawn.
    FilterImage(image, index, threshold);
    computeThresholds();
    renderDisplay();
}

void Viewer::applySelectedFilter() {
    if (!image.loaded || image.pictureShown) return;
    applyFilter();
}

void Viewer::restoreUnfiltered() {
    if (!image.loaded || image.pictureShown || !windowInsideImage()) return;
    BusyScope busy(onBusy);
    RestoreSource(image);
    computeThresholds();
    renderDisplay();
}

}  // namespace pelorin
