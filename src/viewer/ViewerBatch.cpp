// "Sauvegarde BMP": every selected entry rendered as a click would show it, then written as
// a BMP (or PNG) into the destination folder.
#include <algorithm>
#include <ctime>
#include <filesystem>

#include "base/Errors.h"
#include "base/FileChecks.h"
#include "base/NumberText.h"
#include "base/Paths.h"
#include "image/FileKinds.h"
#include "process/AtomicFile.h"
#include "process/Png.h"
#include "viewer/BatchOutputs.h"
#include "viewer/Viewer.h"

namespace pelorin {

namespace fs = std::filesystem;

namespace {

// Why the output of an entry must not be written at `destination`, or empty. Whatever is
// there is kept when it is the entry's own source, a source still to be read (or already
// read) in this batch, or, for a refused file, anything at all: its 1 x 1 black stand-in
// is worth less than whatever a user already has under that name.
std::string KeepReason(const std::string& destination, const std::string& source,
                       const std::vector<FileIdentity>& sources, bool rejected,
                       const std::string& rejection) {
    const auto target = IdentityOf(destination);
    if (target && target == IdentityOf(source))
        return "Non enregistré : " + destination + " est le fichier source.";
    if (target && std::binary_search(sources.begin(), sources.end(), *target))
        return "Non enregistré : " + destination + " est un fichier source de ce lot.";
    std::error_code ec;
    if (rejected && fs::exists(fs::symlink_status(destination, ec)))
        return rejection + " Non enregistré : " + destination + " existe déjà.";
    return {};
}

}  // namespace

BatchOutputs::BatchOutputs(std::vector<std::string> sources, std::vector<std::string> destinations)
    : sources_(std::move(sources)),
      destinations_(std::move(destinations)),
      sourceIds_(IdentitiesOf(sources_)) {}

void BatchOutputs::removeStaleTemporaryFiles(std::time_t started) const {
    std::vector<std::string> folders;
    for (const std::string& d : destinations_)
        folders.push_back(fs::path(d).parent_path().string());
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string& folder : folders)
        RemoveStaleTemporaryFiles(folder, started);
}

BatchEntryReport BatchOutputs::write(std::size_t i, const RenderedFile& rendered,
                                     OutputFormat format) {
    const std::string& source = sources_[i];
    const std::string& destination = destinations_[i];
    BatchEntryReport report;
    report.name = fs::path(source).filename().string();
    report.caption = rendered.caption;
    report.lowText = rendered.lowText;
    report.highText = rendered.highText;
    report.damage = rendered.damage;
    report.rejected = rendered.status == RenderStatus::Refused;
    if (report.rejected) report.reason = rendered.caption;
    // Two sources of one batch with one output name (m51.fit and m51.fits, or two folders
    // into one destination): the first one's output stays, the second is not converted.
    auto earlier = writtenPaths_.find(destination);
    if (earlier == writtenPaths_.end()) {
        if (const auto id = IdentityOf(destination)) {
            const auto byId = writtenIds_.find(*id);
            if (byId != writtenIds_.end())
                earlier = writtenPaths_.find(destinations_[byId->second]);
        }
    }
    if (earlier != writtenPaths_.end())
        throw OperationError("Non enregistré : " + destination + " vient déjà de " +
                             sources_[earlier->second] + ".");
    const std::string keep =
        KeepReason(destination, source, sourceIds_, report.rejected, report.reason);
    if (!keep.empty()) {
        report.skipped = true;
        report.reason = keep;
        return report;
    }
    if (!rendered.fileBytes.empty()) {
        WriteFileAtomically(destination, [&](std::ostream& out) {
            out.write(reinterpret_cast<const char*>(rendered.fileBytes.data()),
                      static_cast<std::streamsize>(rendered.fileBytes.size()));
        });
    } else if (format == OutputFormat::Png) {
        SavePngFile(rendered.bitmap, destination, rendered.trueColour);
    } else {
        rendered.bitmap.saveBmpFile(destination);
    }
    report.destination = destination;
    writtenPaths_.emplace(destination, i);
    if (const auto id = IdentityOf(destination)) writtenIds_.emplace(*id, i);
    return report;
}

std::string BatchProgressText(int done, int total, const std::string& name) {
    return "Sauvegarde " + std::to_string(done + 1) + " / " + std::to_string(total) + " : " + name;
}

