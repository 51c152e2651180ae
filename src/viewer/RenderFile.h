// One file of a batch rendered as the viewer shows it, from settings given in full and on a
// state of its own: the result depends on the file and the settings only, never on the files
// rendered before it or beside it on other threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/DisplayTypes.h"
#include "process/Bitmap.h"
#include "process/PictureDecoder.h"
#include "viewer/MainWindowModel.h"

namespace pelorin {

class Viewer;

// The thresholds that mode "fixe" keeps from one image to the next.
struct FixedThresholds {
    double low = 0;
    double high = 0;
    bool operator==(const FixedThresholds&) const = default;
};

// Everything a rendering depends on besides the file.
struct RenderSettings {
    int mode = kModeHeader;  // threshold mode
    int plane = 0;           // the "Couche" field's number
    LutTable lut{};          // the colour palette
    IttTable itt{};          // the intensity table
    int filter = 0;          // index in FilterNames()
    std::string filterThreshold = "9E99";
    // Mode "fixe": the thresholds every image is shown with. Empty: the image's own (its
    // header's, or its data range), as for the first image shown.
    std::optional<FixedThresholds> fixed;
    PictureColours pictureColours = PictureColours::Adjustable;
    // The output in 24 bits: a BMP's bitmap is handed over in 24 bits; a PNG's stays in its
    // palette and is written as RGB (RenderedFile::trueColour).
    bool force24Bit = false;
    OutputFormat format = OutputFormat::Bmp;
};

enum class RenderStatus {
    Rendered,  // the file's image or picture
    Refused,   // the readers refused it: the bitmap is the 1 x 1 black stand-in
    Failed,    // an error ended the file: nothing to write, the error is in messages
};

struct RenderedFile {
    Bitmap bitmap;            // what the batch writes
    bool trueColour = false;  // a PNG of it is written in RGB whatever its depth
    // The file's bytes when they were encoded beside the rendering (PNG); empty otherwise.
    std::vector<std::uint8_t> fileBytes;
    std::string caption;  // the status caption after the load (the window's status line)
    // The Min: and Max: texts it was rendered with; empty when it has no thresholds (refused,
    // or a picture in its own colours).
    std::string lowText, highText;
    std::string damage;  // what the file lacks when it is cut short, else empty
    RenderStatus status = RenderStatus::Failed;
    std::vector<std::string> messages;  // why it was refused, or the error that ended it
    // Mode "fixe": the thresholds this image was shown with, when another image can keep
    // them (an image with a single value gives none).
    std::optional<FixedThresholds> thresholds;
    // The whole display state of the load, for a window that shows the file afterwards;
    // only with keepView, since it holds the image's pixel arrays.
    std::shared_ptr<Viewer> view;
};

// Renders the file at `path`. Never raises: an error that ends the file comes back as
// RenderStatus::Failed. `decoder` reads ordinary pictures (none: they are refused); a decoder
// is not shared between threads.
RenderedFile RenderFile(const std::string& path, const RenderSettings& settings,
                        PictureDecoder* decoder, bool keepView = false);

// The memory a rendering of the file may take, in bytes, from the size its header claims
// (the pixel array, its filtered copy and the bitmap); from the file's size when the header
// does not tell.
std::uint64_t RenderMemoryClaim(const std::string& path, const RenderSettings& settings);

}  // namespace pelorin
