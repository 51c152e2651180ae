// The records of the display pipeline: thresholds, palette and intensity table, and the
// zoom band drawn on the preview.
#pragma once

#include <array>
#include <cstdint>

namespace pelorin {

struct DisplayLevels {
    double low = 0;    // maps to display level 0
    double high = 0;   // maps to display level 255
    double range = 0;  // larger of the data range and the header range
    double step = 0;   // physical units per scroll-bar unit: range / 10000
    // The value at bar position 10000: the data minimum, so that the bars cover the image's
    // own values (origin - range .. origin + 2 * range) however far they lie from zero.
    double origin = 0;
    int mode = 0;  // 0 "en-tête", 1 "data", 2 "1 sig.", 3 "2 sig.", 4 "70%", 5 "fixe", 6 "zscale"
    bool settingScrollBars = false;
};

struct LutEntry {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t flags = 1;
};
using LutTable = std::array<LutEntry, 256>;
using IttTable = std::array<std::uint8_t, 256>;

// Threshold modes.
enum ThresholdMode {
    kModeHeader = 0,
    kModeData,
    kModeOneSigma,
    kModeTwoSigma,
    kMode70,
    kModeFixed,
    kModeZscale
};

// The dotted rectangle dragged on the preview, in preview pixels.
struct SelectionBand {
    std::int32_t left = 0;
    std::int32_t right = 0;
    std::int32_t top = 0;
    std::int32_t bottom = 0;
    bool shown = false;
};

// The box the preview is fitted into, keeping the shown window's proportions: tall and
// square windows are 240 high, wider ones 320 wide and lower.
inline constexpr int kPreviewHeight = 240;
inline constexpr int kPreviewBoxWidth = 320;

}  // namespace pelorin
