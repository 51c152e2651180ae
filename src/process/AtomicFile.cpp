#include "process/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "base/Errors.h"

namespace pelorin {

void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.parent_path();
    // The fixed text first, then what the system said, so that "no such folder", "permission
    // denied" or "no space left" can be told apart.
    auto fail = [&](int errorNumber) {
        std::string message = "Cannot create file " + path;
        if (errorNumber != 0) message += " (" + std::string(std::strerror(errorNumber)) + ")";
        throw OperationError(message);
    };

    // A short name of our own beside the target, so that the final rename stays within one
    // file system and a target name near the length limit still leaves room for it.
    std::random_device random;
    fs::path temp;
    std::error_code ec;
    for (int attempt = 0;; ++attempt) {
        if (attempt == 100) fail(EEXIST);
        char name[32];
        std::snprintf(name, sizeof name, ".pelorin-%08x.tmp", static_cast<unsigned>(random()));
        temp = folder.empty() ? fs::path(name) : folder / name;
        if (!fs::exists(fs::symlink_status(temp, ec))) break;
    }

    auto discard = [&]() {
        std::error_code ignored;
        fs::remove(temp, ignored);
    };
    {
        errno = 0;
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        if (!f) fail(errno);  // nothing was created
        int writeError = 0;
        try {
            errno = 0;
            write(f);
            if (!f.fail()) f.flush();  // a full disk shows here at the latest
            if (f.fail()) writeError = errno;
        } catch (...) {
            f.close();
            discard();
            throw;
        }
        errno = 0;
        f.close();
        if (f.fail()) {
            if (writeError == 0) writeError = errno != 0 ? errno : EIO;
            discard();
            fail(writeError);
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        discard();
        fail(ec.value());
    }
}

}  // namespace pelorin
