#include "base/FileChecks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

#include "base/Paths.h"

namespace pelorin {

namespace {

std::string ReasonFor(const std::string& path, mode_t mode) {
    if (S_ISREG(mode)) return {};
    const char* what = S_ISDIR(mode)                    ? "un dossier"
                       : S_ISFIFO(mode)                 ? "un tube nommé"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "un périphérique"
                       : S_ISSOCK(mode)                 ? "une socket"
                                                        : "un objet spécial";
    return BaseName(path) + " est " + what + ", pas un fichier ordinaire.";
}

// Opens without waiting for a pipe's writer and without making a terminal the controlling
// one; -1 with errno set on failure.
int OpenToJudge(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

}  // namespace

std::string NotRegularFileReason(const std::string& path) {
    const int fd = OpenToJudge(path);
    if (fd < 0) {
        // A socket does not open; anything else that fails is for the reader to report.
        struct stat st {};
        return errno == ENXIO && ::stat(path.c_str(), &st) == 0 ? ReasonFor(path, st.st_mode)
                                                                : std::string();
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    ::close(fd);
    return known ? ReasonFor(path, st.st_mode) : std::string();
}

OpenedFile OpenRegularFile(const std::string& path) {
    OpenedFile f;
    const int fd = OpenToJudge(path);
    if (fd < 0) {
        f.error = errno;
        if (f.error == ENXIO) f.notRegular = NotRegularFileReason(path);
        return f;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        f.error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        f.notRegular = ReasonFor(path, st.st_mode);
        f.directory = S_ISDIR(st.st_mode);
    } else {
        f.size = static_cast<std::uint64_t>(st.st_size);
        // The stream opens the object behind the descriptor, not the path again: whatever
        // the path names by now, what is read is what was judged.
        errno = 0;
        f.stream.open("/proc/self/fd/" + std::to_string(fd), std::ios::binary);
        if (!f.stream) {
            errno = 0;
            f.stream.open(path, std::ios::binary);  // no /proc: the path, at once
        }
        if (!f.stream) f.error = errno != 0 ? errno : EIO;
    }
    ::close(fd);
    return f;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

std::vector<FileIdentity> IdentitiesOf(const std::vector<std::string>& paths) {
    std::vector<FileIdentity> ids;
    for (const std::string& p : paths)
        if (const auto id = IdentityOf(p)) ids.push_back(*id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace pelorin