std::string Viewer::destinationPath(const std::string& fileName) const {
    // A gzip-compressed file is named after the file inside it: m51.fits.gz gives m51.bmp.
    const std::string entryName = DecompressedName(fileName);
    std::string path = controls.destination;
    if (path.empty() || path.back() != kPathSeparator) path.push_back(kPathSeparator);
    // The extension is the part from the last "." of the name; a name without one gets
    // ".bmp" appended.
    const auto dot = entryName.rfind('.');
    const auto cut = entryName.find_last_of("/\\:");
    const bool hasExtension = dot != std::string::npos && (cut == std::string::npos || dot > cut);
    path += (hasExtension ? entryName.substr(0, dot) : entryName) +
            OutputExtension(controls.outputFormat);
    // A relative destination is relative to the folder shown in the list, where the
    // window keeps its working directory.
    fs::path p(path);
    if (p.is_relative() && !controls.fileList.folder.empty())
        p = fs::path(controls.fileList.folder) / p;
    return p.lexically_normal().string();
}

RenderSettings Viewer::renderSettings() {
    RenderSettings s;
    s.mode = levels.mode;
    s.plane = IntValueOrZero(controls.planeText);
    s.lut = buildLutPalette();
    s.itt = itt;
    s.filter = std::max(0, controls.filterList.index);
    s.filterThreshold = controls.filterThresholdText;
    if (levels.mode == kModeFixed && image.loaded && !image.pictureShown &&
        image.sourceDataMax != image.sourceDataMin)
        s.fixed = FixedThresholds{levels.low, levels.high};
    s.pictureColours = controls.pictureColours;
    s.force24Bit = controls.force24Bit;
    s.format = controls.outputFormat;
    return s;
}

void Viewer::showRendering(Viewer& r) {
    image = std::move(r.image);
    zoom = r.zoom;
    wcs = std::move(r.wcs);
    {
        // The bars take the rendering's positions without moving the thresholds.
        const bool setting = levels.settingScrollBars;
        levels = r.levels;
        levels.settingScrollBars = true;
        controls.lowBar.setMin(r.controls.lowBar.min());
        controls.lowBar.setMax(r.controls.lowBar.max());
        controls.lowBar.setPosition(r.controls.lowBar.position());
        controls.highBar.setMin(r.controls.highBar.min());
        controls.highBar.setMax(r.controls.highBar.max());
        controls.highBar.setPosition(r.controls.highBar.position());
        levels.settingScrollBars = setting;
    }
    displayBitmap = std::move(r.displayBitmap);
    colourBarBitmap = std::move(r.colourBarBitmap);
    band = r.band;
    const MainWindowModel& c = r.controls;
    controls.lowText = c.lowText;
    controls.highText = c.highText;
    controls.readout = c.readout;
    controls.status = c.status;
    controls.planeCount = c.planeCount;
    // The plane read goes back into the field: the window's own business.
    controls.planeText = c.planeText;
    controls.flipHorizontalShown = c.flipHorizontalShown;
    controls.flipVerticalShown = c.flipVerticalShown;
    controls.displayControlsEnabled = c.displayControlsEnabled;
    controls.thresholdModeEnabled = c.thresholdModeEnabled;
    controls.previewWidth = c.previewWidth;
    controls.previewHeight = c.previewHeight;
}

void Viewer::saveSelectedAsBmp(const BatchObserver* observer) {
    FileListModel& list = controls.fileList;
    std::vector<int> entries;
    std::vector<std::string> sources, destinations;
    for (int i = 0; i < list.count(); ++i) {
        if (!list.entries[static_cast<std::size_t>(i)].selected) continue;
        entries.push_back(i);
        sources.push_back(list.pathOf(i));
        destinations.push_back(destinationPath(list.entries[static_cast<std::size_t>(i)].name));
    }
    if (entries.empty()) return;
    BusyScope busy(onBusy);
    BatchOutputs outputs(std::move(sources), std::move(destinations));
    outputs.removeStaleTemporaryFiles(std::time(nullptr));
    RenderSettings settings = renderSettings();
    const int total = static_cast<int>(entries.size());
    for (int k = 0; k < total; ++k) {
        const auto index = static_cast<std::size_t>(k);
        const std::string& name = list.entries[static_cast<std::size_t>(entries[index])].name;
        if (observer && observer->onFileStart) observer->onFileStart(k, total, name);
        list.focused = entries[index];
        RenderedFile rendered = RenderFile(outputs.source(index), settings, decoder(), true);
        showRendering(*rendered.view);
        rendered.view.reset();
        if (onRepaint) onRepaint();
        if (rendered.status == RenderStatus::Failed)
            throw OperationError(rendered.messages.front());
        // In mode "fixe" the first image with thresholds gives them to the rest of the batch.
        if (settings.mode == kModeFixed && !settings.fixed) settings.fixed = rendered.thresholds;
        const BatchEntryReport report = outputs.write(index, rendered, settings.format);
        if (report.skipped) controls.status = report.reason;
        if (observer && observer->onFileDone) observer->onFileDone(report);
    }
}

}  // namespace pelorin
