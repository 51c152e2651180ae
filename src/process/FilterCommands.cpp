// The filter panel's two buttons.
#include "display/Viewer.h"
#include "process/Filters.h"
#include "sky/NumberText.h"

namespace pelorin {

void Viewer::applyFilter() {
    BusyScope busy(onBusy);
    const long double threshold = StrToFloat(controls.edit5);
    const int index = controls.comboBox3.index;
    if (index == 0) {
        SpeedButton8Click();
        return;
    }
    // When no pixel was filtered the statistics stay as they were, and the view is still
    // redrawn.
    FilterImage(image, index, threshold);
    computeThresholds();
    renderDisplay();
}

void Viewer::SpeedButton7Click() {
    if (!image.loaded || image.pictureShown) return;
    applyFilter();
}

void Viewer::SpeedButton8Click() {
    if (!image.loaded || image.pictureShown || !windowInsideImage()) return;
    BusyScope busy(onBusy);
    RestoreSource(image);
    computeThresholds();
    renderDisplay();
}

}  // namespace pelorin
