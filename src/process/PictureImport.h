// Ordinary pictures turned into 8-bit pixel data, so that they can be shown with thresholds
// and palettes like any image.
#pragma once

#include "image/ImageModel.h"
#include "process/Bitmap.h"

namespace pelorin {

// Grey levels of a picture into image.pixels8 with their statistics (thresholds 0..255 in
// the header values). 8-bit pictures give their palette indices; 15/16-bit ones the mean of
// their two bytes; 24-bit ones are three planes (1 red, 2 green, 3 blue, 0 their mean, chosen
// by image.currentPlane, clamped to 0..3); 32-bit ones the mean of their four bytes. 1- and
// 4-bit pictures carry no intensities: image.height stays 0.
void GreyPixelsFromPicture(const Bitmap& picture, ImageState& image);

}  // namespace pelorin
