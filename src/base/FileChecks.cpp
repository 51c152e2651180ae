#include "base/FileChecks.h"

#include <sys/stat.h>

#include <algorithm>

#include "base/Paths.h"

namespace pelorin {

std::string NotRegularFileReason(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
    const char* what = S_ISDIR(st.st_mode)                          ? "un dossier"
                       : S_ISFIFO(st.st_mode)                       ? "un tube nommé"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "un périphérique"
                       : S_ISSOCK(st.st_mode)                       ? "une socket"
                                                                    : "un objet spécial";
    return BaseName(path) + " est " + what + ", pas un fichier ordinaire.";
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
