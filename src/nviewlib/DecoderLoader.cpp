#include "nviewlib/DecoderLoader.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/InstallPaths.h"
#include "nviewlib/nviewlib.h"
#include "process/PictureLimits.h"

namespace pelorin {

namespace {

// The module is somebody else's code as far as this side knows: a picture it hands back is
// checked before it is trusted, and one beyond what a bitmap can sensibly hold is refused.
constexpr std::int64_t kMaxSide = 65535;
constexpr std::int64_t kMaxPixels = static_cast<std::int64_t>(kMaxPicturePixels);

class ModuleDecoder final : public PictureDecoder {
  public:
    ModuleDecoder(NViewLibLoadFn load, NViewLibFreeFn release, NViewLibPingFn ping)
        : load_(load), free_(release), ping_(ping) {}

    Header pictureHeader(const std::string& path) override {
        Header header;
        int w = 0, h = 0;
        const int found = ping_ != nullptr ? ping_(path.c_str(), &w, &h) : 0;
        header.beyondLimits = found == 2;
        if (found == 1 && w > 0 && h > 0) {
            header.sizeKnown = true;
            header.width = static_cast<std::uint64_t>(w);
            header.height = static_cast<std::uint64_t>(h);
        }
        return header;
    }

    bool decode(const std::string& path, Bitmap& out) override {
        struct Release {
            NViewLibFreeFn fn;
            void operator()(NViewPicture* p) const { fn(p); }
        };
        const std::unique_ptr<NViewPicture, Release> picture(load_(path.c_str(), 0),
                                                             Release{free_});
        if (!picture || !Plausible(*picture)) return false;

        const int width = picture->width;
        const int height = picture->height;
        const std::size_t rowBytes = std::size_t{3} * static_cast<std::size_t>(width);
        Bitmap decoded;
        decoded.create(width, height, 24);
        for (int y = 0; y < height; ++y) {
            std::memcpy(decoded.row(y),
                        picture->bits +
                            static_cast<std::size_t>(y) * static_cast<std::size_t>(picture->stride),
                        rowBytes);
        }
        out = std::move(decoded);
        return true;
    }

  private:
    static bool Plausible(const NViewPicture& p) {
        if (p.bits == nullptr || p.width <= 0 || p.height <= 0) return false;
        if (p.width > kMaxSide || p.height > kMaxSide) return false;
        if (std::int64_t{p.width} * p.height > kMaxPixels) return false;
        return std::int64_t{p.stride} >= std::int64_t{3} * p.width;
    }

    NViewLibLoadFn load_;
    NViewLibFreeFn free_;
    NViewLibPingFn ping_;  // may be missing
};

// The module's handle is deliberately never closed: decoders handed out call into it, and
// a picture library is cheap to keep for the life of the process.
std::unique_ptr<PictureDecoder> Open(const std::string& modulePath, std::string* loadedPath) {
    if (modulePath.empty()) return nullptr;
    void* handle = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    auto load = reinterpret_cast<NViewLibLoadFn>(dlsym(handle, "NViewLibLoad"));
    auto release = reinterpret_cast<NViewLibFreeFn>(dlsym(handle, "NViewLibFree"));
    if (load == nullptr || release == nullptr) {
        dlclose(handle);  // no decoder refers to it yet
        return nullptr;
    }
    if (loadedPath != nullptr) {
        *loadedPath = modulePath;
        // A bare name was found by the system's search: tell where.
        Dl_info info{};
        if (modulePath.find('/') == std::string::npos &&
            dladdr(reinterpret_cast<void*>(load), &info) != 0 && info.dli_fname != nullptr) {
            *loadedPath = info.dli_fname;
        }
    }
    auto ping = reinterpret_cast<NViewLibPingFn>(dlsym(handle, "NViewLibPing"));
    return std::make_unique<ModuleDecoder>(load, release, ping);
}

class LazyDecoder final : public PictureDecoder {
  public:
    bool decode(const std::string& path, Bitmap& out) override {
        return module() && module_->decode(path, out);
    }
    // The header is read through the module as well: without it the viewer's size checks
    // would never see a picture's claimed size.
    Header pictureHeader(const std::string& path) override {
        return module() ? module_->pictureHeader(path) : Header{};
    }

  private:
    PictureDecoder* module() {
        if (!tried_) {
            tried_ = true;
            module_ = LoadPictureDecoder();
        }
        return module_.get();
    }
    bool tried_ = false;
    std::unique_ptr<PictureDecoder> module_;
};

}  // namespace

std::unique_ptr<PictureDecoder> LazyPictureDecoder() {
    return std::make_unique<LazyDecoder>();
}

std::vector<std::string> DecoderModuleCandidates() {
    std::vector<std::string> candidates = CompanionFileCandidates(kDecoderModuleName);
    candidates.emplace_back(kDecoderModuleName);  // the system's library search
    return candidates;
}

std::unique_ptr<PictureDecoder> LoadPictureDecoderFrom(const std::string& modulePath) {
    return Open(modulePath, nullptr);
}

std::unique_ptr<PictureDecoder> LoadFirstPictureDecoder(const std::vector<std::string>& candidates,
                                                        std::string* whereFound) {
    for (const std::string& candidate : candidates) {
        if (auto decoder = Open(candidate, whereFound)) return decoder;
    }
    return nullptr;
}

std::unique_ptr<PictureDecoder> LoadPictureDecoder(std::string* whereFound) {
    return LoadFirstPictureDecoder(DecoderModuleCandidates(), whereFound);
}

}  // namespace pelorin
