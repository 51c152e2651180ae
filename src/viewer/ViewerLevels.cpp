// Display levels: the thresholds with their bars and edits, the palette (LUT) and intensity
// table (ITT) lists and the tables built from their files.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "base/NumberText.h"
#include "display/Levels.h"
#include "display/Palettes.h"
#include "viewer/Viewer.h"

namespace pelorin {

namespace fs = std::filesystem;

namespace {

// Sets a flag for the life of a scope, clearing it however the scope ends.
class FlagGuard {
  public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

  private:
    bool& flag_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Palettes

std::vector<RgbColour> PaletteColours(const LutTable& lut) {
    std::vector<RgbColour> colours(256);
    for (std::size_t i = 0; i < 256; ++i)
        colours[i] = {lut[i].red, lut[i].green, lut[i].blue};
    return colours;
}

std::vector<std::string> Viewer::paletteSearchFolders() const {
    if (!paletteOverride.empty()) return {paletteOverride};
    std::vector<std::string> folders = {(fs::path(programDirectory) / "palettes").string()};
    folders.insert(folders.end(), paletteFallbacks.begin(), paletteFallbacks.end());
    return folders;
}

std::string Viewer::paletteFolder() const {
    if (!paletteOverride.empty()) return paletteOverride;
    std::error_code ec;
    const fs::path own = fs::path(programDirectory) / "palettes";
    if (fs::is_directory(own, ec)) return own.string();
    for (const std::string& folder : paletteFallbacks)
        if (fs::is_directory(folder, ec)) return folder;
    return own.string();
}

void Viewer::fillPaletteLists() {
    listsFilling = true;
    std::vector<std::string> luts, itts;
    ListPaletteNames(paletteFolder(), luts, itts);
    auto fill = [](ComboModel& combo, std::vector<std::string> names,
                   const std::string& preferred) {
        combo.items = std::move(names);
        const auto it = std::find(combo.items.begin(), combo.items.end(), preferred);
        combo.select(it != combo.items.end() ? static_cast<int>(it - combo.items.begin()) : 0);
    };
    fill(controls.lutList, std::move(luts), "ramp");
    fill(controls.ittList, std::move(itts), "4_ramp");
    listsFilling = false;
}

LutTable Viewer::buildLutPalette() {
    if (givenLut_) return lut = *givenLut_;
    const std::string path = FindPaletteFile(paletteFolder(), controls.lutList.text, ".lut");
    lut = path.empty() ? GreyLut() : ReadLutFile(path);
    return lut;
}

void Viewer::loadItt() {
    const std::string path = FindPaletteFile(paletteFolder(), controls.ittList.text, ".itt");
    if (path.empty())
        SetRampItt(itt);
    else
        ReadIttFile(path, itt);
}

void Viewer::selectLut(int index) {
    if (listsFilling) return;
    controls.lutList.select(index);
    if (image.loaded && !image.pictureShown) renderDisplay();
}

void Viewer::selectItt(int index) {
    if (listsFilling) return;
    controls.ittList.select(index);
    loadItt();
    if (image.loaded && !image.pictureShown) renderDisplay();
}

// ---------------------------------------------------------------------------
// Thresholds

// The bars are anchored at the data: position 10000 is the data minimum, so that a frame
// whose values lie far from zero compared with their spread (a bias at 837..1164, say) still
// has its thresholds inside the bars' track, and one small step moves them by 1 % of the
// spread.
int Viewer::positionOf(double v) const {
    double q = (v - levels.origin) / levels.step;
    if (std::isnan(q)) q = 0;
    // Far outside the bar either way: the bar clamps it anyway.
    q = std::clamp(q, -1e9, 1e9);
    return static_cast<int>(RoundHalfEven(q)) + 10000;
}

double Viewer::valueOf(int p) const {
    return (p - 10000) * levels.step + levels.origin;
}

void Viewer::computeThresholds() {
    FlagGuard guard(levels.settingScrollBars);
    if (image.dataMax == image.dataMin) image.dataMax += 1;
    if (image.headerHigh == 0 && image.headerLow == 0) {
        image.headerHigh = image.dataMax;
        image.headerLow = image.dataMin;
    }
    if (image.headerHigh == image.headerLow) image.headerHigh += 1;
    levels.low = image.headerLow;
    levels.high = image.headerHigh;
    levels.range = std::max(std::fabs(image.dataMax - image.dataMin),
                            std::fabs(image.headerHigh - image.headerLow));
    levels.step = levels.range / 10000;
    levels.origin = image.dataMin;
    for (ScrollBarModel* bar : {&controls.lowBar, &controls.highBar}) {
        bar->largeChange = 3000;
        bar->smallChange = 100;
        bar->setMin(0);
        bar->setMax(30000);
    }
    if (levels.mode != kModeFixed) ModeThresholds(levels.mode, image, levels.low, levels.high);
    // In every mode, "fixe" included, the bars go where the new step puts the thresholds in
    // force: bars left where the previous image put them would mean other values at the next
    // drag. The thresholds themselves stay exact (the bars' handlers are off here).
    controls.lowBar.setPosition(positionOf(levels.low));
    controls.highBar.setPosition(positionOf(levels.high));
    controls.lowText = ThresholdText(levels.low, 3);
    controls.highText = ThresholdText(levels.high, 3);
}

std::string Viewer::ThresholdText(double v, int decimals) {
    // Fixed-point text as long as it fits the edit; beyond that the general form with as
    // many significant digits as fit, so that the leading digits are never hidden.
    std::string text = FormatFixed(v, decimals);
    for (int digits = 10; text.size() > kThresholdTextWidth && digits >= 3; --digits)
        text = FormatGeneral(v, digits);
    return text;
}

void Viewer::setThresholdMode(int index) {
    controls.thresholdMode = index;
    levels.mode = index;
    if (!image.loaded || image.pictureShown) return;
    if (index == kModeFixed) return;
    ModeThresholds(index, image, levels.low, levels.high);
    // Each bar that really moves snaps its threshold to the bar's grid and schedules a
    // redraw; a bar that stays leaves its threshold exact. Either way the edits show the
    // thresholds in force and the preview follows the new mode.
    const int lowBefore = controls.lowBar.position();
    const int highBefore = controls.highBar.position();
    const double exactLow = levels.low, exactHigh = levels.high;
    controls.lowBar.setPosition(positionOf(levels.low));
    controls.highBar.setPosition(positionOf(levels.high));
    const bool lowMoved = controls.lowBar.position() != lowBefore;
    const bool highMoved = controls.highBar.position() != highBefore;
    if (!lowMoved) controls.lowText = ThresholdText(exactLow, 3);
    if (!highMoved) controls.highText = ThresholdText(exactHigh, 3);
    if (!lowMoved && !highMoved) renderDisplay();
}

void Viewer::lowBarMoved() {
    if (levels.settingScrollBars) return;
    if (controls.lowBar.position() == controls.highBar.position())
        controls.lowBar.setPosition(controls.lowBar.position() + 1);
    levels.low = valueOf(controls.lowBar.position());
    controls.lowText = ThresholdText(levels.low, 1);
    controls.redrawTimer.stop();
    controls.redrawTimer.restart();
}

void Viewer::highBarMoved() {
    if (levels.settingScrollBars) return;
    if (controls.highBar.position() == controls.lowBar.position())
        controls.highBar.setPosition(controls.highBar.position() - 1);
    levels.high = valueOf(controls.highBar.position());
    controls.highText = ThresholdText(levels.high, 1);
    controls.redrawTimer.stop();
    controls.redrawTimer.restart();
}

void Viewer::applyThresholdEdits() {
    if (!image.loaded || image.pictureShown) return;
    {
        FlagGuard guard(levels.settingScrollBars);
        levels.low = static_cast<double>(StrToFloat(controls.lowText));
        controls.lowBar.setPosition(positionOf(levels.low));
        levels.high = static_cast<double>(StrToFloat(controls.highText));
        controls.highBar.setPosition(positionOf(levels.high));
    }
    renderDisplay();
}

void Viewer::redrawTimerExpired() {
    controls.redrawTimer.stop();
    if (image.loaded && !image.pictureShown) renderDisplay();
}

}  // namespace pelorin
