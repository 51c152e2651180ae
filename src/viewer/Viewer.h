// The viewer: the one object that owns the image, its display state and the model of the
// main window's controls, with the handlers of the window's events. The Qt window and the
// command-line converter each create one and drive it; tests create a fresh one per case.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/FileChecks.h"
#include "base/Paths.h"
#include "display/DisplayTypes.h"
#include "image/FileKinds.h"
#include "image/ImageModel.h"
#include "process/Bitmap.h"
#include "process/PictureDecoder.h"
#include "sky/Wcs.h"
#include "viewer/MainWindowModel.h"
#include "viewer/RenderFile.h"
#include "viewer/ZoomNavigation.h"

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
    std::string lowText;      // the Min: and Max: texts it was rendered with (empty when it
    std::string highText;     // has no thresholds: refused, or a picture in its own colours)
    bool rejected = false;    // written as 1 x 1 black: the readers refused it
    bool skipped = false;     // not written (it would replace a source, or a refused file
                              // would replace an existing one)
    std::string reason;       // why it was rejected or skipped
    std::string damage;       // what the file lacks when it is cut short, else empty
};

// The line of a batch's progress window while entry `done` (from 0) of `total` is saved.
std::string BatchProgressText(int done, int total, const std::string& name);

// Called by the batch before and after each selected entry.
struct BatchObserver {
    std::function<void(int done, int total, const std::string& name)> onFileStart;
    std::function<void(const BatchEntryReport&)> onFileDone;
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
    CelestialWcs sky;  // the celestial system of the image shown, read from its cards at load
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
    // A threshold as edit text with the given number of decimals, or, for a value whose
    // fixed-point text is longer than kThresholdTextWidth characters, in general form.
    static std::string ThresholdText(double v, int decimals);
    static constexpr std::size_t kThresholdTextWidth = 12;

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
    // The preview's size for a window of cols x rows: fitted into the box (320 x 240 until
    // the window grows) with its proportions kept (the rounded side halves to even), but
    // never narrower or lower than kPreviewMinSide, so that a thin strip stays visible.
    struct PreviewSize {
        int width = 0;
        int height = 0;
        bool operator==(const PreviewSize&) const = default;
    };
    static PreviewSize PreviewSizeFor(int cols, int rows, int boxWidth = kPreviewBoxWidth,
                                      int boxHeight = kPreviewHeight);
    static constexpr int kPreviewMinSide = 48;

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
    // The status line when files given to open lie outside the folder of the first one,
    // which alone the file list shows.
    static std::string OutsideFolderMessage(const std::string& firstFile,
                                            const std::vector<std::string>& others);
    void selectAllFiles();  // select all
    void selectNoFiles();   // select none

    // ---- Filters ----
    void applySelectedFilter();  // apply the selected filter
    void restoreUnfiltered();    // restore the image as loaded

    // ---- Pictures ----
    void importPicture(const std::string& path);

    // ---- BMP batch ----
    // Saves every selected entry, each rendered by RenderFile with the settings in force
    // when the batch starts; the window shows each file as it is done. Returns normally when
    // the batch ran to its end, raises the error that ended it otherwise. No output replaces
    // a file that the batch reads, nor one that an earlier entry of the batch wrote.
    void saveSelectedAsBmp(const BatchObserver* observer = nullptr);
    // The settings of a rendering as the controls give them now. In mode "fixe" the
    // thresholds of the image on display, when there is one worth keeping.
    RenderSettings renderSettings();
    // Takes over the display state of a rendered file, as if the file had been clicked.
    void showRendering(Viewer& rendered);
    // Destination path of an entry for the destination text (relative to the list's folder).
    std::string destinationPath(const std::string& fileName) const;

    // ---- Zoom and readout ----
    void previewMouseMove(unsigned flags, int x, int y);
    // The readout of the full-size view for the pointer at (x, y) over displayBitmap drawn at
    // pictureWidth x pictureHeight; " " outside it or when nothing is shown.
    std::string fullSizeReadout(int x, int y, int pictureWidth, int pictureHeight) const;
    void previewMouseDown(unsigned button, int x, int y);
    void zoomWhole();     // "Zoom 1:1"
    void zoomPrevious();  // "Zoom prec."

    // ---- Wheel zoom, pan and the preview's box ----
    // The room the window gives the preview: the preview is fitted into it.
    void setPreviewBox(int width, int height);
    // `steps` wheel steps at preview position (x, y): each magnifies by kWheelZoomFactor
    // (negative steps widen) about the image point under the pointer.
    void previewWheel(int steps, int x, int y);
    // A drag that moves the picture with the pointer: pressed at (x, y), then moved.
    void previewPanStart(int x, int y);
    void previewPanMove(int x, int y);
    // '+' and '-' zoom about the window's centre, '0' shows the whole image.
    void previewKey(char key);
    // The shown window as a rectangle.
    ZoomRect shownWindow() const;

  private:
    void applyFilter();
    // True when the zoom window lies inside the pixel array of the current kind.
    bool windowInsideImage() const;
    void clearForFailedLoad();
    void setFlipButtons();
    void redrawIfLoaded();
    void setPreviewSize(int cols, int rows);
    // The readout of the pixel drawn at column bx, row by of displayBitmap: X, Y, the value
    // and, with a celestial coordinate system, the sky position on a second line. Empty
    // outside the window.
    std::string readoutAtBitmapPixel(long long bx, long long by) const;

    // Shows `window` after a wheel step or a pan. The first step of a series keeps the window
    // before it for "Zoom prec."; a series ends when anything else changes the window.
    void navigateTo(const ZoomRect& window);
    void refitPreview();

    std::unique_ptr<PictureDecoder> decoder_;
    ZoomRect navigated_{-1, -1, -1, -1};  // the window the last wheel step or pan showed
    ZoomRect panFrom_;                    // the window when the pan began
    int panX_ = 0, panY_ = 0;             // where it began
    bool panning_ = false;
    // A rendering on its own state (RenderFile) borrows its caller's decoder and tables.
    PictureDecoder* borrowedDecoder_ = nullptr;
    const LutTable* givenLut_ = nullptr;
    std::optional<FixedThresholds> fixedThresholds_;
    PictureDecoder* decoder() const { return decoder_ ? decoder_.get() : borrowedDecoder_; }
    friend RenderedFile RenderFile(const std::string&, const RenderSettings&, PictureDecoder*,
                                   bool);
};

}  // namespace pelorin
