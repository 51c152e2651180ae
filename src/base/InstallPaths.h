// Where the program's own companion files (the picture decoder module, the decompression
// helper) are looked for.
#pragma once

#include <string>
#include <vector>

namespace pelorin {

// The places for the companion file `name`, in order: beside the running executable (the
// build tree, or an installed copy in one folder), the installed library folder seen from
// the executable's folder (a package unpacked or installed under another root uses its own
// files), then the library folder the program was installed with.
std::vector<std::string> CompanionFileCandidates(const std::string& name);

}  // namespace pelorin
