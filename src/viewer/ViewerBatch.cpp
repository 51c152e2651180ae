// "Sauvegarde BMP": every selected entry of the list loaded as a click would load it, then
// its rendering written as a BMP into the destination folder.
#include <algorithm>
#include <filesystem>

#include "base/Errors.h"
#include "base/FileChecks.h"
#include "base/NumberText.h"
#include "image/FileKinds.h"
#include "process/Png.h"
#include "viewer/Viewer.h"

namespace pelorin {

namespace fs = std::filesystem;

namespace {

// Why the output of an entry must not be written at `destination`, or empty. Whatever is
// there is kept when it is the entry's own source, a source still to be read (or already
// read) in this batch, or, for a refused file, anything at all: its 1 x 1 black stand-in
// is worth less than whatever a user already has under that name.
std::string KeepReason(const std::string& destination, const std::string& source,
                       const std::vector<FileIdentity>& listSources,
                       const std::vector<FileIdentity>& otherSources, bool rejected,
                       const std::string& rejection) {
    const auto target = IdentityOf(destination);
    if (target && target == IdentityOf(source))
        return "Non enregistré : " + destination + " est le fichier source.";
    auto among = [&](const std::vector<FileIdentity>& ids) {
        return std::binary_search(ids.begin(), ids.end(), *target);
    };
    if (target && (among(listSources) || among(otherSources)))
        return "Non enregistré : " + destination + " est un fichier source de ce lot.";
    std::error_code ec;
    if (rejected && fs::exists(fs::symlink_status(destination, ec)))
        return rejection + " Non enregistré : " + destination + " existe déjà.";
    return {};
}

}  // namespace

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

void Viewer::saveSelectedAsBmp(const BatchObserver* observer,
                               const std::vector<FileIdentity>& otherSources) {
    FileListModel& list = controls.fileList;
    const int n = list.count();
    if (n == 0) return;
    int total = 0;
    std::vector<std::string> sources;
    for (int i = 0; i < n; ++i) {
        if (!list.entries[static_cast<std::size_t>(i)].selected) continue;
        ++total;
        sources.push_back(list.pathOf(i));
    }
    const std::vector<FileIdentity> listSources = IdentitiesOf(sources);
    int done = 0;
    for (int i = 0; i < n; ++i) {
        if (!list.entries[static_cast<std::size_t>(i)].selected) continue;
        const std::string name = list.entries[static_cast<std::size_t>(i)].name;
        if (observer && observer->onFileStart) observer->onFileStart(done, total, name);
        image.currentPlane = IntValueOrZero(controls.planeText);
        list.focused = i;
        const std::string source = list.pathOf(i);
        std::error_code ec;
        if (!fs::exists(source, ec)) throw OperationError("Invalid file name - " + name);
        loadSelectedFile();
        if (onRepaint) onRepaint();

        BatchEntryReport report;
        report.name = name;
        report.caption = controls.status;
        report.rejected = !image.loaded;
        if (report.rejected) report.reason = controls.status;
        if (!report.rejected) report.damage = DamageText(image);
        if (observer && observer->beforeSave) observer->beforeSave(report);

        const std::string destination = destinationPath(name);
        const std::string keep = KeepReason(destination, source, listSources, otherSources,
                                            report.rejected, report.reason);
        if (!keep.empty()) {
            report.skipped = true;
            report.reason = keep;
            controls.status = report.reason;
        } else {
            if (controls.force24Bit) displayBitmap.convertTo24();
            if (controls.outputFormat == OutputFormat::Png)
                SavePngFile(displayBitmap, destination);
            else
                displayBitmap.saveBmpFile(destination);
            report.destination = destination;
        }
        ++done;
        if (observer && observer->onFileDone) observer->onFileDone(report);
    }
}

}  // namespace pelorin
