// A stand-in decoder module for the loader tests: it hands back pictures chosen by the
// file's name, some of them malformed, and counts what it is given back. Built a second
// time without NViewLibFree to play a module that lacks an entry.
#include <cstring>
#include <string>

#include "nviewlib/nviewlib.h"

namespace {

#ifndef FAKE_WITHOUT_FREE
int gFreed = 0;
#endif

NViewPicture* Make(int width, int height, int stride, std::size_t bytes) {
    auto* p = new NViewPicture{width, height, stride, nullptr};
    if (bytes > 0) {
        p->bits = new unsigned char[bytes];
        std::memset(p->bits, 0xEE, bytes);
    }
    return p;
}

}  // namespace

extern "C" {

NVIEWLIB_EXPORT NViewPicture* NViewLibLoad(const char* path, int flags) {
    if (path == nullptr || flags != 0) return nullptr;
    std::string name(path);
    name = name.substr(name.find_last_of('/') + 1);
    if (name == "ok") {
        // 2 x 2 with rows wider than needed: 12 bytes, the last 6 of each not picture.
        NViewPicture* p = Make(2, 2, 12, 24);
        for (int i = 0; i < 6; ++i) {
            p->bits[i] = static_cast<unsigned char>(1 + i);
            p->bits[12 + i] = static_cast<unsigned char>(11 + i);
        }
        return p;
    }
    if (name == "narrow") return Make(2, 2, 4, 8);          // rows shorter than the pixels
    if (name == "empty") return Make(0, 3, 4, 12);          // no columns
    if (name == "nobits") return Make(2, 2, 8, 0);          // no pixel memory
    if (name == "huge") return Make(70000, 1, 210000, 16);  // claims far more than it has
    return nullptr;
}

#ifndef FAKE_WITHOUT_FREE
NVIEWLIB_EXPORT void NViewLibFree(NViewPicture* picture) {
    if (picture == nullptr) return;
    ++gFreed;
    delete[] picture->bits;
    delete picture;
}

NVIEWLIB_EXPORT int FakeFreedCount() {
    return gFreed;
}
#endif

}  // extern "C"
