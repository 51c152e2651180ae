// Palette (LUT) and intensity table (ITT) files of a palettes folder.
#pragma once

#include <string>
#include <vector>

#include "display/DisplayTypes.h"

namespace pelorin {

// The file `name` + `extension` (".lut" or ".itt") in `folder`, matched without regard to
// case. Empty when there is none.
std::string FindPaletteFile(const std::string& folder, const std::string& name,
                            const std::string& extension);

// The lower-cased names (the file name up to its first ".") of the .lut and .itt files of a
// folder, sorted without regard to case. Hidden files are left out.
void ListPaletteNames(const std::string& folder, std::vector<std::string>& luts,
                      std::vector<std::string>& itts);

// The grey ramp used when no palette file is chosen.
LutTable GreyLut();
// Entry 0 black, entries 1..255 from the file's first 255 lines. Each value is x 255,
// rounded halves to even, and wraps modulo 256. A value that is not a number raises
// OperationError("Invalid numeric input (<path>, ligne <n>)"); a file without any number,
// OperationError("Palette vide : <path>"); a file that cannot be opened, the open error.
LutTable ReadLutFile(const std::string& path);

// The identity table with entry 0 equal to entry 1.
void SetRampItt(IttTable& itt);
// Entries 1..255 from the file's lines, then entry 0 = entry 1; the same number rules as
// ReadLutFile ("Table d'intensité vide : <path>" for a file without any number). On a bad
// number, the entries read before it are kept and the error raised.
void ReadIttFile(const std::string& path, IttTable& itt);

}  // namespace pelorin
