// Output files that appear whole or not at all.
#pragma once

#include <ctime>
#include <functional>
#include <ostream>
#include <string>

namespace pelorin {

// Writes a file through a temporary file of its own in the same folder, renamed over `path`
// only once `write` has put everything into the stream without error and the bytes are on
// the disk, so that a reader never sees a half-written file, a power cut never leaves an
// empty one, and a failed write leaves whatever was at `path` untouched. The temporary file
// is created afresh (never through a link or over another file), with the permission bits of
// the file it replaces (those of a new file otherwise). A file without any write permission
// is not replaced. Any failure removes the temporary file and raises
// OperationError("Cannot create file <path>"), followed by the system's reason in brackets
// when there is one.
void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write);

// Removes from `folder` the temporary files of WriteFileAtomically last changed before
// `before` that no writer holds any more: those a run killed at the wrong moment left behind.
void RemoveStaleTemporaryFiles(const std::string& folder, std::time_t before);

// Removes the temporary files this process is writing. Only async-signal-safe calls: for a
// SIGINT or SIGTERM handler, before the process ends.
void RemoveOwnTemporaryFilesForSignal() noexcept;

}  // namespace pelorin
