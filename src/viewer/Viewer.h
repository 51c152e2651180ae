// The viewer: the one object that owns the image, its display state and the model of the
// main window's controls, with the handlers of the window's events. The Qt window and the
// command-line converter each create one and drive it; tests create a fresh one per case.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/FileChecks.h"
#include "base/Paths.h"
#include "display/DisplayTypes.h"
#include "image/FileKinds.h"
#include "image/ImageModel.h"
#include "process/Bitmap.h"
#include "process/PictureDecoder.h"
#include "viewer/MainWindowModel.h"

namespace pelorin {

// The 256 colours of a palette table, for a bitmap.
std::vector<RgbColour> PaletteColours(const LutTable& lut);

// Mouse buttons and modifier keys, as a set of flags.
enum MouseFlags : unsigned {
    kLeftButton = 1,
    kRightButton = 2,
    kMiddleButton = 4,
    kShiftKey = 8,
    kControlKey = 16,
    kAltKey = 32,
};

// What happened to one entry of a BMP batch.
struct BatchEntryReport {
    std::string name;         // the entry's file name
    std::string destination;  // path written, empty when skipped
    std::string caption;      // the status caption after its load
    bool rejected = false;    // written as 1 x 1 black: the readers refused it
    bool skipped = false;     // not written (it would replace a source, or a refused file
                              // would replace an existing one)
    std::string reason;       // why it was rejected or skipped
    std::string damage;       // what the file lacks when it is cut short, else empty
};

// Called by the batch before and after each selected entry.
struct BatchObserver {
    std::function<void(int done, int total, const std::string& name)> onFileStart;
    std::function<void(const BatchEntryReport&)> onFileDone;
    // After an entry's load, before anything is written for it. An exception raised here
    // ends the batch at this entry with nothing written for it.
    std::function<void(const BatchEntryReport&)> beforeSave;
};

// Shows the hourglass for the life of a scope, however the scope ends.
class BusyScope {
  public:
    explicit BusyScope(const std::function<void(bool)>& onBusy) : onBusy_(onBusy) {
        if (onBusy_) onBusy_(true);
    }
    ~BusyScope() {
        if (onBusy_) onBusy_(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    const std::function<void(bool)>& onBusy_;
};

class Viewer {
  public:
    // programDirectory: the folder holding "palettes"; the palette lists are filled from it.
    explicit Viewer(std::string programDirectory, std::unique_ptr<PictureDecoder> decoder = {});
    ~Viewer();

    // ---- The records ----
    ImageState image;
    ZoomWindow zoom;
    WcsInfo wcs;
    DisplayLevels levels;
    LutTable lut{};  // the palette as last built
    IttTable itt{};
    Bitmap displayBitmap;
    Bitmap colourBarBitmap;
    HeaderText headerText;
    MessageWords words;
    SelectionBand band;
    MainWindowModel controls;

    std::string programDirectory;
    // Folders searched for palettes when programDirectory has no "palettes" folder: the
    // palettes installed with the program, or those of the source tree for a build-tree copy.
    std::vector<std::string> paletteFallbacks;
    // A palettes folder chosen explicitly (the converter's --palettes); used before all others.
    std::string paletteOverride;
    bool listsFilling = false;
    bool decoderAvailable() const { return decoder_ != nullptr; }

    // ---- Hooks to the window (all optional) ----
    std::function<void(bool busy)> onBusy;  // hourglass on / off
    std::function<void()> onRepaint;        // repaint at once (the batch, after each load)
    std::function<void(const std::string&)> onShowHeader;  // open the header view of a path

    // ---- Start-up (the window's creation sequence, toolkit-free steps) ----
    void startUp();
    // Fills lutChooser / ittChooser from programDirectory/palettes.
    void fillPaletteLists();

    // ---- Thresholds ----
    void computeThresholds();
    void setThresholdMode(int index);
    void lowBarMoved();
    void highBarMoved();
    void applyThresholdEdits();
    void redrawTimerExpired();
    int positionOf(double v) const;
    double valueOf(int p) const;
    // A threshold as edit text with the given number of decimals.
    static std::string ThresholdText(double v, int decimals);

    // ---- Palettes ----
    LutTable buildLutPalette();
    // The folder the palette lists and files come from.
    std::string paletteFolder() const;
    // Every folder looked at for palettes, in the order they are tried.
    std::vector<std::string> paletteSearchFolders() const;
    void loadItt();
    void selectLut(int index);
    void selectItt(int index);

    // ---- Rendering ----
    void renderDisplay();
    void renderWindow();
    void showPicture(const std::string& fileName, const Bitmap& picture);
    void setDisplayControlsEnabled(bool enabled);
    void toggleFlipVertical();
    void toggleFlipHorizontal();
    void orientFromHeader();
    // The preview's size for a window of cols x rows: fitted into the 320 x 240 box with
    // its proportions kept (the rounded side halves to even).
    struct PreviewSize {
        int width = 0;
        int height = 0;
        bool operator==(const PreviewSize&) const = default;
    };
    static PreviewSize PreviewSizeFor(int cols, int rows);

    // ---- Colour bar and captions ----
    void buildColourBar();
    void clearDisplay();
    void showUnsupportedFormat();
    std::string imageCaption() const;

    // ---- Loading ----
    void openFocusedFile();
    void setPlaneText(const std::string& text);
    // Right button on the file list: lists the header of entry `index` (-1: no item there).
    void showHeaderOf(int index);
    void loadSelectedFile();
    // After a read that produced an image: keeps its pixels and statistics as the source,
    // fills the plane texts, sets the thresholds, shows the whole image (through the selected
    // filter, if any) and marks it loaded.
    void showLoadedImage();
    // Lists the header of a FITS or PIC file into headerText. False for other files, and
    // when the listing is refused (the reason is then in image.errorText).
    bool listHeader(const std::string& path);
    // Points the file list at a folder: re-reads its entries with the mask.
    void setFolder(const std::string& folder, const std::string& mask);
    // Selects the entries with these names and focuses the first of them found; the other
    // entries are unselected. False, leaving the list alone, when none is listed.
    bool selectNamedFiles(const std::vector<std::string>& names);
    // The error text for a path given to open that does not exist.
    static std::string MissingPathMessage(const std::string& path);
    void selectAllFiles();  // select all
    void selectNoFiles();   // select none

    // ---- Filters ----
    void applySelectedFilter();  // apply the selected filter
    void restoreUnfiltered();    // restore the image as loaded

    // ---- Pictures ----
    void importPicture(const std::string& path);

    // ---- BMP batch ----
    // Saves every selected entry; returns normally when the batch ran to its end, raises
    // the error that ended it otherwise. No output replaces a file that the batch reads: the
    // selected entries, and otherSources, the files of the same batch outside this list
    // (sorted, as IdentitiesOf gives them).
    void saveSelectedAsBmp(const BatchObserver* observer = nullptr,
                           const std::vector<FileIdentity>& otherSources = {});
    // Destination path of an entry for the destination text (relative to the list's folder).
    std::string destinationPath(const std::string& fileName) const;

    // ---- Zoom and readout ----
    void previewMouseMove(unsigned flags, int x, int y);
    void previewMouseDown(unsigned button, int x, int y);
    void zoomWhole();     // "Zoom 1:1"
    void zoomPrevious();  // "Zoom prec."

  private:
    void applyFilter();
    // True when the zoom window lies inside the pixel array of the current kind.
    bool windowInsideImage() const;
    void clearForFailedLoad();
    void setFlipButtons();
    void redrawIfLoaded();
    void setPreviewSize(int cols, int rows);
    // The image column (row) under preview position x (y), clamped to the image.
    int imageColumnAt(int x) const;
    int imageRowAt(int y) const;

    std::unique_ptr<PictureDecoder> decoder_;
};

}  // namespace pelorin
