// The viewer's construction, start-up and threshold handlers.
#include "display/Viewer.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

#include "sky/NumberText.h"

namespace pelorin {

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

Viewer::Viewer(std::string programDir, std::unique_ptr<PictureDecoder> decoder)
    : programDirectory(std::move(programDir)), decoder_(std::move(decoder)) {
    controls.scrollBar1.onChange = [this] { ScrollBar1Change(); };
    controls.scrollBar2.onChange = [this] { ScrollBar2Change(); };
    controls.directoryEdit1 = std::string(".") + kPathSeparator;
    for (int i = 0; i < 256; ++i) {
        lut[static_cast<std::size_t>(i)] =
            LutEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                     static_cast<std::uint8_t>(i), 1};
        itt[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    itt[0] = itt[1];
    colourBarBitmap.create(256, 1, 8);
    displayBitmap.create(1, 1, 8);
    paletteFallbacks.push_back(std::string(PELORIN_DATA_DIR) + kPathSeparator + "palettes");
    // An installed copy moved elsewhere as a whole: <prefix>/bin beside <prefix>/share.
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path())
        paletteFallbacks.push_back(
            (exe.parent_path().parent_path() / "share" / "pelorin" / "palettes").string());
}

Viewer::~Viewer() = default;

void Viewer::startUp() {
    words = MessageWords{};
    image.planeCount = 1;
    image.currentPlane = 1;
    controls.edit4 = "0";
    controls.edit5 = "9E99";
    wcs.fieldWidth = 0;
    wcs.projection = '-';
    image.loaded = false;

    fillPaletteLists();
    controls.comboBox3.items = FilterNames();
    controls.comboBox3.select(0);

    controls.image1Width = 320;
    displayBitmap.create(1, 1, 8);
    colourBarBitmap.create(256, 1, 8);
    // A malformed palette file is reported, but the window still starts in its empty state.
    std::exception_ptr paletteError;
    try {
        loadItt();
        lut = buildLutPalette();
    } catch (...) {
        paletteError = std::current_exception();
    }
    displayBitmap.setPalette(PaletteColours(lut));
    colourBarBitmap.setPalette(PaletteColours(lut));

    setDisplayControlsEnabled(false);
    controls.radioGroup2Enabled = true;
    clearDisplay();
    if (paletteError) std::rethrow_exception(paletteError);
}

// ---------------------------------------------------------------------------
// Thresholds

int Viewer::positionOf(double v) const {
    double q = v / levels.step;
    if (std::isnan(q)) q = 0;
    // Far outside the bar either way: the bar clamps it anyway.
    q = std::clamp(q, -1e9, 1e9);
    return static_cast<int>(RoundHalfEven(q)) + 10000;
}

double Viewer::valueOf(int p) const {
    return (p - 10000) * levels.step;
}

namespace {

// Low and high thresholds of modes 0 to 4 from the image as it stands.
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

}  // namespace

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
    for (ScrollBarModel* bar : {&controls.scrollBar1, &controls.scrollBar2}) {
        bar->largeChange = 3000;
        bar->smallChange = 100;
        bar->setMin(0);
        bar->setMax(30000);
    }
    if (levels.mode != kModeFixed) {
        ModeThresholds(levels.mode, image, levels.low, levels.high);
        controls.scrollBar1.setPosition(positionOf(levels.low));
        controls.scrollBar2.setPosition(positionOf(levels.high));
    }
    controls.edit1 = ThresholdText(levels.low, 3);
    controls.edit2 = ThresholdText(levels.high, 3);
}

std::string Viewer::ThresholdText(double v, int decimals) {
    // Fixed-point text, as long as it stays readable; beyond that the general form, which
    // reads back as the same number when the user presses Enter.
    if (std::fabs(v) >= 1e15) return FormatGeneral(v, 15);
    return FormatFixed(v, decimals);
}

void Viewer::RadioGroup2Click(int index) {
    controls.radioGroup2 = index;
    levels.mode = index;
    if (!image.loaded || image.pictureShown) return;
    if (index == kModeFixed) return;
    ModeThresholds(index, image, levels.low, levels.high);
    // Each bar that really moves snaps its threshold to the bar's grid and schedules a
    // redraw; a bar that stays leaves its threshold exact.
    controls.scrollBar1.setPosition(positionOf(levels.low));
    controls.scrollBar2.setPosition(positionOf(levels.high));
}

void Viewer::ScrollBar1Change() {
    if (levels.settingScrollBars) return;
    if (controls.scrollBar1.position() == controls.scrollBar2.position())
        controls.scrollBar1.setPosition(controls.scrollBar1.position() + 1);
    levels.low = valueOf(controls.scrollBar1.position());
    controls.edit1 = ThresholdText(levels.low, 1);
    controls.timer1.stop();
    controls.timer1.restart();
}

void Viewer::ScrollBar2Change() {
    if (levels.settingScrollBars) return;
    if (controls.scrollBar2.position() == controls.scrollBar1.position())
        controls.scrollBar2.setPosition(controls.scrollBar2.position() - 1);
    levels.high = valueOf(controls.scrollBar2.position());
    controls.edit2 = ThresholdText(levels.high, 1);
    controls.timer1.stop();
    controls.timer1.restart();
}

void Viewer::applyThresholdEdits() {
    if (!image.loaded || image.pictureShown) return;
    {
        FlagGuard guard(levels.settingScrollBars);
        levels.low = static_cast<double>(StrToFloat(controls.edit1));
        controls.scrollBar1.setPosition(positionOf(levels.low));
        levels.high = static_cast<double>(StrToFloat(controls.edit2));
        controls.scrollBar2.setPosition(positionOf(levels.high));
    }
    renderDisplay();
}

void Viewer::Edit1KeyPress(char key) {
    if (key == '\r') applyThresholdEdits();
}

void Viewer::Edit2KeyPress(char key) {
    if (key == '\r') applyThresholdEdits();
}

void Viewer::Timer1Timer() {
    controls.timer1.stop();
    if (image.loaded && !image.pictureShown) renderDisplay();
}

}  // namespace pelorin
