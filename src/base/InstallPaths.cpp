#include "base/InstallPaths.h"

#include <filesystem>
#include <system_error>

#ifndef PELORIN_LIB_DIR
#define PELORIN_LIB_DIR "/usr/local/lib/pelorin"
#endif
#ifndef PELORIN_LIB_DIR_FROM_BIN
#define PELORIN_LIB_DIR_FROM_BIN "../lib/pelorin"
#endif

namespace pelorin {

std::vector<std::string> CompanionFileCandidates(const std::string& name) {
    namespace fs = std::filesystem;
    std::vector<std::string> candidates;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) {
        candidates.push_back((exe.parent_path() / name).string());
        candidates.push_back(
            (exe.parent_path() / PELORIN_LIB_DIR_FROM_BIN / name).lexically_normal().string());
    }
    candidates.push_back((fs::path(PELORIN_LIB_DIR) / name).string());
    return candidates;
}

}  // namespace pelorin
