// Loading the focused file of the list by its extension, the plane edit, and the header
// listing on a right click.
#include <algorithm>
#include <filesystem>

#include "display/Viewer.h"
#include "image/Readers.h"
#include "sky/NumberText.h"

namespace pelorin {

namespace fs = std::filesystem;

// Lower-cased extension with its dot: the text from the last "." of the name (after the
// last folder separator) to the end; empty when there is none.
std::string LowerExtension(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

std::string BaseName(const std::string& path) {
    const auto p = path.find_last_of("/\\");
    return p == std::string::npos ? path : path.substr(p + 1);
}

namespace {

// Extensions are matched whole: "x." or "x.f" belongs to no list.
bool InList(const std::string& ext, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
}

bool IsFits(const std::string& ext) {
    return InList(ext, {".fit", ".fts", ".fits"});
}
bool IsPic(const std::string& ext) {
    return ext == ".pic";
}
bool IsPicture(const std::string& ext) {
    return InList(ext, {".bmp", ".dib", ".gif", ".jif", ".jpg", ".jpeg", ".tga", ".rle", ".pcx"});
}

// Case-insensitive wildcard match of one mask ("*.fit", "?x*").
bool WildcardMatch(const char* mask, const char* name) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    const char* starMask = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (*mask == '?' || (*mask && lower(*mask) == lower(*name))) {
            ++mask;
            ++name;
        } else if (starMask) {
            mask = starMask;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == 0;
}

}  // namespace

bool MatchesMasks(const std::string& name, const std::string& masks) {
    std::size_t start = 0;
    while (start <= masks.size()) {
        const auto end = std::min(masks.find(';', start), masks.size());
        std::string mask = masks.substr(start, end - start);
        mask.erase(0, mask.find_first_not_of(' '));
        if (!mask.empty() && WildcardMatch(mask.c_str(), name.c_str())) return true;
        start = end + 1;
    }
    return false;
}

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

void Viewer::BitBtn5Click() {
    controls.fileList.selectAll();
}
void Viewer::BitBtn6Click() {
    controls.fileList.selectNone();
}

void Viewer::FileListBox1Click() {
    image.currentPlane = IntValueOrZero(controls.edit4);
    LoadSelectedFile();
}

void Viewer::Edit4Change(const std::string& text) {
    controls.edit4 = text;
    if (!image.loaded) return;
    image.currentPlane = IntValueOrZero(text);
    LoadSelectedFile();
}

void Viewer::clearForFailedLoad() {
    // An error in the middle of a read: nothing that describes the previous image may be
    // used with the reset arrays, so the display is cleared as for a rejected file.
    image.height = 0;
    image.width = 0;
    image.pictureShown = false;
    clearDisplay();
}

void Viewer::LoadSelectedFile() {
    image.height = 0;
    wcs.fieldWidth = 0;
    image.planeCount = 1;
    wcs.projection = '-';
    image.errorText.clear();
    wcs.ctype1.clear();
    wcs.ctype2.clear();
    image.pictureShown = false;
    zoom.flipHorizontal = false;
    zoom.flipVertical = false;
    setFlipButtons();
    setDisplayControlsEnabled(true);
    image.fileName = controls.fileList.selectedFocusedPath();
    const std::string ext = LowerExtension(image.fileName);

    BusyScope busy(onBusy);
    try {
        ResetImageArrays(image);
        if (IsFits(ext)) ReadFitsImage(image.fileName, image, wcs, zoom, words);
        if (IsPic(ext)) ReadPicImage(image.fileName, image);
        if (IsPicture(ext)) importPicture(image.fileName);

        if (image.height > 0 && image.width > 0) {
            SaveSourcePixels(image);
            controls.label10 = "/" + std::to_string(image.planeCount);
            // The plane actually read goes back into the edit. The edit's own change
            // handler is not run for it: a nested load would end in the same state.
            controls.edit4 = std::to_string(image.currentPlane);
            if (levels.mode == kModeFixed && image.sourceDataMax != image.sourceDataMin) {
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
            const int filter = controls.comboBox3.index;
            if (filter <= 0) {
                renderDisplay();
            } else {
                applyFilter();
            }
            image.loaded = true;
        } else if (!image.pictureShown) {
            showUnsupportedFormat();
        }
    } catch (...) {
        clearForFailedLoad();
        throw;
    }
}

bool Viewer::listHeader(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (IsFits(ext)) return ListFitsHeader(path, headerText, image.errorText, words);
    if (IsPic(ext)) return ListPicHeader(path, headerText);
    return false;
}

void Viewer::FileListBox1MouseDown(unsigned button, int index) {
    if (button != kRightButton) return;
    image.errorText.clear();
    if (index < 0 || index >= controls.fileList.count()) return;
    const std::string path = controls.fileList.pathOf(index);
    if (listHeader(path)) {
        if (onShowHeader) onShowHeader(path);
    } else {
        controls.label2 = image.errorText;
    }
}

}  // namespace pelorin
