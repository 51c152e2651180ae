// Questions about files on disk that every reader and the batch ask the same way.
#pragma once

#include <compare>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace pelorin {

// Why `path` cannot be read as an image: empty when it names a regular file (after following
// links) or nothing that opens (the readers report a missing file themselves). A folder, a
// named pipe or a device would make a reader fail obscurely, block forever or read without
// end. The object is judged once opened, without blocking on a pipe or taking a terminal.
std::string NotRegularFileReason(const std::string& path);

// A file opened for reading, judged on the opened object rather than on its path: a path
// swapped for a pipe or a device after an earlier look is still refused, and never blocks.
struct OpenedFile {
    std::ifstream stream;    // open on the very object judged, when it is a regular file
    int error = 0;           // errno of a failed open
    std::string notRegular;  // as NotRegularFileReason, when the object is not a regular file
    bool directory = false;  // the object is a folder
    std::uint64_t size = 0;  // its size in bytes
};
OpenedFile OpenRegularFile(const std::string& path);

// A file as the system knows it, whatever path names it: two paths with the same identity
// are the same file (hard links, symbolic links, "." and ".." all resolved).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};
// The identity of what `path` names after following links; none when nothing is there.
std::optional<FileIdentity> IdentityOf(const std::string& path);
// The identities of the paths that name something, sorted for lookup.
std::vector<FileIdentity> IdentitiesOf(const std::vector<std::string>& paths);

}  // namespace pelorin
