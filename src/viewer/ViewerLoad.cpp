// The file list, loading the focused file by its kind (FITS, PIC or an ordinary picture),
// the plane field, and the header listing.
#include <algorithm>
#include <filesystem>

#include "base/FileChecks.h"
#include "base/NumberText.h"
#include "base/Paths.h"
#include "image/FileKinds.h"
#include "image/HeaderCards.h"
#include "image/Readers.h"
#include "process/PictureImport.h"
#include "process/PictureLimits.h"
#include "viewer/Viewer.h"

namespace pelorin {

namespace fs = std::filesystem;

void Viewer::setFolder(const std::string& folder, const std::string& mask) {
    FileListModel list;
    list.folder = folder;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        if (MatchesMasks(name, mask)) list.entries.push_back({name, false});
    }
    std::sort(list.entries.begin(), list.entries.end(), [](const FileEntry& a, const FileEntry& b) {
        std::string la = a.name, lb = b.name;
        for (char& c : la)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : lb)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return la != lb ? la < lb : a.name < b.name;
    });
    controls.fileList = std::move(list);
}

bool Viewer::selectNamedFiles(const std::vector<std::string>& names) {
    FileListModel& list = controls.fileList;
    int first = -1;
    for (const std::string& name : names)
        for (int i = 0; i < list.count(); ++i)
            if (list.entries[static_cast<std::size_t>(i)].name == name) {
                if (first < 0) first = i;
                break;
            }
    if (first < 0) return false;
    for (FileEntry& e : list.entries)
        e.selected = std::find(names.begin(), names.end(), e.name) != names.end();
    list.focused = first;
    return true;
}

std::string Viewer::MissingPathMessage(const std::string& path) {
    return "Fichier introuvable : " + path;
}

void Viewer::selectAllFiles() {
    controls.fileList.selectAll();
}
void Viewer::selectNoFiles() {
    controls.fileList.selectNone();
}

void Viewer::openFocusedFile() {
    image.currentPlane = IntValueOrZero(controls.planeText);
    if (controls.fileList.selectedFocusedPath().empty()) {
        // The file on display was taken out of the selection (a Ctrl-click): nothing is
        // shown any more, and nothing is wrong with it either.
        clearDisplay();
        image.height = image.width = 0;
        image.pictureShown = false;
        setDisplayControlsEnabled(false);
        controls.thresholdModeEnabled = true;
        return;
    }
    loadSelectedFile();
}

std::string Viewer::OutsideFolderMessage(const std::string& firstFile,
                                         const std::vector<std::string>& others) {
    std::string names;
    for (const std::string& other : others)
        names += (names.empty() ? "" : ", ") + other;
    return "Non ouverts, hors du dossier de " + firstFile + " : " + names;
}

void Viewer::setPlaneText(const std::string& text) {
    controls.planeText = text;
    if (!image.loaded) return;
    image.currentPlane = IntValueOrZero(text);
    loadSelectedFile();
}

void Viewer::clearForFailedLoad() {
    // An error in the middle of a read: nothing that describes the previous image may be
    // used with the reset arrays, so the display is cleared as for a rejected file.
    image.height = 0;
    image.width = 0;
    image.pictureShown = false;
    clearDisplay();
}

void Viewer::loadSelectedFile() {
    image.height = 0;
    image.zeroMayBeBlank = false;
    wcs.fieldWidth = 0;
    image.planeCount = 1;
    wcs.projection = '-';
    image.errorText.clear();
    sky = CelestialWcs();
    image.pictureShown = false;
    zoom.flipHorizontal = false;
    zoom.flipVertical = false;
    setFlipButtons();
    setDisplayControlsEnabled(true);
    // The readout described the previous image.
    controls.readout = " ";
    image.fileName = controls.fileList.selectedFocusedPath();
    const FileKind kind = FileKindOf(image.fileName);

    BusyScope busy(onBusy);
    try {
        // Nothing of the file before, read or refused, may reach this one.
        StartNewImage(image);
        // A folder, pipe or device under an image's name is refused before any reader
        // opens it: a reader would block on a pipe or read a device without end.
        if (kind != FileKind::Other) image.errorText = NotRegularFileReason(image.fileName);
        if (!image.errorText.empty()) {
            // refused: reported below as an unsupported format, with the reason
        } else if (kind == FileKind::Fits) {
            ReadFitsImage(image.fileName, image, wcs, zoom, words);
        } else if (kind == FileKind::Pic) {
            ReadPicImage(image.fileName, image);
        } else if (kind == FileKind::Picture) {
            importPicture(image.fileName);
        }

        if (image.height > 0 && image.width > 0) {
            // The image's celestial system, read once for every window shown of it.
            if (!image.cards.empty())
                sky = CelestialWcs(HeaderString(image.cards), image.width, image.height);
            showLoadedImage();
        } else if (!image.pictureShown) {
            showUnsupportedFormat();
        }
    } catch (...) {
        clearForFailedLoad();
        setFlipButtons();
        throw;
    }
    // The header may have set a flip: the buttons show the flips in force.
    setFlipButtons();
}

