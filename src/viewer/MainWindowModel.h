// Plain models of the main window's controls. The core reads and writes these; the
// window shows them and forwards the user's actions to the core's handlers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/Paths.h"

namespace pelorin {

// A scroll bar that clamps every position into Min..Max and runs its change handler only
// when the position really changes, also when the program moves it.
class ScrollBarModel {
  public:
    int min() const { return min_; }
    int max() const { return max_; }
    int position() const { return position_; }
    int smallChange = 10;
    int largeChange = 500;

    void setPosition(int p);
    void setMin(int m);
    void setMax(int m);

    std::function<void()> onChange;

  private:
    int min_ = -32767;
    int max_ = 32767;
    int position_ = 0;
};

// A drop-down list: its items and the selected index (-1: none).
struct ComboModel {
    std::vector<std::string> items;
    int index = -1;
    // The text shown: the selected item, or the typed text of an editable list.
    std::string text;
    void select(int i) {
        index = (i >= 0 && i < static_cast<int>(items.size())) ? i : -1;
        text = index >= 0 ? items[static_cast<std::size_t>(index)] : std::string();
    }
};

struct FileEntry {
    std::string name;
    bool selected = false;
    bool operator==(const FileEntry&) const = default;
};

// The file list of one folder.
struct FileListModel {
    std::string folder;  // full path of the folder shown
    std::vector<FileEntry> entries;
    int focused = -1;  // the item with the focus: the file on display
    bool operator==(const FileListModel&) const = default;

    int count() const { return static_cast<int>(entries.size()); }
    // Folder, a separator unless the folder already ends with one, and the entry's name.
    std::string pathOf(int i) const;
    // The focused item's path when it is selected, else empty.
    std::string selectedFocusedPath() const;
    void selectAll();
    void selectNone();
};

// The one-shot redraw timer. The core only asks for it to be (re)started or stopped; the
// window (or a test) fires redrawTimerExpired when it runs out.
struct TimerModel {
    bool enabled = false;
    int interval = 1000;
    std::function<void(bool enabled)> onStateChange;
    void restart() {
        enabled = true;
        if (onStateChange) onStateChange(true);
    }
    void stop() {
        enabled = false;
        if (onStateChange) onStateChange(false);
    }
};

// A choice of the mask chooser: its description and its ";"-separated wildcard masks.
struct FileMask {
    std::string description;
    std::string masks;
};

// The masks offered for the file list, in order; the first is the list's mask at start.
// Every mask for FITS files also lists "*.fits", the long form other programs write, and the
// compressed forms archives ship.
inline const std::vector<FileMask>& FileMasks() {
    static const std::vector<FileMask> masks = {
        {"All files",
         "*.fit;*.fits;*.fts;*.fit.gz;*.fits.gz;*.fts.gz;*.fz;*.pic;*.bmp;*.dib;*.jpg;*.jpeg;"
         "*.jif;*.gif;*.tga;*.rle;*.pcx"},
        {"FITS,PIC", "*.fit;*.fits;*.fts;*.fit.gz;*.fits.gz;*.fts.gz;*.fz;*.pic"},
        {"FITS", "*.fit;*.fits;*.fts;*.fit.gz;*.fits.gz;*.fts.gz;*.fz"},
        {"PIC", "*.pic"},
        {"BMP", "*.bmp;*.dib"},
        {"JPEG", "*.jpg;*.jpeg"},
        {"GIF", "*.gif"},
        {"TARGA", "*.tga"},
        {"RLE", "*.rle"},
        {"PCX", "*.pcx"},
    };
    return masks;
}

// The filter names of the filter list, in order.
inline const std::vector<std::string>& FilterNames() {
    static const std::vector<std::string> names = {
        "None",      "LowPass 1",  "LowPass 2",  "LowPass 3",  "LowPass 4",
        "LowPass 5", "Gauss",      "Focus 1",    "Focus 2",    "Focus 3",
        "Edge",      "Gradient 1", "Gradient 2", "Gradient 3", "Gradient 4"};
    return names;
}

// How an ordinary picture is shown: in its own colours ("Palette du bitmap"), or turned into
// grey levels that the thresholds and palettes then work on ("Palette modifiable"). The
// values are the radio buttons' order.
enum class PictureColours { Own = 0, Adjustable = 1 };

// The file format the batch writes.
enum class OutputFormat { Bmp = 0, Png = 1 };

// Extension of the files of a format, with its dot.
inline const char* OutputExtension(OutputFormat f) {
    return f == OutputFormat::Png ? ".png" : ".bmp";
}

// The caption of the save button: "Sauvegarde BMP", or the chosen format in its place.
inline std::string SaveButtonText(OutputFormat f) {
    return f == OutputFormat::Png ? "Sauvegarde PNG" : "Sauvegarde BMP";
}

// The caption of the 24-bit check box: it names the format chosen, and BMP as well when
// PNG is chosen, since the box then forces the 24-bit pixels of both.
inline std::string Force24BitText(OutputFormat f) {
    return f == OutputFormat::Png ? "Force le format BMP/PNG 24 bits"
                                  : "Force le format BMP 24 bits";
}

struct MainWindowModel {
    std::string lowText;                       // "Min:"
    std::string highText;                      // "Max:"
    std::string planeText = "0";               // "Couche"
    std::string filterThresholdText = "9E99";  // filter threshold "Seuil"
    std::string readout = " ";                 // pixel readout
    std::string status = " ";                  // status caption
    std::string planeCount = "/1";             // number of planes
    ScrollBarModel lowBar;
    ScrollBarModel highBar;
    PictureColours pictureColours = PictureColours::Adjustable;
    int thresholdMode = 0;    // threshold mode
    ComboModel lutList;       // LUT
    ComboModel ittList;       // ITT
    ComboModel filterList;    // filter
    bool force24Bit = false;  // "Force le format BMP 24 bits"
    OutputFormat outputFormat = OutputFormat::Bmp;
    bool flipVerticalShown = false;    // vertical flip
    bool flipHorizontalShown = false;  // horizontal flip
    bool displayControlsEnabled = false;
    bool thresholdModeEnabled = false;
    std::string destination;  // destination folder ("Copie vers")
    FileListModel fileList;
    TimerModel redrawTimer;
    int previewWidth = 320;  // the preview's size, fitted into the box below
    int previewHeight = 240;
    int previewBoxWidth = 320;  // the room the window gives the preview
    int previewBoxHeight = 240;
    // The labels at the two ends of the colour bar: the thresholds of the last redraw, as
    // the edits showed them; blank without an image.
    std::string colourBarLow;
    std::string colourBarHigh;
};

}  // namespace pelorin
