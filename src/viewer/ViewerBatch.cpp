// "Sauvegarde BMP": every selected entry of the list loaded as a click would load it, then
// its rendering written as a BMP into the destination folder.
#include <filesystem>

#include "base/Errors.h"
#include "base/NumberText.h"
#include "viewer/Viewer.h"

namespace pelorin {

namespace fs = std::filesystem;

std::string Viewer::destinationPath(const std::string& entryName) const {
    std::string path = controls.destination;
    if (path.empty() || path.back() != kPathSeparator) path.push_back(kPathSeparator);
    // The extension is the part from the last "." of the name; a name without one gets
    // ".bmp" appended.
    const auto dot = entryName.rfind('.');
    const auto cut = entryName.find_last_of("/\\:");
    const bool hasExtension = dot != std::string::npos && (cut == std::string::npos || dot > cut);
    path += (hasExtension ? entryName.substr(0, dot) : entryName) + ".bmp";
    // A relative destination is relative to the folder shown in the list, where the
    // window keeps its working directory.
    fs::path p(path);
    if (p.is_relative() && !controls.fileList.folder.empty())
        p = fs::path(controls.fileList.folder) / p;
    return p.lexically_normal().string();
}

void Viewer::saveSelectedAsBmp(const BatchObserver* observer) {
    FileListModel& list = controls.fileList;
    const int n = list.count();
    if (n == 0) return;
    int total = 0;
    for (const auto& e : list.entries)
        total += e.selected ? 1 : 0;
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
        if (observer && observer->beforeSave) observer->beforeSave(report);

        const std::string destination = destinationPath(name);
        if (fs::exists(destination, ec) && fs::equivalent(destination, source, ec)) {
            // Writing here would replace the source picture by its own rendering.
            report.skipped = true;
            report.reason = "Non enregistré : " + destination + " est le fichier source.";
            controls.status = report.reason;
        } else {
            if (controls.force24Bit) displayBitmap.convertTo24();
            displayBitmap.saveBmpFile(destination);
            report.destination = destination;
        }
        ++done;
        if (observer && observer->onFileDone) observer->onFileDone(report);
    }
}

}  // namespace pelorin
