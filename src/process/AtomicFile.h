// Output files that appear whole or not at all.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace pelorin {

// Writes a file through a temporary file of its own in the same folder, renamed over `path`
// only once `write` has put everything into the stream without error, so that a reader never
// sees a half-written file and a failed write leaves whatever was at `path` untouched. Any
// failure removes the temporary file and raises OperationError("Cannot create file <path>"),
// followed by the system's reason in brackets when there is one.
void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write);

}  // namespace pelorin
