// The viewer's construction, start-up and threshold handlers.
#include "viewer/Viewer.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

#include "base/NumberText.h"
#include "display/Levels.h"

namespace pelorin {

Viewer::Viewer(std::string programDir, std::unique_ptr<PictureDecoder> decoder)
    : programDirectory(std::move(programDir)), decoder_(std::move(decoder)) {
    controls.lowBar.onChange = [this] { lowBarMoved(); };
    controls.highBar.onChange = [this] { highBarMoved(); };
    controls.destination = std::string(".") + kPathSeparator;
    for (int i = 0; i < 256; ++i) {
        lut[static_cast<std::size_t>(i)] =
            LutEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                     static_cast<std::uint8_t>(i), 1};
        itt[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    itt[0] = itt[1];
    colourBarBitmap.create(256, 1, 8);
    displayBitmap.create(1, 1, 8);
    // The installed palettes seen from the program's own folder first, so that a copy
    // unpacked or installed under another root uses its own; then those of the configured
    // prefix.
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path())
        paletteFallbacks.push_back((exe.parent_path() / PELORIN_DATA_DIR_FROM_BIN / "palettes")
                                       .lexically_normal()
                                       .string());
    paletteFallbacks.push_back(std::string(PELORIN_DATA_DIR) + kPathSeparator + "palettes");
}

Viewer::~Viewer() = default;

void Viewer::startUp() {
    words = MessageWords{};
    image.planeCount = 1;
    image.currentPlane = 1;
    controls.planeText = "0";
    controls.filterThresholdText = "9E99";
    wcs.fieldWidth = 0;
    wcs.projection = '-';
    image.loaded = false;

    fillPaletteLists();
    controls.filterList.items = FilterNames();
    controls.filterList.select(0);

    controls.previewWidth = 320;
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
    controls.thresholdModeEnabled = true;
    clearDisplay();
    // Empty palette lists leave the images grey; say why, and where the palettes were
    // looked for.
    const bool noLut = controls.lutList.items.empty(), noItt = controls.ittList.items.empty();
    if (noLut || noItt) {
        std::string where;
        for (const std::string& folder : paletteSearchFolders())
            where += (where.empty() ? "" : " ; ") + folder;
        controls.status = std::string(noLut && noItt ? "Aucune palette trouvée"
                                      : noLut        ? "Aucune palette de couleurs (.lut) trouvée"
                                              : "Aucune table d'intensité (.itt) trouvée") +
                          ", cherché dans : " + where;
    }
    if (paletteError) std::rethrow_exception(paletteError);
}

}  // namespace pelorin
