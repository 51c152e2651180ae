#include "process/AtomicFile.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "base/Errors.h"

namespace pelorin {

void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.parent_path();
    auto fail = [&]() { throw OperationError("Cannot create file " + path); };

    // A name of our own beside the target, so the final rename stays within one file system.
    std::random_device random;
    fs::path temp;
    std::error_code ec;
    for (int attempt = 0;; ++attempt) {
        if (attempt == 100) fail();
        const std::string name =
            "." + target.filename().string() + "." + std::to_string(random()) + ".tmp";
        temp = folder.empty() ? fs::path(name) : folder / name;
        if (!fs::exists(fs::symlink_status(temp, ec))) break;
    }

    auto discard = [&]() {
        std::error_code ignored;
        fs::remove(temp, ignored);
    };
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        if (!f) fail();  // nothing was created
        try {
            write(f);
        } catch (...) {
            f.close();
            discard();
            throw;
        }
        f.close();
        if (f.fail()) {
            discard();
            fail();
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        discard();
        fail();
    }
}

}  // namespace pelorin
