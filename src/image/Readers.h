// Readers of FITS and PIC images and the header listings of both formats.
//
// A reader that rejects a file leaves image.height at 0 and the reason in
// image.errorText. Errors of the file system ("File not found", "I/O error %d") and numbers
// that do not convert raise OperationError.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>

#include "image/ImageModel.h"

namespace pelorin {

// What the FITS header reader hands back to the data reader besides ImageState.
struct FitsHeaderInfo {
    double blank = 0;  // BLANK value, 0 when the header has none
    // BLANK of 64-bit integer data, read from the text itself: a double cannot hold every
    // such value. None when the header has none or it is no integer.
    std::optional<std::int64_t> blank64;
    std::int64_t dataOffset = 0;  // byte position after the header (blocks read x 2880)
};

// Reads the primary header from `file` (positioned at byte 0), card by card, into image
// (height, width, bscale, bzero, headerHigh, headerLow, bitpix, planeCount, errorText),
// wcs and the flips of zoom. Leaves the stream at the first byte after the header. A header
// that is refused (a rejected card, a file ending before END, no size) leaves height and
// width at 0, whatever order its cards came in; a header without BITPIX in its first block
// stops without a message, its size kept, and the data reader then names the BITPIX.
FitsHeaderInfo ReadFitsHeader(std::istream& file, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                              const MessageWords& words);

// Reads plane image.currentPlane (clamped into 1..planeCount) of a FITS file. Expects every
// pixel array at 1 x 1. Values the file does not hold (it ends inside the plane, or the
// plane lies beyond its end) are stored as 0 and counted as bzero, without being visited.
void ReadFitsImage(const std::string& fileName, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                   const MessageWords& words);
// The same on a stream already open and positioned at the first byte of the file.
void ReadFitsImage(std::istream& file, ImageState& image, WcsInfo& wcs, ZoomWindow& zoom,
                   const MessageWords& words);

// PIC header check: the 290-byte header gives height, width, thresholds and the data kind
// (16 or 32); a wrong data type or length sets image.errorText and leaves height 0.
struct PicHeaderInfo {
    std::int32_t height = 0;
    std::int32_t width = 0;
    double headerHigh = 0;
    double headerLow = 0;
    int kind = 0;
};
PicHeaderInfo ReadPicHeader(std::istream& file, ImageState& image);

// Reads a PIC file: 16-bit integers, or reals rounded half to even into pixels32 (NaN and
// infinities as 0, values beyond the 32-bit range held at its limits) with statistics on the
// unrounded values. Values beyond the end of the file are 0.
void ReadPicImage(const std::string& fileName, ImageState& image);
void ReadPicImage(std::istream& file, ImageState& image);

// Header listings for the header view: every card of every block up to the block holding
// END, or the 24 labelled fields of a PIC header. Lines are the file's bytes
// (Windows-1252). False, with errorText set, when the listing is refused (a FITS file whose
// first block has no SIMPLE keyword); errorText is left alone otherwise. A FITS file that
// ends before END lists what it holds.
bool ListFitsHeader(const std::string& path, HeaderText& text, std::string& errorText,
                    const MessageWords& words);
bool ListPicHeader(const std::string& path, HeaderText& text);
// The same on streams positioned at the first byte of the file.
bool ListFitsHeader(std::istream& file, HeaderText& text, std::string& errorText,
                    const MessageWords& words);
bool ListPicHeader(std::istream& file, HeaderText& text);

}  // namespace pelorin