void Viewer::showLoadedImage() {
    KeepPixelsAsSource(image);
    controls.planeCount = "/" + std::to_string(image.planeCount);
    // The plane actually read goes back into the edit. The edit's own change handler is not
    // run for it: a nested load would end in the same state.
    controls.planeText = std::to_string(image.currentPlane);
    // In "fixe" mode the thresholds in use carry over to the new image: those given to a
    // rendering of its own, or those of the image shown before. Its source statistics are
    // still those of that image: equal ones (nothing shown yet, or a flat image) leave no
    // thresholds worth keeping.
    if (levels.mode == kModeFixed && fixedThresholds_) {
        image.headerHigh = fixedThresholds_->high;
        image.headerLow = fixedThresholds_->low;
    } else if (levels.mode == kModeFixed && image.sourceDataMax != image.sourceDataMin) {
        image.headerHigh = levels.high;
        image.headerLow = levels.low;
    }
    computeThresholds();
    SaveSourceStatistics(image);
    zoom.colStart = zoom.rowStart = 0;
    zoom.colEnd = zoom.cols = image.width;
    zoom.rowEnd = zoom.rows = image.height;
    zoom.prevColStart = zoom.prevRowStart = 0;
    zoom.prevColEnd = image.width;
    zoom.prevRowEnd = image.height;
    const int filter = controls.filterList.index;
    if (filter <= 0) {
        renderDisplay();
    } else {
        applyFilter();
    }
    image.loaded = true;
}

void Viewer::importPicture(const std::string& path) {
    image.bzero = 0;
    image.bscale = 1;
    image.height = 0;
    image.width = 0;

    Bitmap picture;
    try {
        if (LowerExtension(path) == ".bmp") {
            picture = Bitmap::ReadBmpFile(path);
        } else if (PictureDecoder* const decoder = this->decoder()) {
            std::error_code ec;
            const std::uint64_t fileSize = fs::file_size(path, ec);
            const PictureDecoder::Header header = decoder->pictureHeader(path);
            if (header.beyondLimits) throw PictureRefused(PictureBeyondLimitsRefusal());
            if (!ec && header.sizeKnown) {
                const std::string refusal =
                    PictureSizeRefusal(header.width, header.height, fileSize);
                if (!refusal.empty()) throw PictureRefused(refusal);
            }
            Bitmap decoded;
            if (decoder->decode(path, decoded)) picture = std::move(decoded);
        }
    } catch (const PictureRefused& e) {
        image.errorText = e.what();
        return;
    }
    if (picture.empty()) return;

    if (controls.pictureColours == PictureColours::Own) {
        showPicture(BaseName(path), picture);
        image.planeCount = 1;
        image.currentPlane = 1;
        return;
    }

    GreyPixelsFromPicture(picture, image);
}

bool Viewer::listHeader(const std::string& path) {
    if (FileKindOf(path) != FileKind::Other) {
        image.errorText = NotRegularFileReason(path);
        if (!image.errorText.empty()) return false;
    }
    switch (FileKindOf(path)) {
        case FileKind::Fits:
            return ListFitsHeader(path, headerText, image.errorText, words);
        case FileKind::Pic:
            return ListPicHeader(path, headerText);
        default:
            return false;
    }
}

void Viewer::showHeaderOf(int index) {
    image.errorText.clear();
    if (index < 0 || index >= controls.fileList.count()) return;
    const std::string path = controls.fileList.pathOf(index);
    if (listHeader(path)) {
        if (onShowHeader) onShowHeader(path);
    } else {
        controls.status = image.errorText;
    }
}

}  // namespace pelorin
