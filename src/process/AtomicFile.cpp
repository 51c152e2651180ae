#include "process/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <streambuf>

#include "base/Errors.h"

namespace pelorin {

namespace {

// The names of the temporary files being written, for a signal handler to remove. Each slot
// is taken by one write for its duration; a handler reads only the slots marked in use.
constexpr std::size_t kSlots = 16;
constexpr std::size_t kPathBytes = 4096;
struct TempSlot {
    std::atomic<int> state{0};  // 0 free, 1 taken, 2 naming a file of ours
    char path[kPathBytes];
};
std::array<TempSlot, kSlots> g_tempSlots;

// A slot for one temporary file; none when the path is too long or all are taken (the file
// is then only left behind by a signal, as before).
class TempRegistration {
  public:
    explicit TempRegistration(const std::string& path) {
        if (path.size() >= kPathBytes) return;
        for (TempSlot& s : g_tempSlots) {
            int expected = 0;
            if (s.state.compare_exchange_strong(expected, 1)) {
                std::memcpy(s.path, path.c_str(), path.size() + 1);
                slot_ = &s;
                return;
            }
        }
    }
    void created() {
        if (slot_) slot_->state.store(2);
    }
    ~TempRegistration() {
        if (slot_) slot_->state.store(0);
    }
    TempRegistration(const TempRegistration&) = delete;
    TempRegistration& operator=(const TempRegistration&) = delete;

  private:
    TempSlot* slot_ = nullptr;
};

// A stream buffer straight onto a file descriptor: the writers already gather their bytes
// into large blocks, each goes to the system as one write.
class DescriptorBuffer : public std::streambuf {
  public:
    explicit DescriptorBuffer(int fd) : fd_(fd) {}
    int error() const { return error_; }

  protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        return writeAll(s, static_cast<std::size_t>(n)) ? n : 0;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        return writeAll(&ch, 1) ? c : traits_type::eof();
    }

  private:
    bool writeAll(const char* s, std::size_t n) {
        while (n > 0 && error_ == 0) {
            const ssize_t w = ::write(fd_, s, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                error_ = w < 0 ? errno : EIO;
                break;
            }
            s += w;
            n -= static_cast<std::size_t>(w);
        }
        return error_ == 0;
    }
    int fd_;
    int error_ = 0;
};

bool IsTemporaryName(const char* name) {
    unsigned hex = 0;
    int end = 0;
    return std::strlen(name) == 21 && std::sscanf(name, ".pelorin-%8x.tmp%n", &hex, &end) == 1 &&
           end == 21;
}

}  // namespace

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

    // The file replaced keeps its permission bits. One with no write permission at all was
    // made read-only on purpose: it is not replaced behind its owner's back.
    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (replacing && (old.st_mode & 0222) == 0) fail(EACCES);
    const mode_t mode = replacing ? (old.st_mode & 07777) : 0666;

    // A short name of our own beside the target, so that the final rename stays within one
    // file system and a target name near the length limit still leaves room for it. Created
    // only if nothing has that name, never through a link.
    std::random_device random;
    std::string temp;
    int fd = -1;
    std::unique_ptr<TempRegistration> registration;
    for (int attempt = 0; fd < 0; ++attempt) {
        if (attempt == 100) fail(EEXIST);
        char name[32];
        std::snprintf(name, sizeof name, ".pelorin-%08x.tmp", static_cast<unsigned>(random()));
        temp = (folder.empty() ? fs::path(name) : folder / name).string();
        registration = std::make_unique<TempRegistration>(temp);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) fail(errno);  // nothing was created
    }
    registration->created();
    // Held until the file has its final name: no other run takes it for a leftover.
    ::flock(fd, LOCK_EX);

    auto discard = [&]() {
        ::unlink(temp.c_str());
        ::close(fd);
    };
    int error = 0;
    // The bits asked for at creation went through the umask; a replaced file's are its own.
    if (replacing && ::fchmod(fd, mode) != 0) error = errno;
    if (error == 0) {
        DescriptorBuffer buffer(fd);
        std::ostream out(&buffer);
        try {
            write(out);
        } catch (...) {
            discard();
            throw;
        }
        error = buffer.error();
        if (error == 0 && out.fail()) error = EIO;
    }
    // On the disk before it takes the final name, so that a power cut leaves the old file
    // or the new one, never an empty one.
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        discard();
        fail(error);
    }
    // The new name itself on the disk.
    const std::string folderName = folder.empty() ? std::string(".") : folder.string();
    const int dir = ::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    ::close(fd);  // the bytes are on the disk already
}

void RemoveStaleTemporaryFiles(const std::string& folder, std::time_t before) {
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return;
    const int dirFd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        if (!IsTemporaryName(e->d_name)) continue;
        struct stat st {};
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_mtime >= before)
            continue;
        // A writer holds its file locked until it is renamed: a file nobody holds is a
        // leftover.
        const int fd = ::openat(dirFd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(dirFd, e->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

void RemoveOwnTemporaryFilesForSignal() noexcept {
    for (TempSlot& s : g_tempSlots)
        if (s.state.load() == 2) ::unlink(s.path);
}

}  // namespace pelorin
