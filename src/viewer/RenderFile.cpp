#include "viewer/RenderFile.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>

#include "base/Errors.h"
#include "base/Paths.h"
#include "image/FileKinds.h"
#include "image/HeaderCards.h"
#include "image/ImageModel.h"
#include "viewer/Viewer.h"

namespace pelorin {

namespace fs = std::filesystem;

RenderedFile RenderFile(const std::string& path, const RenderSettings& settings,
                        PictureDecoder* decoder, bool keepView) {
    RenderedFile r;
    // A viewer of its own, as the window would be with these controls and nothing shown yet.
    auto v = std::make_shared<Viewer>(std::string());
    v->borrowedDecoder_ = decoder;
    v->givenLut_ = &settings.lut;
    v->fixedThresholds_ = settings.fixed;
    v->itt = settings.itt;
    v->levels.mode = v->controls.thresholdMode = settings.mode;
    v->controls.filterList.items = FilterNames();
    v->controls.filterList.select(settings.filter);
    v->controls.filterThresholdText = settings.filterThreshold;
    v->controls.pictureColours = settings.pictureColours;
    v->controls.planeText = std::to_string(settings.plane);
    v->image.currentPlane = settings.plane;
    // A refused file's black stand-in takes the palette of the colour bar.
    v->colourBarBitmap.setPalette(PaletteColours(settings.lut));
    const fs::path p(path);
    FileListModel& list = v->controls.fileList;
    list.folder = p.has_parent_path() ? p.parent_path().string() : std::string(".");
    list.entries.push_back({p.filename().string(), true});
    list.focused = 0;
    try {
        std::error_code ec;
        if (!fs::exists(path, ec))
            throw OperationError("Invalid file name - " + list.entries[0].name);
        v->loadSelectedFile();
        r.caption = v->controls.status;
        r.status = v->image.loaded ? RenderStatus::Rendered : RenderStatus::Refused;
        if (r.status == RenderStatus::Refused) r.messages.push_back(r.caption);
        if (v->image.loaded && !v->image.pictureShown &&
            v->image.sourceDataMax != v->image.sourceDataMin)
            r.thresholds = FixedThresholds{v->levels.low, v->levels.high};
        if (v->image.loaded) r.damage = DamageText(v->image);
        if (v->image.loaded && !v->image.pictureShown) {
            r.lowText = v->controls.lowText;
            r.highText = v->controls.highText;
        }
        if (settings.force24Bit && settings.format == OutputFormat::Png) {
            // The PNG encoder takes the colours from the palette row by row: a 24-bit copy of
            // the whole rendering would only add three bytes a pixel.
            r.trueColour = true;
        } else if (settings.force24Bit) {
            // Nothing reads the pixels any more: give their memory back before the 24-bit
            // copy is made, so a large image never holds both.
            if (!keepView) v->image = ImageState{};
            v->displayBitmap.convertTo24();
        }
        r.bitmap = keepView ? v->displayBitmap : std::move(v->displayBitmap);
    } catch (const std::exception& e) {
        r.status = RenderStatus::Failed;
        r.caption = v->controls.status;
        r.messages.push_back(e.what());
    }
    v->borrowedDecoder_ = nullptr;
    v->givenLut_ = nullptr;
    v->fixedThresholds_.reset();
    if (keepView) r.view = std::move(v);
    return r;
}

namespace {

// The image a plain FITS file's first header announces, as pixels and bytes a pixel: none
// when it does not tell (another kind of file, a compressed one, a header cut short).
struct Claim {
    std::uint64_t pixels = 0;
    std::uint64_t bytesPerPixel = 0;
};

Claim FitsClaim(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    HeaderCards cards;
    char card[kFitsCardSize];
    for (int i = 0; i < 36 * 20 && in.read(card, sizeof card); ++i) {
        HeaderCard c = ParseCard(std::string_view(card, sizeof card));
        if (i == 0 && c.keyword != "SIMPLE") return {};
        if (c.keyword == "END") break;
        cards.push_back(std::move(c));
    }
    const auto bitpix = CardInteger(cards, "BITPIX").value_or(0);
    const auto naxis = CardInteger(cards, "NAXIS").value_or(0);
    const auto n1 = CardInteger(cards, "NAXIS1").value_or(0);
    const auto n2 = CardInteger(cards, "NAXIS2").value_or(0);
    if (naxis < 2 || n1 <= 0 || n2 <= 0 || bitpix == 0 || n1 > (1 << 30) || n2 > (1 << 30))
        return {};
    const auto pixels = static_cast<std::uint64_t>(n1) * static_cast<std::uint64_t>(n2);
    const auto bytes = static_cast<std::uint64_t>(std::llabs(bitpix) / 8);
    // A large plane of which the file holds less than half is refused before anything is
    // allocated.
    std::error_code ec;
    const std::uint64_t fileSize = fs::file_size(path, ec);
    if (ec || (IsLargePlane(static_cast<std::int64_t>(pixels), static_cast<int>(bytes)) &&
               fileSize < pixels * bytes / 2))
        return {};
    return {pixels, bytes};
}

}  // namespace

std::uint64_t RenderMemoryClaim(const std::string& path, const RenderSettings& settings) {
    const bool plain =
        FileKindOf(path) == FileKind::Fits &&
        DecompressedName(fs::path(path).filename().string()) == fs::path(path).filename().string();
    const Claim c = plain ? FitsClaim(path) : Claim{};
    if (c.pixels == 0) {
        std::error_code ec;
        const std::uint64_t fileSize = fs::file_size(path, ec);
        return (ec ? 0 : fileSize) * 4 + (std::uint64_t{1} << 20);
    }
    // The pixels, their copy for a filter, and the bitmap (8 bits, and 24 when asked).
    return c.pixels * c.bytesPerPixel * (settings.filter > 0 ? 2 : 1) +
           c.pixels * (settings.force24Bit ? 4 : 1);
}

}  // namespace pelorin
