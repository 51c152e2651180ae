// Questions about files on disk that every reader and the batch ask the same way.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelorin {

// Why `path` cannot be read as an image: empty when it names a regular file (after following
// links) or nothing at all (the readers report a missing file themselves). A folder, a named
// pipe or a device would make a reader fail obscurely, block forever or read without end.
std::string NotRegularFileReason(const std::string& path);

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
